// The LZH expander: a bit reader over ReadSourceByte, one walk down the code
// tree per symbol, and the ring as history for matches.
#include <algorithm>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_model.h"

namespace vorn {

namespace {

// The bit reader works on a local copy of GetBuf and GetLen, so that they
// stay in registers while the engine's byte stores go on around them. It
// takes a byte whenever 8 or fewer bits are left, as the 16-bit reader
// does, and so never reads more than one byte past the last code bit.
struct BitReader {
    uint32_t buf;  // the earliest bit at bit 15; bits above 15 are never set
    int len;

    explicit BitReader(const TLzhState& z) : buf(z.GetBuf), len(z.GetLen) {}
    void Store(TLzhState& z) const {
        z.GetBuf = static_cast<uint16_t>(buf);
        z.GetLen = static_cast<uint8_t>(len);
    }

    // Past the end of the source the bytes are 0.
    void Refill(TCodecState& s) {
        if (len <= 8) {
            const uint8_t x = ReadSourceByte(s);
            if (!s.SourceExhausted) buf |= static_cast<uint32_t>(x) << (8 - len);
            len += 8;
        }
    }

    int Bit(TCodecState& s) {
        Refill(s);
        const int bit = static_cast<int>(buf >> 15) & 1;
        buf = (buf << 1) & 0xFFFF;
        --len;
        return bit;
    }

    // n from 1 to 8: after a refill at least 8 bits are buffered.
    int Bits(TCodecState& s, int n) {
        Refill(s);
        const int bits = static_cast<int>(buf >> (16 - n));
        buf = (buf << n) & 0xFFFF;
        len -= n;
        return bits;
    }
};

// Walks from the root to a leaf, noting the slots on the way for the update.
inline uint16_t DecodeSymbol(TCodecState& s, BitReader& in, int16_t* path) {
    const int16_t* child = s.Lzh.HuffChild.get();
    int depth = 0;
    int slot = LzhRoot;
    int c = child[slot];
    while (c < LzhLeafBase) {
        path[depth++] = static_cast<int16_t>(slot);
        slot = c + in.Bit(s);
        c = child[slot];
    }
    path[depth++] = static_cast<int16_t>(slot);
    const auto symbol = static_cast<uint16_t>(c - LzhLeafBase);
    LzhUpdateModelAlong(s.Lzh, symbol, path, depth);
    return symbol;
}

// The first byte names u and the code's length; the bits of that byte
// after the code and a few more make the low 6 bits of the distance.
inline int DecodePosition(TCodecState& s, BitReader& in) {
    const int b = in.Bits(s, 8);
    const int u = LzhBytePos[b];
    const int n = LzhByteLen[b] - 2;
    const int t = in.Bits(s, n);
    return (u << LzhPosLowBits) | (((b << n) | t) & (LzhPosSlots - 1));
}

}  // namespace

void LzhExpand(TCodecState& s, int32_t uncompressedSize) {
    if (uncompressedSize == 0) return;
    LzhRunArrays arrays(s.Lzh, false);
    TLzhState& z = s.Lzh;
    LzhStartModel(z);
    uint8_t* const ring = z.RingBuf.get();
    std::fill(ring, ring + LzhRingStart, LzhRingFill);
    // Only damaged data reads these before writing them; fixed content keeps
    // even that output reproducible.
    std::fill(ring + LzhRingStart, ring + LzhRingSize, LzhUnsetFill);
    BitReader in(z);
    int16_t path[LzhMaxPath];
    int r = LzhRingStart;
    int64_t done = 0;  // a damaged last match may carry it past the size
    while (done < uncompressedSize) {
        const int c = DecodeSymbol(s, in, path);
        if (c < 256) {
            WriteDestByte(s, static_cast<uint8_t>(c));
            ring[r] = static_cast<uint8_t>(c);
            r = (r + 1) & LzhRingMask;
            ++done;
            continue;
        }
        const int length = c - LzhMatchSymbolBase;
        const int d = DecodePosition(s, in);
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
    in.Store(z);
}

}  // namespace vorn
