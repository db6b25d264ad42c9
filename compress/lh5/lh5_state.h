// Working fields of the LH5 codec inside TCodecState.
#pragma once

namespace vorn {

struct TLh5State {};

}  // namespace vorn
