// UTF-8 manifest texts to the single-byte ANSI code page the installer reads.
#pragma once

#include <string>

namespace vorn::pack {

// Raises std::invalid_argument unless codepage names one of the single-byte
// Windows ANSI code pages (874, 1250 to 1258): the installer lowercases and
// splits paths byte by byte, which breaks double-byte text.
void CheckCodePage(const std::string& codepage);

// Converts text to Windows code page `codepage` (such as "1252"). Raises
// std::invalid_argument naming the first character the page cannot hold, or
// a code page CheckCodePage refuses.
std::string ToCodePage(const std::string& utf8, const std::string& codepage);

// Converts code-page text back to UTF-8, for display; bytes the page does
// not define come back as U+FFFD.
std::string FromCodePage(const std::string& text, const std::string& codepage);

// Code-page text with its case folded as Windows folds names (to upper
// case), so that two names Windows takes for one compare equal.
std::wstring FoldedName(const std::string& text, const std::string& codepage);

}  // namespace vorn::pack
