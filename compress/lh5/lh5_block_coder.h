// The back half of the LH5 compressor: buffers the symbols of a block,
// builds its Huffman codes and writes the block through a bit writer.
#pragma once

#include <bit>
#include <cstdint>

#include "compress/codec_state.h"

namespace vorn {

// Writes the top n (0..16) bits of x; the bits below them must be 0.
void Lh5PutCode(TCodecState& s, int n, uint16_t x);
// Writes the low n (1..16) bits of x.
void Lh5PutBits(TCodecState& s, int n, uint16_t x);
// Codes and writes the buffered block, then clears the frequencies.
void Lh5SendBlock(TCodecState& s);
// Empties the block buffer and the frequencies for a new run.
void Lh5ResetBlock(TCodecState& s);
// Builds the Huffman code of an n-symbol alphabet from freq (which needs
// room for 2n - 1 entries: inner nodes go after the symbols) into len
// (at most 16 bits, a complete code) and code (canonical, left-aligned).
// Returns the root, or the only symbol used (length 0) when fewer than two are.
int Lh5MakeTree(TCodecState& s, int n, uint16_t* freq, uint8_t* len, uint16_t* code);

// The distance class of a distance minus one: its number of significant bits.
inline int Lh5DistanceClass(uint32_t p) { return std::bit_width(p); }

// Appends a literal (c < 256) or a match (c = length + 253, p = distance
// minus one) to the block. The block is sent only when a group of eight
// symbols begins, so a group never spans two blocks.
inline void Lh5Output(TCodecState& s, uint32_t c, uint32_t p) {
    TLh5State& st = s.Lh5;
    st.FlagMask >>= 1;
    if (st.FlagMask == 0) {
        st.FlagMask = 0x80;
        if (st.BlockBufPos >= lh5::kBlockSendLimit) {
            Lh5SendBlock(s);
            st.BlockBufPos = 0;
        }
        st.FlagPos = st.BlockBufPos;
        st.BlockBuf[st.BlockBufPos++] = 0;
    }
    uint8_t* buf = st.BlockBuf.get();
    buf[st.BlockBufPos++] = static_cast<uint8_t>(c);
    ++st.CharFreq[c];
    if (c >= lh5::kFirstMatchSymbol) {
        buf[st.FlagPos] = static_cast<uint8_t>(buf[st.FlagPos] | st.FlagMask);
        buf[st.BlockBufPos++] = static_cast<uint8_t>(p >> 8);
        buf[st.BlockBufPos++] = static_cast<uint8_t>(p);
        ++st.DistFreq[Lh5DistanceClass(p)];
    }
}

}  // namespace vorn
