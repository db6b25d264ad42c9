// The LZH expander: a word-wide bit window, one walk down the code tree per
// symbol, and a text buffer in a line in place of the ring, handed to the
// engine a stretch at a time.
#include <algorithm>
#include <cstring>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_model.h"
#include "compress/lzh/lzh_prefix_table.h"

namespace vorn {

using namespace lzh;

namespace {

// Eight bytes, the first at the top; compilers make this one load and a
// byte swap.
inline uint64_t LoadBigEndian64(const TOctet* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | static_cast<uint8_t>(p[i]);
    return v;
}

// No symbol with its position takes more than 40 bits: the tree keeps its
// slots ordered by weight with siblings side by side, so it is a Huffman
// tree of weights below 2^15 and no code is longer than 22 bits; a
// position takes at most 14.
constexpr int kSymbolBits = 40;

// Up to 64 bits of codec data ahead of the decoder, the earliest at bit 63.
// Past the end of the source every bit reads as 0; once SourceExhausted is
// set the engine is not asked again. The decoder has run past the end once
// it has taken a bit of the window's own making.
struct TLzhBitWindow {
    uint64_t Window = 0;
    int Empty = 64;  // bits at the bottom of Window that hold no data yet
    int MadeUp = 0;  // zero bits put in past the end of the source

    // Leaves at least kSymbolBits bits. Eight bytes are loaded at once while
    // the input block holds them; the window takes the whole bytes that fit,
    // exactly as many as the byte path takes, and the bits of the next byte
    // below them are the same that it will put there. False once the
    // decoder has run past the end.
    bool TopUp(TCodecState& s) {
        if (Empty <= 64 - kSymbolBits) return !Overran();
        if (InputStretch(s) >= 8) [[likely]] {
            Window |= LoadBigEndian64(s.InPos) >> (64 - Empty);
            TakeInput(s, static_cast<size_t>(Empty >> 3));
            Empty &= 7;
            return true;
        }
        while (Empty >= 8) Put(s);
        return !Overran();
    }
    void Put(TCodecState& s) {
        const uint64_t b = s.SourceExhausted ? 0 : ReadSourceByte(s);
        Empty -= 8;
        Window |= b << Empty;
        if (s.SourceExhausted) [[unlikely]]
            MadeUp += 8;
    }
    bool Overran() const { return 64 - Empty < MadeUp; }
    // n from 1 to 32, at most the bits held.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(Window >> (64 - n)); }
    void Skip(int n) {
        Window <<= n;
        Empty += n;
    }
};

// Takes the top of the walk from the table and the rest bit by bit, noting
// the slots on the way for the update; keeps the table in step with it.
inline uint16_t LzhDecodeSymbol(TLzhState& z, TLzhBitWindow& in, TLzhPrefixTable& table, int16_t* path) {
    const int16_t* child = z.HuffChild.get();
    const TLzhPrefixEntry& top = table.Lookup(static_cast<int>(in.Peek(kPrefixBits)));
    in.Skip(top.Used);
    std::memcpy(path, top.Path, sizeof top.Path);
    int depth = top.Used + 1;
    int slot = top.Path[top.Used];
    int c = child[slot];
    while (c < kLeafBase) {
        slot = c + static_cast<int>(in.Peek(1));
        in.Skip(1);
        path[depth++] = static_cast<int16_t>(slot);
        c = child[slot];
    }
    const auto symbol = static_cast<uint16_t>(c - kLeafBase);
    const bool rebuilt =
        LzhUpdateModelAlong(z, symbol, path, depth, [&](int a, int b) { table.Exchanged(z, a, b); });
    if (rebuilt) table.Build(z);
    return symbol;
}

// The first 8 bits name u and the length of its code; the 6 bits after the
// code are the low bits of the distance.
inline uint32_t LzhDecodePosition(TLzhBitWindow& in) {
    const uint32_t bits = in.Peek(8 + kPosLowBits);
    const int b = static_cast<int>(bits >> kPosLowBits);
    const int n = kByteLen[b];
    in.Skip(n + kPosLowBits);
    return static_cast<uint32_t>(kBytePos[b]) << kPosLowBits | (bits >> (8 - n) & (kPosSlots - 1));
}

// A symbol starts below kSlideAt, so a match and the 15 bytes that its copy
// may write past itself stay inside the text buffer.
constexpr int kSlideAt = kExpandBufSize - kMaxMatch - 16;

// Copies a match of `length` bytes from `distance` + 1 bytes back. Writes
// up to 15 bytes past the match, which the text buffer leaves room for:
// they are overwritten before they count.
inline void CopyMatch(TOctet* to, uint32_t distance, uint32_t length) {
    const TOctet* from = to - distance - 1;
    TOctet* const end = to + length;
    if (distance >= 15) [[likely]] {  // 16-byte pieces never overlap
        do {
            std::memcpy(to, from, 16);
            to += 16;
            from += 16;
        } while (to < end);
    } else if (distance >= 7) {
        do {
            std::memcpy(to, from, 8);
            to += 8;
            from += 8;
        } while (to < end);
    } else if (distance == 0) {
        std::memset(to, static_cast<int>(*from), length);
    } else {
        do *to++ = *from++;
        while (to < end);
    }
}

// Hands decoded bytes to the engine: straight into the output buffer as far
// as it has room, one byte through the slow path when it is full (or when a
// key wants every byte).
void Deliver(TCodecState& s, const TOctet* from, const TOctet* to) {
    while (from < to) {
        const size_t n = std::min(OutputStretch(s), static_cast<size_t>(to - from));
        if (n == 0) {
            WriteDestByte(s, static_cast<uint8_t>(*from++));
            continue;
        }
        std::memcpy(s.OutPos, from, n);
        CommitOutput(s, n);
        from += n;
    }
}

class TLzhExpander {
public:
    explicit TLzhExpander(TCodecState& s) : s_(s), z_(s.Lzh), text_(s.Lzh.TextBuf.get()) {}

