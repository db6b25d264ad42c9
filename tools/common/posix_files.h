// What the tools' output and input files share: the error of a failed
// system call, and the unnamed temporary file.
#pragma once

#include <memory>
#include <string>

#include "compress/stream.h"

namespace vorn::tools {

// EStreamError naming the file, with the system's reason.
[[noreturn]] void FailOn(const char* what, const std::string& path);

// An unnamed file in the temporary folder: nothing is left to remove.
std::unique_ptr<TStream> OpenStaging();

}  // namespace vorn::tools
