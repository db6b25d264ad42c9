// The range decoder of the LZM expander: the coder, its bits and bit trees,
// reading its bytes straight from the engine's input block.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"
#include "compress/lzma/lzma_state.h"

namespace vorn::lzma {

// The range decoder. Code is the offset of the coded point inside an
// interval Range wide. Between bits Range >= kRangeTop, so an 11-bit
// probability splits it with both parts non-empty, and for sound data
// Code < Range. Normalize is the one place where the interval widens and a
// byte comes in; it runs after every bit, so the decoder takes exactly the
// bytes the encoder wrote, no more.
inline constexpr uint32_t kRangeTop = 1u << 24;
inline constexpr int kCodeBytes = 4;  // behind a first byte that is always 0

// Where the build is for speed, the decoder's hot loop is one function with
// the coder's values in machine registers: the runs of bits and what they
// call are inline, and nothing in the loop takes the address of the coder.
// The installer stub, built for size (for i686 with its seven registers),
// keeps one copy of each run of bits, which keeps the coder in registers
// through the run.
#ifdef __OPTIMIZE_SIZE__
#define VORN_LZMA_HOT
#define VORN_LZMA_RUN [[gnu::noinline]]
#define VORN_LZMA_COLD
#else
#define VORN_LZMA_HOT [[gnu::always_inline]]
#define VORN_LZMA_RUN [[gnu::always_inline]]
#define VORN_LZMA_COLD [[gnu::noinline, gnu::cold]]
#endif

// The engine's next stretch of input, once the one in hand is used up: its
// first byte and the rest of it.
struct TStretch {
    const TOctet* Pos;
    const TOctet* End;
    uint32_t Byte;
    bool Exhausted;  // the byte is made up
};

// Takes its arguments and returns its answer by value, so that the hot
// loop's coder, whose fields it replaces, keeps its address to itself.
VORN_LZMA_COLD inline TStretch NextStretch(TCodecState& s, const TOctet* used) {
    TakeInput(s, static_cast<size_t>(used - s.InPos));
    // A cancelled run is not asked again.
    const uint32_t b = s.SourceExhausted ? 0 : ReadSourceByte(s);
    return {s.InPos, s.InPos + InputStretch(s), b, s.SourceExhausted};
}

// The coder's working values, copied out of TRangeDecoder for a run of
// bits: as locals whose address no call sees, they stay in machine
// registers, where the decoder's own fields (whose address every call
// takes) are stored and loaded around each bit. The input position stays
// in the decoder: a byte comes in only every few bits.
struct TCoderRegisters {
    uint32_t Range;
    uint32_t Code;
};

// The most bits one symbol takes, each of which brings at most one byte in:
// the match flags, a high length (two choices and its tree), the distance's
// slot and its 30 further bits.
inline constexpr int kMaxSymbolBits = 2 + 2 + kHighBits + kSlotBits + ((1 << kSlotBits) - 1) / 2 - 1;
static_assert(kMaxSymbolBits == 48);

// Ample: a coder for symbols while the stretch in hand holds the longest
// symbol's bytes, which takes them without asking whether it has them.
template <bool Ample>
struct TRangeCoder {
    static constexpr bool kAmple = Ample;
    TRangeCoder() = default;
    template <bool Other>
    explicit TRangeCoder(const TRangeCoder<Other>& other)
        : Engine(other.Engine), Range(other.Range), Code(other.Code), InPos(other.InPos), InEnd(other.InEnd),
          Overran(other.Overran) {}

    TCodecState* Engine = nullptr;
    uint32_t Range = 0xFFFFFFFFu;
    uint32_t Code = 0;
    // The readable stretch of the engine's input block, held here and
    // handed back (Detach) before anything else reads the engine's input.
    const TOctet* InPos = nullptr;
    const TOctet* InEnd = nullptr;
    bool Overran = false;  // a byte past the end of the data was made up as 0

    void Attach() {
        InPos = Engine->InPos;
        InEnd = InPos + InputStretch(*Engine);
    }
    void Detach() const { TakeInput(*Engine, static_cast<size_t>(InPos - Engine->InPos)); }

    // Inline even in the stub, which is built for size: a call for each
    // byte in costs more than the copies take.
    [[gnu::always_inline]] uint32_t NextByte() {
        if (kAmple || InPos != InEnd) [[likely]]
            return static_cast<uint8_t>(*InPos++);
        return ByteFromNextStretch();
    }
    bool HoldsLongestSymbol() const { return InEnd - InPos >= kMaxSymbolBits; }

    // Out of line in the stub: every inline bit carries a call to it, not
    // its body.
    VORN_LZMA_RUN uint32_t ByteFromNextStretch() {
        const TStretch next = NextStretch(*Engine, InPos);
        InPos = next.Pos;
        InEnd = next.End;
        Overran |= next.Exhausted;
        return next.Byte;
    }

    // A chunk's coder: a first byte that is always 0, then the code. False
    // for a start no encoder makes.
    bool Start() {
        Range = 0xFFFFFFFFu;
        Code = 0;
        const uint32_t first = NextByte();
        for (int i = 0; i < kCodeBytes; ++i) Code = Code << 8 | NextByte();
        return first == 0 && Code != Range;
    }

    TCoderRegisters Load() const { return {Range, Code}; }
    void Store(const TCoderRegisters& r) {
        Range = r.Range;
        Code = r.Code;
    }