    // Every symbol takes at least one bit, so zero bits would decode on to
    // any size: stops after the first symbol that took one.
    void Run(int32_t uncompressedSize) {
        // The ring's history in a line: the byte before the first coded
        // position at its end. Only damaged data reads the look-ahead
        // positions before writing them; fixed content keeps even that
        // output reproducible.
        std::fill_n(text_, kMaxMatch, TOctet{kUnsetFill});
        std::fill(text_ + kMaxMatch, text_ + kRingSize, TOctet{kRingFill});
        LzhStartModel(z_);
        table_.Build(z_);
        while (done_ < uncompressedSize && !overran_) DecodeSymbols(uncompressedSize);
        if (overran_) s_.ReadPastEnd = true;
    }

private:
    // Symbols until the output is complete, the decoder has run past the
    // end or the text buffer is full; then the engine gets them in one piece.
    void DecodeSymbols(int32_t uncompressedSize) {
        TLzhBitWindow in = in_;
        TOctet* const start = text_ + pos_;
        TOctet* out = start;
        TOctet* const limit = start + std::min<int64_t>(uncompressedSize - done_, kSlideAt - pos_);
        while (out < limit) {
            if (!in.TopUp(s_)) [[unlikely]] {
                overran_ = true;
                break;
            }
            const int c = LzhDecodeSymbol(z_, in, table_, path_);
            if (c < 256) {
                *out++ = TOctet{static_cast<uint8_t>(c)};
                continue;
            }
            const uint32_t length = static_cast<uint32_t>(c - kMatchSymbolBase);
            CopyMatch(out, LzhDecodePosition(in), length);
            out += length;
        }
        // The last symbol may have taken a made-up bit.
        if (in.Overran()) overran_ = true;
        Deliver(s_, start, out);
        in_ = in;
        pos_ = static_cast<int>(out - text_);
        done_ += out - start;
        if (pos_ >= kSlideAt) Slide();
    }

    // Keeps the last 4,096 bytes as history at the start of the text.
    void Slide() {
        std::memmove(text_, text_ + pos_ - kRingSize, kRingSize);
        pos_ = kRingSize;
    }

    TCodecState& s_;
    TLzhState& z_;
    TOctet* const text_;
    TLzhBitWindow in_;
    TLzhPrefixTable table_;
    int16_t path_[kMaxPath];
    int pos_ = kRingSize;  // in the text, after the history
    int64_t done_ = 0;       // a damaged last match may carry it past the size
    bool overran_ = false;
};

}  // namespace

void LzhExpand(TCodecState& s, int32_t uncompressedSize) {
    if (uncompressedSize <= 0) return;
    TLzhArrays arrays(s.Lzh, Direction::Expand);
    TLzhExpander(s).Run(uncompressedSize);
}

}  // namespace vorn
