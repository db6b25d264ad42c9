// LH5 expander: bit reader, block header with its three code-length tables,
// table-driven Huffman decoding and the copy loop.
#include <algorithm>
#include <bit>
#include <cstring>

#include "compress/exceptions.h"
#include "compress/expand_text.h"
#include "compress/lh5/lh5.h"

namespace vorn {

namespace {

using namespace lh5;

// Entries of the lookup tables and of the tree links. A leaf packs the
// symbol (bits 5-14) with the full length of its code (bits 0-4), so a table
// hit costs one load and the length feeds the shift directly; a link to a
// tree node has bit 15 set and the node number in bits 5-14. 0 is never a
// leaf of a built code (every length is at least 1) and marks a slot that
// has no node yet.
constexpr uint16_t kNodeFlag = 0x8000;
constexpr int kSymbolShift = 5;
constexpr uint16_t kLengthMask = 0x1F;
constexpr uint16_t kNumberMask = 0x3FF;

constexpr uint16_t Leaf(int symbol, int length) {
    return static_cast<uint16_t>(symbol << kSymbolShift | length);
}
constexpr uint16_t Link(int node) { return static_cast<uint16_t>(kNodeFlag | node << kSymbolShift); }
constexpr int NodeOf(uint16_t link) { return link >> kSymbolShift & kNumberMask; }
// Entries below this are leaves of literals; links and match symbols lie above.
constexpr uint16_t kLiteralEnd = Leaf(kFirstMatchSymbol, 0);

constexpr ptrdiff_t kLiteralsPerFill = 3;
static_assert((kLiteralsPerFill + 1) * kCharTableBits <= TBitWindow::kFilledBits);

// The text buffer while expanding (kExpandBufSize): 8 KB of history, then
// the decoding area. A symbol starts below kSlideAt, so a match and the
// bytes that its copy may write past itself stay inside the buffer.
constexpr int kSlideAt = kExpandBufSize - kMaxMatch - kMatchCopySlack;

// The window with the table-driven decoding of a block's codes.
struct TBitReader : TBitWindow {
    // One symbol of a code built by BuildDecodeTable, at most 16 bits, in
    // two steps: the table entry for the bits ahead, then the symbol it
    // leads to, whose bits are taken.
    uint16_t Lookup(const uint16_t* table, int tableBits) const { return table[Window >> (64 - tableBits)]; }
    uint32_t Resolve(uint16_t e, int tableBits, const TLh5State& st) {
        if (e & kNodeFlag) [[unlikely]]
            e = WalkTree(e, Window << tableBits, st.TreeLeft.get(), st.TreeRight.get());
        Skip(e & kLengthMask);
        return e >> kSymbolShift;
    }
    uint32_t Decode(const uint16_t* table, int tableBits, const TLh5State& st) {
        return Resolve(Lookup(table, tableBits), tableBits, st);
    }

private:
    // The code is complete, so every link leads to a leaf within the
    // 16 - tableBits bits below the table's index, which lead `bits`.
    // A function of its own that takes the bits by value: the reader's
    // fields then never need an address and stay in registers.
    static uint16_t WalkTree(uint16_t e, uint64_t bits, const uint16_t* left, const uint16_t* right) {
        do {
            e = (bits >> 63) ? right[NodeOf(e)] : left[NodeOf(e)];
            bits <<= 1;
        } while (e & kNodeFlag);
        return e;
    }
};

[[noreturn]] void BadTable() { throw ELZHBadDecodeTable(); }

// A table whose every lookup yields one symbol and consumes no bits.
void FillSingle(uint16_t* table, int tableBits, uint32_t symbol, int alphabet) {
    if (symbol >= static_cast<uint32_t>(alphabet)) BadTable();
    std::fill_n(table, 1 << tableBits, Leaf(static_cast<int>(symbol), 0));
}

// Builds the canonical decoder of `count` code lengths: codes are assigned
// in order of length, within a length in order of symbol. Codes up to
// tableBits long fill every table entry they prefix; longer ones hang in
// binary trees (left/right, node numbers from `count` on) below the entry of
// their first tableBits bits.
//
// Only a complete code of lengths 1 to 16 is accepted (Kraft sum exactly
// 2^16 in units of the longest code). That guarantees: every table entry is
// written; every tree node gets both links; a leaf is reached within 16 bits;
// the trees need fewer nodes than there are long codes, so node numbers stay
// below 2 * count <= kTreeSize.
void BuildDecodeTable(int count, const uint8_t* lengths, int tableBits, uint16_t* table,
                      uint16_t* left, uint16_t* right) {
    uint32_t lengthCount[kMaxCodeLen + 1] = {};
    for (int i = 0; i < count; ++i) {
        if (lengths[i] > kMaxCodeLen) BadTable();
        ++lengthCount[lengths[i]];
    }
    uint32_t start[kMaxCodeLen + 2];
    uint32_t total = 0;
    for (int len = 1; len <= kMaxCodeLen; ++len) {
        start[len] = total;
        total += lengthCount[len] << (kMaxCodeLen - len);
    }
    start[kMaxCodeLen + 1] = total;
    if (total != 1u << kMaxCodeLen) BadTable();

    const int drop = kMaxCodeLen - tableBits;
    const uint32_t firstLong = start[tableBits + 1] >> drop;
    std::fill(table + firstLong, table + (1 << tableBits), uint16_t{0});

    int nextNode = count;
    for (int symbol = 0; symbol < count; ++symbol) {
        const int len = lengths[symbol];
        if (len == 0) continue;
        const uint32_t code = start[len];
        start[len] += 1u << (kMaxCodeLen - len);
        if (len <= tableBits) {
            std::fill_n(table + (code >> drop), 1 << (tableBits - len), Leaf(symbol, len));
            continue;
        }
        uint16_t* slot = table + (code >> drop);
        for (int bit = drop - 1; bit >= kMaxCodeLen - len; --bit) {
            if (*slot == 0) {
                left[nextNode] = right[nextNode] = 0;
                *slot = Link(nextNode++);
            }
            const int node = NodeOf(*slot);
            slot = (code >> bit) & 1 ? &right[node] : &left[node];
        }
        *slot = Leaf(symbol, len);
    }
}

class TExpander {
public:
    explicit TExpander(TCodecState& s) : s_(s), st_(s.Lh5) {}

