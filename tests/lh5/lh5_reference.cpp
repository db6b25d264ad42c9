#include "tests/lh5/lh5_reference.h"

#include "compress/exceptions.h"
#include "compress/lh5/lh5_constants.h"

namespace vorn::test {

void TBitWriter::Put(int n, uint32_t value) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
}

void TBitWriter::PutAuxLength(int length) {
    if (length < 7) {
        Put(3, static_cast<uint32_t>(length));
        return;
    }
    for (int i = 0; i < length - 4; ++i) Put(1, 1);
    Put(1, 0);
}

Bytes TBitWriter::Data() const {
    test::Bytes out((bits_.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits_.size(); ++i)
        if (bits_[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    return out;
}

namespace {

using namespace lh5;

// One bit at a time from the data; 0 bits past its end.
class TSlowBits {
public:
    explicit TSlowBits(const test::Bytes& data) : data_(data) {}
    int Bit() {
        const size_t byte = pos_ / 8;
        const int bit = byte < data_.size() ? (data_[byte] >> (7 - pos_ % 8)) & 1 : 0;
        ++pos_;
        return bit;
    }
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 1 | static_cast<uint32_t>(Bit());
        return v;
    }

private:
    const test::Bytes& data_;
    size_t pos_ = 0;
};

// A canonical code, decoded one bit at a time.
class TSlowCode {
public:
    // A code that yields one symbol without reading bits.
    static TSlowCode Single(int symbol, int alphabet) {
        if (symbol >= alphabet) throw ELZHBadDecodeTable();
        TSlowCode code;
        code.single_ = symbol;
        return code;
    }
    static TSlowCode FromLengths(const std::vector<int>& lengths) {
        TSlowCode code;
        uint64_t kraft = 0;
        for (int len : lengths) {
            if (len > kMaxCodeLen) throw ELZHBadDecodeTable();
            if (len > 0) kraft += uint64_t{1} << (kMaxCodeLen - len);
        }
        if (kraft != uint64_t{1} << kMaxCodeLen) throw ELZHBadDecodeTable();
        for (int len = 1; len <= kMaxCodeLen; ++len)
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == len) {
                    code.sorted_.push_back(static_cast<int>(s));
                    ++code.count_[len];
                }
        return code;
    }
    // Codes of one length are consecutive numbers, in symbol order, after
    // the codes of all shorter lengths.
    int Decode(TSlowBits& in) const {
        if (single_ >= 0) return single_;
        uint32_t value = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxCodeLen; ++len) {
            value |= static_cast<uint32_t>(in.Bit());
            if (value - first < count_[len]) return sorted_[index + value - first];
            index += count_[len];
            first = (first + count_[len]) << 1;
            value <<= 1;
        }
        throw ELZHBadDecodeTable();  // unreachable for a complete code
    }

private:
    uint32_t count_[kMaxCodeLen + 1] = {};
    std::vector<int> sorted_;
    int single_ = -1;
};

TSlowCode ReadAuxCode(TSlowBits& in, int count, int width, int special, std::vector<int>& lengths) {
    const int n = static_cast<int>(in.Get(width));
    lengths.assign(count, 0);
    if (n == 0) return TSlowCode::Single(static_cast<int>(in.Get(width)), count);
    std::vector<int> read;
    while (static_cast<int>(read.size()) < n) {
        int len = static_cast<int>(in.Get(3));
        if (len == 7)
            while (len < 20 && in.Bit() == 1) ++len;
        if (len == 20) in.Bit();  // the 17th bit of the longest field is consumed unseen
        read.push_back(len);
        if (static_cast<int>(read.size()) == special)
            for (uint32_t run = in.Get(2); run > 0; --run) read.push_back(0);
    }
    for (int i = 0; i < count && i < static_cast<int>(read.size()); ++i) lengths[i] = read[i];
    return TSlowCode::FromLengths(lengths);
}

TSlowCode ReadCharCode(TSlowBits& in, const TSlowCode& lenCode, TBlockTrace& block) {
    const int n = static_cast<int>(in.Get(kCharCountBits));
    block.CharLengths.assign(kCharAlphabet, 0);
    if (n == 0) {
        block.CharSingle = static_cast<int>(in.Get(kCharCountBits));
        return TSlowCode::Single(block.CharSingle, kCharAlphabet);
    }
    int i = 0;
    while (i < n) {
        const int t = lenCode.Decode(in);
        block.LenItems.push_back(t);
        int run = 0;
        if (t == 0) run = 1;
        if (t == 1) run = static_cast<int>(in.Get(4)) + 3;
        if (t == 2) run = static_cast<int>(in.Get(9)) + 20;
        if (run == 0) {
            if (i < kCharAlphabet) block.CharLengths[i] = t - 2;
            ++i;
        } else {
            if (i + run > kCharAlphabet + 1) throw ELZHBadDecodeTable();
            i += run;
        }
    }
    return TSlowCode::FromLengths(block.CharLengths);
}

}  // namespace

Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize, TReferenceTrace* trace) {
    TReferenceTrace local;
    TReferenceTrace& t = trace ? *trace : local;
    Bytes out;
    if (uncompressedSize <= 0) return out;
    TSlowBits in(codecData);
    std::vector<uint8_t> window(kWindowSize, kInitialWindowByte);
    size_t pos = 0;
    uint32_t left = 0;
    TSlowCode charCode, distCode;
    while (static_cast<int64_t>(out.size()) < uncompressedSize) {
        if (left == 0) {
            TBlockTrace block;
            block.Count = in.Get(16);
            left = block.Count == 0 ? 65536 : block.Count;
            const TSlowCode lenCode = ReadAuxCode(in, kLenAlphabet, 5, 3, block.LenLengths);
            charCode = ReadCharCode(in, lenCode, block);
            distCode = ReadAuxCode(in, kDistAlphabet, 4, -1, block.DistLengths);
            t.Blocks.push_back(block);
        }
        --left;
        const int c = charCode.Decode(in);
        if (c < 256) {
            t.Symbols.push_back({c, -1});
            window[pos++ % kWindowSize] = static_cast<uint8_t>(c);
            out.push_back(static_cast<uint8_t>(c));
            continue;
        }
        const int cls = distCode.Decode(in);
        const int distance = cls <= 1 ? cls : (1 << (cls - 1)) + static_cast<int>(in.Get(cls - 1));
        t.Symbols.push_back({c, distance});
        size_t from = pos + kWindowSize - static_cast<size_t>(distance) - 1;
        for (int k = 0; k < c - 253; ++k) {
            const uint8_t b = window[from++ % kWindowSize];
            window[pos++ % kWindowSize] = b;
            out.push_back(b);
        }
    }
    return out;
}

}  // namespace vorn::test
