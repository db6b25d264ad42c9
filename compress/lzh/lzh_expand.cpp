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
struct LzhBitReader {
    uint32_t buf;  // the earliest bit at bit 15; bits above 15 are never set
    int len;
    int madeUp = 0;  // zero bits put in past the end of the source

    explicit LzhBitReader(const TLzhState& z) : buf(z.GetBuf), len(z.GetLen) {}
    void Store(TLzhState& z) const {
        z.GetBuf = static_cast<uint16_t>(buf);
        z.GetLen = static_cast<uint8_t>(len);
    }

    // Leaves at least 8 bits; past the end of the source the bytes are 0.
    void Refill(TCodecState& s) {
        if (len <= 8) {
            const uint8_t x = ReadSourceByte(s);
            if (!s.SourceExhausted)
                buf |= static_cast<uint32_t>(x) << (8 - len);
            else
                madeUp += 8;
            len += 8;
        }
    }
    // The decoder has taken a bit of the reader's own making; the byte read
    // ahead does not count until its bits are taken.
    bool Overran() const { return len < madeUp; }

    // The top n bits (up to 8) after a refill, left in place.
    int Peek(int n) const { return static_cast<int>(buf >> (16 - n)); }

    void Skip(int n) {
        buf = (buf << n) & 0xFFFF;
        len -= n;
    }
};

inline int LzhGetBit(TCodecState& s, LzhBitReader& in) {
    in.Refill(s);
    const int bit = in.Peek(1);
    in.Skip(1);
    return bit;
}

// n from 1 to 8.
inline int LzhGetBits(TCodecState& s, LzhBitReader& in, int n) {
    in.Refill(s);
    const int bits = in.Peek(n);
    in.Skip(n);
    return bits;
}

inline int LzhGetByte(TCodecState& s, LzhBitReader& in) { return LzhGetBits(s, in, 8); }

// Takes the top of the walk from the table and the rest bit by bit, noting
// the slots on the way for the update; keeps the table in step with it.
inline uint16_t LzhDecodeSymbol(TCodecState& s, LzhBitReader& in, LzhPrefixTable& table, int16_t* path) {
    TLzhState& z = s.Lzh;
    const int16_t* child = z.HuffChild.get();
    in.Refill(s);
    const LzhPrefixEntry& top = table.Lookup(in.Peek(LzhPrefixBits));
    in.Skip(top.Used);
    std::memcpy(path, top.Path, sizeof top.Path);
    int depth = top.Used + 1;
    int slot = top.Path[top.Used];
    int c = child[slot];
    while (c < LzhLeafBase) {
        slot = c + LzhGetBit(s, in);
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
inline int LzhDecodePosition(TCodecState& s, LzhBitReader& in) {
    const int b = LzhGetByte(s, in);
    const int u = LzhBytePos[b];
    const int n = LzhByteLen[b] - 2;
    const int t = LzhGetBits(s, in, n);
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
    LzhRunArrays arrays(s.Lzh, Direction::Expand);
    TLzhState& z = s.Lzh;
    LzhStartModel(z);
    uint8_t* const ring = z.RingBuf.get();
    std::fill(ring, ring + LzhRingStart, LzhRingFill);
    // Only damaged data reads these before writing them; fixed content keeps
    // even that output reproducible.
    std::fill(ring + LzhRingStart, ring + LzhRingSize, LzhUnsetFill);
    LzhBitReader in(z);
    LzhPrefixTable table;
    table.Build(z);
    int16_t path[LzhMaxPath];
    int r = LzhRingStart;
    int64_t done = 0;  // a damaged last match may carry it past the size
    // Every symbol takes at least one bit, so zero bits would decode on to
    // any size: stop at the first symbol that took one.
    while (done < uncompressedSize && !in.Overran()) {
        const int c = LzhDecodeSymbol(s, in, table, path);
        if (c < 256) {
            WriteDestByte(s, static_cast<uint8_t>(c));
            ring[r] = static_cast<uint8_t>(c);
            r = (r + 1) & LzhRingMask;
            ++done;
            continue;
        }
        const int length = c - LzhMatchSymbolBase;
        r = CopyMatch(s, ring, r, LzhDecodePosition(s, in), length);
        done += length;
    }
    if (in.Overran()) s.ReadPastEnd = true;
    in.Store(z);
}

}  // namespace vorn
