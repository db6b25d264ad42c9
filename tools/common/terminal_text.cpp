#include "tools/common/terminal_text.h"

#include <cstdio>

#include "tools/common/exit_code.h"

namespace vorn::tools {

namespace {

constexpr unsigned char kUtf8C1Lead = 0xC2;  // U+0080..U+009F are C2 80..C2 9F

bool IsC1Tail(unsigned char b) { return b >= 0x80 && b <= 0x9F; }

std::string Escaped(const char* format, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) {
            out += Escaped("\\x%02X", b);
        } else if (b == kUtf8C1Lead && i + 1 < text.size() && IsC1Tail(static_cast<unsigned char>(text[i + 1]))) {
            out += Escaped("\\u%04X", static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

int ReportFailure(const char* tool, const std::string& file, const std::exception& error) {
    std::fprintf(stderr, "%s: %s: %s\n", tool, Printable(file).c_str(), Printable(error.what()).c_str());
    return kExitBadInput;
}

}  // namespace vorn::tools
