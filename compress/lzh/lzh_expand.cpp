// The LZH expander: a word-wide bit window, one walk down the code tree per
// symbol, and a text buffer in a line in place of the ring, handed to the
// engine a stretch at a time.
#include <algorithm>
#include <cstring>

#include "compress/expand_text.h"
#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_model.h"
#include "compress/lzh/lzh_prefix_table.h"

namespace vorn {

using namespace lzh;

namespace {

// No symbol with its position takes more than kSymbolBits: the tree keeps
// its slots ordered by weight with siblings side by side, so it is a
// Huffman tree of weights below 2^15 and no code is longer than 22 bits; a
// position takes at most 14.
constexpr int kMaxSymbolCodeBits = 22;
constexpr int kMaxPositionBits = 14;
constexpr int kSymbolBits = 40;
static_assert(kMaxSymbolCodeBits + kMaxPositionBits <= kSymbolBits);
static_assert(kSymbolBits <= TBitWindow::kFilledBits);

// The window, topped up only when a symbol and its position might not fit.
struct TLzhBitWindow : TBitWindow {
    bool TopUp(TCodecState& s) { return Empty <= 64 - kSymbolBits ? !Overran() : Fill(s); }
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

// A symbol starts below kSlideAt, so a match and the bytes that its copy
// may write past itself stay inside the text buffer.
constexpr int kSlideAt = kExpandBufSize - kMaxMatch - kMatchCopySlack;

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
