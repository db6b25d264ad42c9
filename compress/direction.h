// Which way a codec run goes.
#pragma once

namespace vorn {

enum class Direction { Expand, Compress };

}  // namespace vorn
