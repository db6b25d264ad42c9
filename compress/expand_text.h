// What the two LZ expanders share: the bit window over the input stretch,
// match copies inside a linear text buffer, and the hand-over of decoded
// text to the engine's output stretch.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "compress/codec_state.h"

namespace vorn {

// Eight bytes, the first at the top; compilers make this one load and a
// byte swap.
inline uint64_t LoadBigEndian64(const TOctet* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | static_cast<uint8_t>(p[i]);
    return v;
}

// Up to 63 bits of codec data ahead of a decoder, the earliest at bit 63.
// Past the end of the source every bit reads as 0; once SourceExhausted is
// set the engine is not asked again (a cancelled run must stay cancelled).
// The window runs ahead of the decoder, so running past the end is judged
// by what the decoder took: it has taken a zero bit of the window's own
// making once fewer bits are left in the window than were made up.
struct TBitWindow {
    // What a Fill leaves in the window at the least.
    static constexpr int kFilledBits = 56;

    uint64_t Window = 0;
    // Bits at the bottom of Window that hold no data yet; counting the gap
    // rather than the data spares the refill a subtraction from a constant.
    // Every fill leaves at least one, so the word load's shift stays below 64.
    int Empty = 64;
    int MadeUp = 0;  // zero bits put in past the end of the source

    // Fills the window to at least kFilledBits. Eight bytes are loaded at once
    // while the input block holds them: the window takes the whole bytes
    // that fit below its top 63 bits, exactly as many as the byte path
    // takes, and the bits of the next byte that land below them are the ones
    // it will put there. False once the decoder has run past the end, which
    // only the byte path can bring about.
    bool Fill(TCodecState& s) {
        const TOctet* pos = s.InPos;
        if (FillWord(pos, pos + InputStretch(s))) [[likely]] {
            TakeInput(s, static_cast<size_t>(pos - s.InPos));
            return true;
        }
        Refill(s);
        return !Overran();
    }
    // The word path of Fill on a stretch [pos, end); false, taking nothing,
    // when it holds fewer than eight bytes.
    bool FillWord(const TOctet*& pos, const TOctet* end) {
        if (end - pos < 8) return false;
        Window |= LoadBigEndian64(pos) >> (64 - Empty);
        pos += (Empty - 1) >> 3;
        Empty = ((Empty - 1) & 7) + 1;
        return true;
    }
    // The byte path.
    void Refill(TCodecState& s) {
        while (Empty > 8) Put(s);
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
    // n from 0 to 32, at most the bits held.
    void Skip(int n) {
        Window <<= n;
        Empty += n;
    }
    uint32_t GetBits(TCodecState& s, int n) {
        Refill(s);
        const uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
};

// Bytes that CopyMatch may write past the end of a match: a text buffer
// keeps this much room behind the last match it lets start.
inline constexpr int kMatchCopySlack = 32;

// Copies a match of `length` bytes from `distance` + 1 bytes back, writing
// up to kMatchCopySlack - 1 bytes past it, which are overwritten before they
// count. Most matches are short, so two 16-byte pieces go unconditionally.
inline void CopyMatch(TOctet* to, uint32_t distance, uint32_t length) {
    const TOctet* from = to - distance - 1;
    TOctet* const end = to + length;
    if (distance >= 15) [[likely]] {  // 16-byte pieces never overlap
        std::memcpy(to, from, 16);
        std::memcpy(to + 16, from + 16, 16);
        to += 32;
        from += 32;
        while (to < end) {
            std::memcpy(to, from, 16);
            to += 16;
            from += 16;
        }
    } else if (distance >= 7) {
        do {
            std::memcpy(to, from, 8);
            to += 8;
            from += 8;
        } while (to < end);
    } else if (distance == 0) {
        const uint64_t run = 0x0101010101010101u * static_cast<uint8_t>(*from);
        do {
            std::memcpy(to, &run, 8);
            std::memcpy(to + 8, &run, 8);
            to += 16;
        } while (to < end);
    } else {
        do *to++ = *from++;
        while (to < end);
    }
}

// Hands decoded text to the engine: straight into the output buffer as far
// as it has room, one byte through the slow path when it is full (or when a
// key wants every byte).
inline void Deliver(TCodecState& s, const TOctet* from, const TOctet* to) {
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

}  // namespace vorn
