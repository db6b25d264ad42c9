#include "tools/common/terminal_text.h"

#include <algorithm>
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

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed sequence at text[at], 0 for none. The lead
// byte bounds the second one: that rules out overlong forms, surrogates
// (ED A0..BF) and code points past U+10FFFF.
size_t SequenceLength(std::string_view text, size_t at) {
    auto byte = [&](size_t k) { return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u; };
    const unsigned lead = byte(0);
    if (lead < 0x80) return 1;
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = SequenceLength(text, at);
        if (length > 0) out.append(text.substr(at, length));
        else out += kReplacement;
        at += std::max<size_t>(length, 1);
    }
    return out;
}

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
