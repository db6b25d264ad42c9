// The LZH expander: a bit reader over ReadSourceByte, one walk down the code
// tree per symbol, and the ring as history for matches.
#include <algorithm>
#include <cstring>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_model.h"
#include "compress/lzh/lzh_prefix_table.h"

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

    // The next n bits (up to 8), left in place.
    int Peek(TCodecState& s, int n) {
        Refill(s);
        return static_cast<int>(buf >> (16 - n));
    }

    // n from 0 to 8, after a peek of as many.
    void Skip(int n) {
        buf = (buf << n) & 0xFFFF;
        len -= n;
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

// Takes the top of the walk from the table and the rest bit by bit, noting
// the slots on the way for the update; keeps the table in step with it.
inline uint16_t DecodeSymbol(TCodecState& s, BitReader& in, LzhPrefixTable& table, int16_t* path) {
    TLzhState& z = s.Lzh;
    const int16_t* child = z.HuffChild.get();
    const LzhPrefixEntry& top = table.Lookup(in.Peek(s, LzhPrefixBits));
    in.Skip(top.Used);
    std::memcpy(path, top.Path, sizeof top.Path);
    int depth = top.Used + 1;
    int slot = top.Path[top.Used];
    int c = child[slot];
    while (c < LzhLeafBase) {
        slot = c + in.Bit(s);
        path[depth++] = static_cast<int16_t>(slot);
        c = child[slot];
    }
    const auto symbol = static_cast<uint16_t>(c - LzhLeafBase);
    const bool rebuilt =
        LzhUpdateModelAlong(z, symbol, path, depth, [&](int a, int b) { table.Exchanged(z, a, b); });
    if (rebuilt) table.Build(z);
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

// Copies a match through the ring and out; returns the new ring position.
// Source and target may overlap: each byte is read before the position it
// may share with the target is written. Kept apart from the decoding loop so
// that its few values stay in registers.
[[gnu::noinline]] int CopyMatch(TCodecState& s, uint8_t* ring, int r, int distance, int length) {
    const int from = r - distance - 1;
    for (int k = 0; k < length; ++k) {
        const uint8_t x = ring[(from + k) & LzhRingMask];
        WriteDestByte(s, x);
        ring[r] = x;
        r = (r + 1) & LzhRingMask;
    }
    return r;
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
    LzhPrefixTable table;
    table.Build(z);
    int16_t path[LzhMaxPath];
    int r = LzhRingStart;
    int64_t done = 0;  // a damaged last match may carry it past the size
    while (done < uncompressedSize) {
        const int c = DecodeSymbol(s, in, table, path);
        if (c < 256) {
            WriteDestByte(s, static_cast<uint8_t>(c));
            ring[r] = static_cast<uint8_t>(c);
            r = (r + 1) & LzhRingMask;
            ++done;
            continue;
        }
        const int length = c - LzhMatchSymbolBase;
        r = CopyMatch(s, ring, r, DecodePosition(s, in), length);
        done += length;
    }
    in.Store(z);
}

}  // namespace vorn
