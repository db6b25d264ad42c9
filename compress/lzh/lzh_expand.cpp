// The LZH expander: a bit reader over ReadSourceByte, one walk down the code
// tree per symbol, and the ring as history for matches.
#include <algorithm>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_model.h"

namespace vorn {

namespace {

// Tops the bit buffer up to at least 9 bits, so each reader below has the
// up to 8 bits it takes. Past the end of the source the bytes are 0.
inline void Refill(TCodecState& s) {
    TLzhState& z = s.Lzh;
    if (z.GetLen <= 8) {
        uint8_t x = ReadSourceByte(s);
        if (s.SourceExhausted) x = 0;
        z.GetBuf = static_cast<uint16_t>(z.GetBuf | (x << (8 - z.GetLen)));
        z.GetLen = static_cast<uint8_t>(z.GetLen + 8);
    }
}

inline int GetBit(TCodecState& s) {
    Refill(s);
    TLzhState& z = s.Lzh;
    const int bit = z.GetBuf >> 15;
    z.GetBuf = static_cast<uint16_t>(z.GetBuf << 1);
    --z.GetLen;
    return bit;
}

// n from 1 to 8.
inline int GetBits(TCodecState& s, int n) {
    Refill(s);
    TLzhState& z = s.Lzh;
    const int bits = z.GetBuf >> (16 - n);
    z.GetBuf = static_cast<uint16_t>(z.GetBuf << n);
    z.GetLen = static_cast<uint8_t>(z.GetLen - n);
    return bits;
}

inline uint16_t DecodeSymbol(TCodecState& s) {
    const int16_t* child = s.Lzh.HuffChild.get();
    int c = child[LzhRoot];
    while (c < LzhLeafBase) c = child[c + GetBit(s)];
    const auto symbol = static_cast<uint16_t>(c - LzhLeafBase);
    LzhUpdateModel(s.Lzh, symbol);
    return symbol;
}

// The first byte names u and the code's length; the bits of that byte
// after the code and a few more make the low 6 bits of the distance.
inline int DecodePosition(TCodecState& s) {
    const int b = GetBits(s, 8);
    const int u = LzhBytePos[b];
    const int n = LzhByteLen[b] - 2;
    const int t = GetBits(s, n);
    return (u << LzhPosLowBits) | (((b << n) | t) & (LzhPosSlots - 1));
}

}  // namespace

void LzhExpand(TCodecState& s, int32_t uncompressedSize) {
    if (uncompressedSize == 0) return;
    LzhRunArrays arrays(s.Lzh, false);
    TLzhState& z = s.Lzh;
    LzhStartModel(z);
    uint8_t* ring = z.RingBuf.get();
    std::fill(ring, ring + LzhRingStart, LzhRingFill);
    // Only damaged data reads these before writing them; fixed content keeps
    // even that output reproducible.
    std::fill(ring + LzhRingStart, ring + LzhRingSize, LzhUnsetFill);
    int r = LzhRingStart;
    int64_t done = 0;  // a damaged last match may carry it past the size
    while (done < uncompressedSize) {
        const int c = DecodeSymbol(s);
        if (c < 256) {
            WriteDestByte(s, static_cast<uint8_t>(c));
            ring[r] = static_cast<uint8_t>(c);
            r = (r + 1) & LzhRingMask;
            ++done;
            continue;
        }
        const int length = c - LzhMatchSymbolBase;
        const int d = DecodePosition(s);
        // Source and target may overlap: each byte is read before the
        // position it may share with the target is written.
        const int from = (r - d - 1) & LzhRingMask;
        for (int k = 0; k < length; ++k) {
            const uint8_t x = ring[(from + k) & LzhRingMask];
            WriteDestByte(s, x);
            ring[r] = x;
            r = (r + 1) & LzhRingMask;
        }
        done += length;
    }
}

}  // namespace vorn
