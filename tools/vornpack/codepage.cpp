#include "tools/vornpack/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace vorn::pack {

namespace {

struct Converter {
    Converter(const std::string& to, const std::string& from) : cd(iconv_open(to.c_str(), from.c_str())) {
        if (cd == reinterpret_cast<iconv_t>(-1))
            throw std::invalid_argument("unknown code page " + (to == "UTF-8" ? from : to));
    }
    ~Converter() { iconv_close(cd); }
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

}  // namespace

std::string ToCodePage(const std::string& utf8, const std::string& codepage) {
    Converter conv("CP" + codepage, "UTF-8");
    std::string out(utf8.size(), '\0');  // never longer than the UTF-8 text
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(conv.cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        if (errno == EILSEQ && inLeft > 0)
            throw std::invalid_argument("\"" + CharacterAt(in, inLeft) + "\" has no place in code page " +
                                        codepage);
        throw std::invalid_argument("text is not valid UTF-8");
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string FromCodePage(const std::string& text, const std::string& codepage) {
    Converter conv("UTF-8", "CP" + codepage);
    std::string out;
    for (char c : text) {
        char* in = &c;
        size_t inLeft = 1;
        char buf[8];
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        if (iconv(conv.cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
            out += "\xEF\xBF\xBD";
        else
            out.append(buf, sizeof buf - outLeft);
    }
    return out;
}

}  // namespace vorn::pack