    // Stops early once the decoder has run past the end of the source:
    // zero bits would decode on, as blocks of 65,536 zeros, to any size.
    void Run(int32_t uncompressedSize) {
        std::fill_n(Text(), kWindowSize, TOctet{kInitialWindowByte});
        while (done_ < uncompressedSize && !in_.Overran()) {
            if (blockCount_ == 0)
                ReadBlockHeader();
            else
                DecodeSymbols(uncompressedSize);
        }
        if (in_.Overran()) s_.ReadPastEnd = true;
    }

private:
    void ReadBlockHeader() {
        blockCount_ = in_.GetBits(s_, kBlockCountBits);
        if (blockCount_ == 0) blockCount_ = 1u << kBlockCountBits;
        ReadAuxLengths(kLenAlphabet, kLenCountBits, kLenSpecial);
        ReadCharLengths();
        ReadAuxLengths(kDistAlphabet, kDistCountBits, kNoSpecial);
    }

    // One length of the code-length or distance alphabet: three bits, and
    // when they are all 1 a unary extension ended by a 0 bit (at most 13
    // further 1 bits are looked at).
    int ReadAuxLength() {
        in_.Refill(s_);
        int len = static_cast<int>(in_.Peek(kLenFieldBits));
        if (len < kLenFieldEscape) {
            in_.Skip(kLenFieldBits);
            return len;
        }
        const uint32_t extension = (in_.Peek(16) << 19) & 0xFFF80000u;  // bits 12..0 at the top
        len += std::countl_one(extension);
        in_.Skip(len - 3);  // the field, len - 7 ones and the closing zero
        return len;
    }

    void ReadAuxLengths(int count, int width, int special) {
        uint8_t* lengths = st_.AuxLen;
        const int n = static_cast<int>(in_.GetBits(s_, width));
        if (n == 0) {
            const uint32_t symbol = in_.GetBits(s_, width);
            std::fill_n(lengths, count, uint8_t{0});
            FillSingle(st_.AuxTable.get(), kAuxTableBits, symbol, count);
            return;
        }
        // n < 32 and a zero run adds at most 3: i stays far inside AuxLen.
        int i = 0;
        while (i < n) {
            lengths[i++] = static_cast<uint8_t>(ReadAuxLength());
            if (i == special) {
                for (uint32_t run = in_.GetBits(s_, kLenSpecialBits); run > 0; --run) lengths[i++] = 0;
            }
        }
        if (i < count) std::fill(lengths + i, lengths + count, uint8_t{0});
        BuildDecodeTable(count, lengths, kAuxTableBits, st_.AuxTable.get(), st_.TreeLeft.get(),
                         st_.TreeRight.get());
    }

    void ReadCharLengths() {
        uint8_t* lengths = st_.CharLen.get();
        const int n = static_cast<int>(in_.GetBits(s_, kCharCountBits));
        if (n == 0) {
            const uint32_t symbol = in_.GetBits(s_, kCharCountBits);
            std::fill_n(lengths, kCharAlphabet, uint8_t{0});
            FillSingle(st_.CharTable.get(), kCharTableBits, symbol, kCharAlphabet);
            return;
        }
        const uint16_t* table = st_.AuxTable.get();
        int i = 0;
        while (i < n) {
            in_.Refill(s_);
            const uint32_t t = in_.Decode(table, kAuxTableBits, st_);
            if (t > kLenSymbolBias) {  // symbols 0..2 are zero runs
                lengths[i++] = static_cast<uint8_t>(t - kLenSymbolBias);
                continue;
            }
            int run = 1;
            if (t == 1) run = static_cast<int>(in_.GetBits(s_, kShortZeroRunBits)) + kShortZeroRunBase;
            if (t == 2) run = static_cast<int>(in_.GetBits(s_, kLongZeroRunBits)) + kLongZeroRunBase;
            if (i + run > kCharLenSize) BadTable();
            std::fill_n(lengths + i, run, uint8_t{0});
            i += run;
        }
        if (i < kCharAlphabet) std::fill(lengths + i, lengths + kCharAlphabet, uint8_t{0});
        BuildDecodeTable(kCharAlphabet, lengths, kCharTableBits, st_.CharTable.get(),
                         st_.TreeLeft.get(), st_.TreeRight.get());
    }

