#include "tools/vornpack/manifest/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>
#include <string_view>

namespace vorn::pack {

namespace {

constexpr std::array<std::string_view, 10> kSingleByteCodePages = {"874",  "1250", "1251", "1252", "1253",
                                                                    "1254", "1255", "1256", "1257", "1258"};
constexpr std::array<std::string_view, 4> kDoubleByteCodePages = {"932", "936", "949", "950"};
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct TConverter {
    TConverter(const std::string& to, const std::string& from) : cd(iconv_open(to.c_str(), from.c_str())) {
        if (cd == reinterpret_cast<iconv_t>(-1))
            throw std::invalid_argument("this system cannot convert code page " + (to == "UTF-8" ? from : to));
    }
    ~TConverter() { iconv_close(cd); }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;
    iconv_t cd;
};

// The UTF-8 sequence starting at p, for naming it in a message.
std::string CharacterAt(const char* p, size_t left) {
    size_t n = 1;
    unsigned char lead = static_cast<unsigned char>(*p);
    if (lead >= 0xF0) n = 4;
    else if (lead >= 0xE0) n = 3;
    else if (lead >= 0xC0) n = 2;
    return std::string(p, std::min(n, left));
}

// Converts the whole text in one call. A sequence the source cannot decode
// stops it with std::invalid_argument, unless `undecodable` is given: then
// that replaces the byte and the conversion goes on behind it.
std::string Convert(const std::string& text, const std::string& to, const std::string& from,
                    const std::string& codepage, const std::string* undecodable = nullptr) {
    TConverter conv(to, from);
    std::string out(text.size() * 4 + 4, '\0');  // room for the widest character of every byte
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (iconv(conv.cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        if (undecodable && (errno == EILSEQ || errno == EINVAL) && outLeft >= undecodable->size()) {
            outPtr = std::copy(undecodable->begin(), undecodable->end(), outPtr);
            outLeft -= undecodable->size();
            ++in;
            --inLeft;
        } else if (errno == EILSEQ && inLeft > 0 && from == "UTF-8") {
            throw std::invalid_argument("\"" + CharacterAt(in, inLeft) + "\" has no place in code page " + codepage);
        } else {
            throw std::invalid_argument("text is not valid UTF-8");
        }
    }
    iconv(conv.cd, nullptr, nullptr, &outPtr, &outLeft);  // what a stateful page (1258) still holds
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

void CheckCodePage(const std::string& codepage) {
    auto among = [&](const auto& pages) { return std::find(pages.begin(), pages.end(), codepage) != pages.end(); };
    if (among(kSingleByteCodePages)) return;
    if (among(kDoubleByteCodePages))
        throw std::invalid_argument("code page " + codepage +
                                    " is a double-byte code page; the installer lowercases and splits paths byte "
                                    "by byte, so only the single-byte code pages 874 and 1250 to 1258 can be used");
    throw std::invalid_argument("unknown code page " + codepage +
                                "; the installer reads the single-byte Windows code pages 874 and 1250 to 1258");
}

std::string ToCodePage(const std::string& utf8, const std::string& codepage) {
    CheckCodePage(codepage);
    return Convert(utf8, "CP" + codepage, "UTF-8", codepage);
}

std::string FromCodePage(const std::string& text, const std::string& codepage) {
    CheckCodePage(codepage);
    const std::string replacement(kReplacementCharacter);
    return Convert(text, "UTF-8", "CP" + codepage, codepage, &replacement);
}

std::wstring FoldedName(const std::string& text, const std::string& codepage) {
    CheckCodePage(codepage);
    const std::string replacement(sizeof(wchar_t), '\0');  // no name holds it
    const std::string wide = Convert(text, "WCHAR_T", "CP" + codepage, codepage, &replacement);
    std::wstring folded(wide.size() / sizeof(wchar_t), L'\0');
    std::copy(wide.begin(), wide.end(), reinterpret_cast<char*>(folded.data()));
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    for (wchar_t& c : folded) c = unicode ? towupper_l(static_cast<wint_t>(c), unicode) : towupper(static_cast<wint_t>(c));
    return folded;
}

}  // namespace vorn::pack
