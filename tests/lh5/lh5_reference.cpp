#include "tests/lh5/lh5_reference.h"

#include <vector>

#include "compress/exceptions.h"
#include "compress/lh5/lh5_constants.h"

namespace vorn::test {
namespace {

using namespace lh5;

struct TSlowBits {
    const Bytes& Data;
    size_t Pos = 0;
    int Get(int n) {
        int v = 0;
        for (int i = 0; i < n; ++i, ++Pos) v = v << 1 | (Pos / 8 < Data.size() && (Data[Pos / 8] >> (7 - Pos % 8) & 1));
        return v;
    }
};

// A canonical code: codes of one length are consecutive numbers, in symbol
// order, after the codes of all shorter lengths. A single symbol reads no bits.
struct TSlowCode {
    std::vector<std::vector<int>> ByLength;  // the symbols of each length, in order
    int Single = -1;

    static TSlowCode Of(int symbol, int alphabet) {
        if (symbol >= alphabet) throw ELZHBadDecodeTable();
        return {{}, symbol};
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
        size_t value = 0, first = 0;  // the code read so far, the first code of its length
        for (size_t len = 1;; ++len, first <<= 1) {
            value = value << 1 | static_cast<size_t>(in.Get(1));
            if (value - first < ByLength[len].size()) return ByLength[len][value - first];
            first += ByLength[len].size();
        }
    }
};

// The code-length table (special 3: a 2-bit zero run follows the third
// length) or the distance table.
TSlowCode ReadAuxCode(TSlowBits& in, int count, int width, int special) {
    const int n = in.Get(width);
    if (n == 0) return TSlowCode::Of(in.Get(width), count);
    std::vector<int> lengths;
    while (static_cast<int>(lengths.size()) < n) {
        int len = in.Get(3);
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
    const int n = in.Get(kCharCountBits);
    if (n == 0) return TSlowCode::Of(in.Get(kCharCountBits), kCharAlphabet);
    std::vector<int> lengths;
    while (static_cast<int>(lengths.size()) < n) {
        const int t = lenCode.Decode(in);
        const int run = t == 0 ? 1 : t == 1 ? in.Get(4) + 3 : t == 2 ? in.Get(9) + 20 : 0;
        if (static_cast<int>(lengths.size()) + run > kCharAlphabet + 1) throw ELZHBadDecodeTable();
        lengths.resize(lengths.size() + static_cast<size_t>(run), 0);
        if (run == 0) lengths.push_back(t - 2);
    }
    lengths.resize(kCharAlphabet);
    return TSlowCode::Of(lengths);
}

}  // namespace

Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize) {
    TSlowBits in{codecData};
    Bytes out(kWindowSize, kInitialWindowByte);  // the initial window, then the output
    const size_t end = kWindowSize + static_cast<size_t>(std::max(uncompressedSize, 0));
    TSlowCode charCode, distCode;
    for (int left = 0; out.size() < end; --left) {
        if (left == 0) {
            if ((left = in.Get(16)) == 0) left = 65536;
            charCode = ReadCharCode(in, ReadAuxCode(in, kLenAlphabet, 5, 3));
            distCode = ReadAuxCode(in, kDistAlphabet, 4, -1);
        }
        const int c = charCode.Decode(in);
        if (c < 256) {
            out.push_back(static_cast<uint8_t>(c));
            continue;
        }
        const int cls = distCode.Decode(in);
        const size_t distance = static_cast<size_t>(cls <= 1 ? cls : (1 << (cls - 1)) + in.Get(cls - 1));
        for (int k = 0; k < c - 253; ++k) out.push_back(out[out.size() - distance - 1]);
    }
    return Bytes(out.begin() + kWindowSize, out.end());
}

}  // namespace vorn::test