    [[gnu::always_inline]] void Normalize(TCoderRegisters& r) {
        if (r.Range >= kRangeTop) return;
        r.Range <<= 8;
        r.Code = r.Code << 8 | NextByte();
    }
    [[gnu::always_inline]] uint32_t Bit(TCoderRegisters& r, uint16_t& prob) {
        const uint32_t p = prob;
        const uint32_t bound = (r.Range >> kProbBits) * p;
        uint32_t bit;
        if (r.Code < bound) {
            r.Range = bound;
            prob = static_cast<uint16_t>(p + ((kProbOne - p) >> kProbMoveBits));
            bit = 0;
        } else {
            r.Range -= bound;
            r.Code -= bound;
            prob = static_cast<uint16_t>(p - (p >> kProbMoveBits));
            bit = 1;
        }
        Normalize(r);
        return bit;
    }
    // Bit for bits a predictor guesses badly (a literal's, a length's, a
    // distance's): both outcomes are worked out and one is selected, with
    // no branch to mispredict.
    [[gnu::always_inline]] uint32_t UnpredictableBit(TCoderRegisters& r, uint16_t& prob) {
        return UnpredictableBit(r, prob, prob);
    }
    // The same with the probability already loaded (p == prob).
    [[gnu::always_inline]] uint32_t UnpredictableBit(TCoderRegisters& r, uint16_t& prob, uint32_t p) {
        const uint32_t bound = (r.Range >> kProbBits) * p;
        const uint32_t bit = r.Code >= bound;
        const uint32_t ifOne = 0u - bit;  // selects by masks: a compiler turns ?: back into branches
        r.Code -= bound & ifOne;
        r.Range = bound + ((r.Range - bound - bound) & ifOne);
        // p + (kProbOne - p) / 32 after a 0 and p - p / 32 after a 1, both
        // rounded down, as one flooring shift: p - floor((p - target) / 32).
        const uint32_t target = (kProbOne - (1u << kProbMoveBits) + 1) & ~ifOne;
        prob = static_cast<uint16_t>(p - static_cast<uint32_t>(static_cast<int32_t>(p - target) >> kProbMoveBits));
        Normalize(r);
        return bit;
    }
    // The runs of bits below each load the coder into registers and store
    // it back after (VORN_LZMA_RUN).
    VORN_LZMA_RUN uint32_t Bit(uint16_t& prob) {
        TCoderRegisters r = Load();
        const uint32_t bit = Bit(r, prob);
        Store(r);
        return bit;
    }

#ifndef __OPTIMIZE_SIZE__
    // The node `levels` levels down a bit tree from probs[1], the top bit
    // first. Both children of a node are loaded while its bit is decoded,
    // so the next bit need not wait for a load; the last level's are not,
    // as they may lie past the tree's array.
    [[gnu::always_inline]] uint32_t Walk(TCoderRegisters& r, uint16_t* probs, int levels) {
        uint32_t m = 1;
        uint32_t p = probs[1];
        for (int i = 1; i < levels; ++i) {
            const uint32_t if0 = probs[2 * m], if1 = probs[2 * m + 1];
            const uint32_t bit = UnpredictableBit(r, probs[m], p);
            m = m << 1 | bit;
            p = if0 ^ ((if0 ^ if1) & (0u - bit));
        }
        return m << 1 | UnpredictableBit(r, probs[m], p);
    }
#endif

    // A plain literal: eight bits of a bit tree, probs[1] the root.
    VORN_LZMA_RUN uint32_t Literal(uint16_t* probs) {
        TCoderRegisters r = Load();
#ifdef __OPTIMIZE_SIZE__
        uint32_t symbol = 1;
        do symbol = symbol << 1 | UnpredictableBit(r, probs[symbol]);
        while (symbol < 0x100);
#else
        const uint32_t symbol = Walk(r, probs, 8);
#endif
        Store(r);
        return symbol & 0xFF;
    }
    // A literal after a match: two further trees serve the bits while they
    // agree with the byte at the last distance; offset drops to 0 at the
    // first bit that differs.
    VORN_LZMA_RUN uint32_t MatchedLiteral(uint16_t* probs, uint32_t match) {
        TCoderRegisters r = Load();
        uint32_t symbol = 1;
        uint32_t offset = 0x100;
        do {
            match <<= 1;
            const uint32_t bit = Bit(r, probs[offset + (match & offset) + symbol]);
            symbol = symbol << 1 | bit;
            offset &= bit ? match : ~match;
        } while (symbol < 0x100 && offset != 0);
        // Past the first bit that differs (offset 0) the bits are a plain
        // literal's, as hard to predict.
        while (symbol < 0x100) symbol = symbol << 1 | UnpredictableBit(r, probs[symbol]);
        Store(r);
        return symbol & 0xFF;
    }
    // A bit tree of `bits` levels, the top bit first: probs[1] is the root.
    VORN_LZMA_RUN uint32_t Tree(uint16_t* probs, int bits) {
        TCoderRegisters r = Load();
        const uint32_t top = 1u << bits;
#ifdef __OPTIMIZE_SIZE__
        uint32_t m = 1;
        do m = m << 1 | UnpredictableBit(r, probs[m]);
        while (m < top);
#else
        const uint32_t m = Walk(r, probs, bits);
#endif
        Store(r);
        return m - top;
    }
    // The same tree walked from the lowest bit.
    VORN_LZMA_RUN uint32_t ReverseTree(uint16_t* probs, int bits) {
        TCoderRegisters r = Load();
        uint32_t m = 1;
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            const uint32_t b = UnpredictableBit(r, probs[m]);
            m = m << 1 | b;
            value |= b << i;
        }
        Store(r);
        return value;
    }
    // Bits of even probability, the top bit first.
    VORN_LZMA_HOT uint32_t Direct(int bits) {
        TCoderRegisters r = Load();
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            r.Range >>= 1;
            const uint32_t b = r.Code >= r.Range;
            r.Code -= r.Range & (0u - b);
            value = value << 1 | b;
            Normalize(r);
        }
        Store(r);
        return value;
    }
};

using TRangeDecoder = TRangeCoder<false>;

}  // namespace vorn::lzma
