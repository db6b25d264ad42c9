// Text from a package, a stream or the command line made safe to print: a
// title or a file name must not move the cursor, retitle the window or
// recolour the terminal.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace vorn::tools {

// Control characters (C0, DEL, and C1 as UTF-8) written as \xNN or \uNNNN;
// everything else as it is.
std::string Printable(std::string_view text);

// Well-formed UTF-8: every byte that begins no well-formed sequence (an
// encoded surrogate, an overlong form, past U+10FFFF, cut short) becomes
// U+FFFD, as JSON readers require.
std::string ValidUtf8(std::string_view text);

}  // namespace vorn::tools

namespace vorn::tools {

// "TOOL: FILE: MESSAGE" on stderr, made printable; returns kExitBadInput.
int ReportFailure(const char* tool, const std::string& file, const std::exception& error);

}  // namespace vorn::tools
