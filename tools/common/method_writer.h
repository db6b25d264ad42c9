// Writing a stream with a method the tools know by name: a built-in one
// through the component, LZMA through its own writer.
#pragma once

#include <string>
#include <vector>

#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace vorn::tools {

// The names of the methods the tools write, in the table's order.
std::vector<std::string> WritableMethodNames();

// Only LZMA, the custom method the tools write, has levels.
constexpr bool HasLevels(const TMethodIdentity& method) { return method.Index == kMethodCustom; }

// A whole stream of the source, from its position, with the method (a row
// of kMethodTable that compresses); level is LZMA's, which also takes the
// x86 branch filter for x86 programs.
TCompressResult CompressWith(TVornCodec& codec, TStream& dest, TStream& source, const TMethodIdentity& method,
                             int level);

}  // namespace vorn::tools
