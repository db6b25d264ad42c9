// The tools' input files: a regular file is read as it is, while "-"
// (standard input), a pipe or a device is first copied into an unnamed
// temporary file, since the codecs need the input's size before they start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compress/stream.h"

namespace vorn::tools {

inline constexpr int64_t kWholeInput = -1;

// Opens IN for reading, as the comment at the top tells; a copy stops after
// limit bytes.
std::unique_ptr<TStream> OpenInput(const std::string& path, int64_t limit = kWholeInput);
// IN is "-", a pipe, a device or a socket: read once, front to back.
bool IsStreamedInput(const std::string& path);

}  // namespace vorn::tools
