// Working fields of the LZH codec inside TCodecState.
#pragma once

namespace vorn {

struct TLzhState {};

}  // namespace vorn
