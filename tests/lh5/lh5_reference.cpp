#include "tests/lh5/lh5_reference.h"

#include <vector>

#include "compress/exceptions.h"
#include "compress/lh5/lh5_constants.h"

namespace vorn::test {
namespace {

using namespace lh5;

class TSlowBits {
public:
    explicit TSlowBits(const Bytes& data) : data_(data) {}
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_)
            v = v << 1 | (pos_ / 8 < data_.size() && (data_[pos_ / 8] >> (7 - pos_ % 8) & 1));
        return v;
    }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

// A canonical code: codes of one length are consecutive numbers, in symbol
// order, after the codes of all shorter lengths. A single symbol reads no bits.
struct TSlowCode {
    std::vector<std::vector<int>> ByLength;  // the symbols of each length, in order
    int Single = -1;

    static TSlowCode Of(uint32_t symbol, int alphabet) {
        if (symbol >= static_cast<uint32_t>(alphabet)) throw ELZHBadDecodeTable();
        return {{}, static_cast<int>(symbol)};
    }
    static TSlowCode Of(const std::vector<int>& lengths) {
        TSlowCode code{std::vector<std::vector<int>>(kMaxCodeLen + 1)};
        uint64_t kraft = 0;
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] > kMaxCodeLen) throw ELZHBadDecodeTable();
            if (lengths[s] == 0) continue;
            kraft += uint64_t{1} << (kMaxCodeLen - lengths[s]);
            code.ByLength[static_cast<size_t>(lengths[s])].push_back(static_cast<int>(s));
        }
        if (kraft != uint64_t{1} << kMaxCodeLen) throw ELZHBadDecodeTable();
        return code;
    }
    int Decode(TSlowBits& in) const {
        if (Single >= 0) return Single;
        uint32_t value = 0, first = 0;  // the code read so far, the first code of its length
        for (size_t len = 1;; ++len) {
            value = value << 1 | in.Get(1);
            if (value - first < ByLength[len].size()) return ByLength[len][value - first];
            first = (first + static_cast<uint32_t>(ByLength[len].size())) << 1;
        }
    }
};

// The code-length table (special 3: a 2-bit zero run follows the third
// length) or the distance table.
TSlowCode ReadAuxCode(TSlowBits& in, int count, int width, int special) {
    const int n = static_cast<int>(in.Get(width));
    if (n == 0) return TSlowCode::Of(in.Get(width), count);
    std::vector<int> lengths;
    while (static_cast<int>(lengths.size()) < n) {
        int len = static_cast<int>(in.Get(3));
        if (len == 7)
            while (len < 20 && in.Get(1) == 1) ++len;
        if (len == 20) in.Get(1);  // the 17th bit of the longest field is consumed unseen
        lengths.push_back(len);
        if (static_cast<int>(lengths.size()) == special) lengths.resize(lengths.size() + in.Get(2), 0);
    }
    lengths.resize(static_cast<size_t>(count));
    return TSlowCode::Of(lengths);
}

// Code-length symbols 0, 1 and 2 are runs of 1, 3..18 and 20..531 zeros;
// symbol t > 2 is length t - 2.
TSlowCode ReadCharCode(TSlowBits& in, const TSlowCode& lenCode) {
    const int n = static_cast<int>(in.Get(kCharCountBits));
    if (n == 0) return TSlowCode::Of(in.Get(kCharCountBits), kCharAlphabet);
    std::vector<int> lengths;
    while (static_cast<int>(lengths.size()) < n) {
        const int t = lenCode.Decode(in);
        const int run = t == 0   ? 1
                        : t == 1 ? static_cast<int>(in.Get(4)) + 3
                        : t == 2 ? static_cast<int>(in.Get(9)) + 20
                                 : 0;
        if (static_cast<int>(lengths.size()) + run > kCharAlphabet + 1) throw ELZHBadDecodeTable();
        lengths.resize(lengths.size() + static_cast<size_t>(run), 0);
        if (run == 0) lengths.push_back(t - 2);
    }
    lengths.resize(kCharAlphabet);
    return TSlowCode::Of(lengths);
}

}  // namespace

Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize) {
    TSlowBits in(codecData);
    Bytes out(kWindowSize, kInitialWindowByte);  // the initial window, then the output
    const size_t end = kWindowSize + static_cast<size_t>(std::max(uncompressedSize, 0));
    uint32_t left = 0;
    TSlowCode charCode, distCode;
    while (out.size() < end) {
        if (left == 0) {
            left = in.Get(16);
            if (left == 0) left = 65536;
            const TSlowCode lenCode = ReadAuxCode(in, kLenAlphabet, 5, 3);
            charCode = ReadCharCode(in, lenCode);
            distCode = ReadAuxCode(in, kDistAlphabet, 4, -1);
        }
        --left;
        const int c = charCode.Decode(in);
        if (c < 256) {
            out.push_back(static_cast<uint8_t>(c));
            continue;
        }
        const int cls = distCode.Decode(in);
        const int distance = cls <= 1 ? cls : (1 << (cls - 1)) + static_cast<int>(in.Get(cls - 1));
        for (int k = 0; k < c - 253; ++k) out.push_back(out[out.size() - static_cast<size_t>(distance) - 1]);
    }
    return Bytes(out.begin() + kWindowSize, out.end());
}

}  // namespace vorn::test
