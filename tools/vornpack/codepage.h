// UTF-8 manifest texts to the single-byte ANSI code page the installer reads.
#pragma once

#include <string>

namespace vorn::pack {

// Converts text to Windows code page `codepage` (such as "1252"). Raises
// std::invalid_argument naming the first character the page cannot hold, or
// an unknown code page.
std::string ToCodePage(const std::string& utf8, const std::string& codepage);

// Converts code-page text back to UTF-8, for display; bytes the page does
// not define come back as U+FFFD.
std::string FromCodePage(const std::string& text, const std::string& codepage);

}  // namespace vorn::pack