    // The hot loop: symbols of the current block until it ends, the output
    // is complete or the decoding area is full. Symbols are decoded into the
    // text buffer, behind the 8 KB of history that matches reach back into,
    // and handed to the engine in one piece on the way out. Its state sits
    // in locals, which stay in registers: the buffers hold TOctet, whose
    // stores cannot change them.
    void DecodeSymbols(int32_t uncompressedSize) {
        TBitReader in = in_;
        TCodecState& s = s_;
        const TLh5State& st = st_;
        const uint16_t* const charTable = st.CharTable.get();
        const uint16_t* const auxTable = st.AuxTable.get();
        TOctet* const start = Text() + pos_;
        TOctet* out = start;
        // One bound for all three ends: the output complete, the area full,
        // and (set to where the output stands) the decoder past the source.
        TOctet* limit = start + std::min<int64_t>(uncompressedSize - done_, kSlideAt - pos_);
        uint32_t blockCount = blockCount_;
        // The input stretch stays in locals, out of the engine's reach, and
        // is handed back before the engine is called.
        const TOctet* inPos = s.InPos;
        const TOctet* inEnd = inPos + InputStretch(s);
        auto fill = [&] {
            if (in.FillWord(inPos, inEnd)) [[likely]]
                return true;
            TakeInput(s, static_cast<size_t>(inPos - s.InPos));
            const bool ok = in.Fill(s);
            inPos = s.InPos;
            inEnd = inPos + InputStretch(s);
            return ok;
        };

        // Each step starts with the window filled and the table entry of
        // its first code loaded: the load of the next entry is under way
        // while a match is copied. One fill serves up to kLiteralsPerFill
        // literals of table-length codes and the lookup after them.
        if (!fill()) [[unlikely]]
            limit = out;
        uint16_t e = in.Lookup(charTable, kCharTableBits);
        while (out < limit && blockCount != 0) {
            if (e < kLiteralEnd) {
                // As many as the bits, the block and the bound allow.
                TOctet* const chainStart = out;
                TOctet* const chainEnd = out + std::min<ptrdiff_t>({limit - out, kLiteralsPerFill, static_cast<ptrdiff_t>(blockCount)});
                do {
                    in.Skip(e & kLengthMask);
                    *out++ = TOctet{static_cast<uint8_t>(e >> kSymbolShift)};
                    e = in.Lookup(charTable, kCharTableBits);
                } while (e < kLiteralEnd && out < chainEnd);
                blockCount -= static_cast<uint32_t>(out - chainStart);
                if (!fill()) [[unlikely]]
                    limit = out;
                e = in.Lookup(charTable, kCharTableBits);
                continue;
            }
            --blockCount;
            const uint32_t c = in.Resolve(e, kCharTableBits, st);
            if (c < kFirstMatchSymbol) {  // a literal with a long code
                *out++ = TOctet{static_cast<uint8_t>(c)};
                if (!fill()) [[unlikely]]
                    limit = out;
                e = in.Lookup(charTable, kCharTableBits);
                continue;
            }
            const uint32_t length = c - kMatchSymbolBias;
            const uint32_t distClass = in.Resolve(in.Lookup(auxTable, kAuxTableBits), kAuxTableBits, st);
            uint32_t distance = distClass;  // classes 0 and 1 have no extra bits
            if (distClass > 1) {
                distance = (1u << (distClass - 1)) | in.Peek(static_cast<int>(distClass - 1));
                in.Skip(static_cast<int>(distClass - 1));
            }
            if (!fill()) [[unlikely]]
                limit = out;
            e = in.Lookup(charTable, kCharTableBits);
            CopyMatch(out, distance, length);
            out += length;
        }
        TakeInput(s, static_cast<size_t>(inPos - s.InPos));
        Deliver(s, start, out);
        in_ = in;
        pos_ = static_cast<uint32_t>(out - Text());
        done_ += out - start;
        blockCount_ = blockCount;
        if (pos_ >= kSlideAt) Slide();
    }

    // Keeps the last 8 KB as history at the start of the text buffer.
    void Slide() {
        std::memmove(Text(), Text() + pos_ - kWindowSize, kWindowSize);
        pos_ = kWindowSize;
    }

    TOctet* Text() const { return st_.TextBuf.get(); }

    TCodecState& s_;
    TLh5State& st_;
    TBitReader in_;
    uint32_t blockCount_ = 0;  // 0: a block header is due
    uint32_t pos_ = kWindowSize;  // in the text buffer, after the history
    int64_t done_ = 0;  // may pass the size by the tail of a match
};

}  // namespace

void Lh5Expand(TCodecState& s, int32_t uncompressedSize) {
    if (uncompressedSize <= 0) return;
    TLh5Arrays arrays(s, Direction::Expand);
    TExpander(s).Run(uncompressedSize);
}

}  // namespace vorn
