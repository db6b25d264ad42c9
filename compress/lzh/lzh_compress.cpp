// The LZH compressor: the encoding loop over a 60-byte look-ahead, the
// symbol and position coders and the bit writer.
#include <algorithm>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_match.h"
#include "compress/lzh/lzh_model.h"

namespace vorn {

using namespace lzh;

namespace {

// Appends the n (1..16) top bits of bits; the bits below them must be 0.
// Whole bytes leave at once, so PutLen is 0..7 between calls.
inline void LzhPutBits(TCodecState& s, int n, uint16_t bits) {
    TLzhState& z = s.Lzh;
    z.PutBuf = static_cast<uint16_t>(z.PutBuf | (bits >> z.PutLen));
    z.PutLen = static_cast<uint8_t>(z.PutLen + n);
    if (z.PutLen < 8) return;
    WriteDestByte(s, static_cast<uint8_t>(z.PutBuf >> 8));
    z.PutLen = static_cast<uint8_t>(z.PutLen - 8);
    if (z.PutLen >= 8) {
        WriteDestByte(s, static_cast<uint8_t>(z.PutBuf));
        z.PutLen = static_cast<uint8_t>(z.PutLen - 8);
        // The bits of this call that did not fit into PutBuf.
        z.PutBuf = static_cast<uint16_t>(bits << (n - z.PutLen));
    } else {
        z.PutBuf = static_cast<uint16_t>(z.PutBuf << 8);
    }
}

inline void LzhEncodePosition(TCodecState& s, int d) {
    const int u = d >> kPosLowBits;
    LzhPutBits(s, kPosLen[u], static_cast<uint16_t>(kPosCode[u] << 8));
    LzhPutBits(s, kPosLowBits, static_cast<uint16_t>((d & (kPosSlots - 1)) << 10));
}

// The ring as the encoder starts it: spaces before the first coded
// position, 0 in the look-ahead the input may not fill, and the copy of
// positions 0..58 behind the ring.
void FillRing(uint8_t* ring) {
    std::fill(ring, ring + kRingStart, kRingFill);
    std::fill(ring + kRingStart, ring + kRingSize, kUnsetFill);
    std::fill(ring + kRingSize, ring + kRingSize + kMirrorLen, kRingFill);
    std::fill(ring + kRingSize + kMirrorLen, ring + kRingBufSize, kUnsetFill);
}

// Reads up to a look-ahead of input behind the spaces; returns its length.
int FillLookAhead(TCodecState& s, uint8_t* ring) {
    int len = 0;
    while (len < kMaxMatch) {
        const uint8_t c = ReadSourceByte(s);
        if (s.SourceExhausted) break;
        ring[kRingStart + len++] = c;
    }
    return len;
}

}  // namespace

void LzhEncodeSymbol(TCodecState& s, uint16_t symbol) {
    const int16_t* parent = s.Lzh.HuffParent.get();
    // Climb from the leaf, noting the slots for the update; the bit next to
    // the root ends up at bit 31.
    int16_t slots[kMaxPath];
    int top = kMaxPath;
    uint32_t code = 0;
    int n = 0;
    int k = parent[kLeafBase + symbol];
    do {
        slots[--top] = static_cast<int16_t>(k);
        code >>= 1;
        if (k & 1) code |= 0x80000000u;
        ++n;
        k = parent[k];
    } while (k != kRoot);
    slots[--top] = kRoot;
    if (n > 16) {
        LzhPutBits(s, 16, static_cast<uint16_t>(code >> 16));
        LzhPutBits(s, n - 16, static_cast<uint16_t>(code));
    } else {
        LzhPutBits(s, n, static_cast<uint16_t>(code >> 16));
    }
    LzhUpdateModelAlong(s.Lzh, symbol, slots + top, kMaxPath - top);
}

void LzhFlushBits(TCodecState& s) {
    if (s.Lzh.PutLen > 0) WriteDestByte(s, static_cast<uint8_t>(s.Lzh.PutBuf >> 8));
}

namespace {

// The coding position r, the ring position the next input byte overwrites
// (always 60 ahead of r), and the bytes of look-ahead not yet coded.
struct Window {
    int r = kRingStart;
    int fill = 0;
    int len = 0;
};

// Codes the string at r as a match or a literal; returns the bytes coded.
int CodeNext(TCodecState& s, const Window& w) {
    TLzhState& z = s.Lzh;
    // A match never reaches past the end of the input.
    if (z.LzhMatchLen > w.len) z.LzhMatchLen = static_cast<uint16_t>(w.len);
    if (z.LzhMatchLen <= kThreshold) {
        z.LzhMatchLen = 1;
        LzhEncodeSymbol(s, z.RingBuf[w.r]);
    } else {
        LzhEncodeSymbol(s, static_cast<uint16_t>(z.LzhMatchLen + kMatchSymbolBase));
        LzhEncodePosition(s, z.LzhMatchPos);
    }
    return z.LzhMatchLen;
}

// Moves the window on by count bytes. While the input lasts, the oldest
// string leaves the trees, a new byte takes its place in the ring, and the
// string at the new r goes in; after the input has ended the look-ahead
// shrinks instead. Each call reads once more past the end.
void Slide(TCodecState& s, Window& w, int count) {
    TLzhState& z = s.Lzh;
    uint8_t* ring = z.RingBuf.get();
    int i = 0;
    for (; i < count; ++i) {
        const uint8_t c = ReadSourceByte(s);
        if (s.SourceExhausted) break;
        LzhDeleteNode(z, w.fill);
        ring[w.fill] = c;
        if (w.fill < kMirrorLen) ring[w.fill + kRingSize] = c;
        w.fill = (w.fill + 1) & kRingMask;
        w.r = (w.r + 1) & kRingMask;
        LzhInsertNode(z, w.r);
    }
    for (; i < count; ++i) {
        LzhDeleteNode(z, w.fill);
        w.fill = (w.fill + 1) & kRingMask;
        w.r = (w.r + 1) & kRingMask;
        if (--w.len > 0) LzhInsertNode(z, w.r);
    }
}

}  // namespace

void LzhCompress(TCodecState& s) {
    TLzhArrays arrays(s.Lzh, Direction::Compress);
    TLzhState& z = s.Lzh;
    LzhStartModel(z);
    LzhInitTree(z);
    FillRing(z.RingBuf.get());
    Window w;
    w.len = FillLookAhead(s, z.RingBuf.get());
    if (w.len == 0) return;
    // The strings that start in the spaces, then the first coded one.
    for (int k = 1; k <= kMaxMatch; ++k) LzhInsertNode(z, kRingStart - k);
    LzhInsertNode(z, kRingStart);
    do Slide(s, w, CodeNext(s, w));
    while (w.len > 0);
    LzhFlushBits(s);
}

}  // namespace vorn
