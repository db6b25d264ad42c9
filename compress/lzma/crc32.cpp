#include "compress/lzma/crc32.h"

#include "compress/byte_order.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define VORN_CARRYLESS_CRC 1
#endif

namespace vorn::lzma {

namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

#ifdef VORN_CARRYLESS_CRC
// Carry-less multiplication folds the data into four 128-bit lanes 64 bytes
// at a time, then the lanes into one, and Barrett reduction takes that to
// the CRC, several times faster than the tables. The constants are powers of x
// modulo the polynomial, bit-reflected like it: folding over 64 bytes
// (kFold64), over 16 bytes (kFold16; its high half also takes 128 bits to
// 64), 64 bits to 32 (kFold8), and the polynomial with its Barrett quotient.
constexpr size_t kLane = 16;
constexpr size_t kLanes = 4;
constexpr size_t kMinFolded = kLane * kLanes;

#define VORN_CARRYLESS __attribute__((target("pclmul,sse2")))

VORN_CARRYLESS __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// x times the fold constants, both halves, plus the data it is folded onto.
VORN_CARRYLESS __m128i Fold(__m128i x, __m128i k, __m128i onto) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), onto);
}

// The CRC register (not inverted) after size bytes: size at least
// kMinFolded and a multiple of kLane.
VORN_CARRYLESS uint32_t FoldedCrc(uint32_t c, const uint8_t* p, size_t size) {
    const __m128i kFold64 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i kFold16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i kFold8 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i kBarrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i lane[kLanes];
    for (size_t i = 0; i < kLanes; ++i) lane[i] = Load(p + i * kLane);
    lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi32_si128(static_cast<int>(c)));
    for (p += kMinFolded, size -= kMinFolded; size >= kMinFolded; p += kMinFolded, size -= kMinFolded)
        for (size_t i = 0; i < kLanes; ++i) lane[i] = Fold(lane[i], kFold64, Load(p + i * kLane));
    __m128i x = lane[0];
    for (size_t i = 1; i < kLanes; ++i) x = Fold(x, kFold16, lane[i]);
    for (; size > 0; p += kLane, size -= kLane) x = Fold(x, kFold16, Load(p));
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, kFold16, 0x10), _mm_srli_si128(x, 8));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), kFold8, 0x00), _mm_srli_si128(x, 4));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), kBarrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), kBarrett, 0x00);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, q), 4)));
}

// Folds what it can of data into c, leaving the rest to the tables.
void FoldBulk(uint32_t& c, const uint8_t*& data, size_t& size) {
    if (size < kMinFolded) return;
    const size_t bulk = size & ~(kLane - 1);
    c = FoldedCrc(c, data, bulk);
    data += bulk;
    size -= bulk;
}
#else
void FoldBulk(uint32_t&, const uint8_t*&, size_t&) {}
#endif

}  // namespace

void BuildCrcTable(uint32_t* table) {
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (kReflectedPolynomial & (0u - (c & 1)));
        table[b] = c;
    }
    for (size_t i = 256; i < kCrcTableSize; ++i) {
        const uint32_t c = table[i - 256];
        table[i] = (c >> 8) ^ table[c & 0xFF];
    }
}

// The CRC contributions of the four bytes of w when `row` bytes follow them.
inline uint32_t WordCrc(const uint32_t* t, int row, uint32_t w) {
    return t[(row + 3) * 256 + (w & 0xFF)] ^ t[(row + 2) * 256 + (w >> 8 & 0xFF)] ^
           t[(row + 1) * 256 + (w >> 16 & 0xFF)] ^ t[row * 256 + (w >> 24)];
}

// Asked of the processor directly: the compiler's feature check brings
// kilobytes of start-up code into the installer.
bool HasCarrylessMultiply() {
#ifdef VORN_CARRYLESS_CRC
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) != 0;
#else
    return false;
#endif
}

uint32_t UpdateCrc32(const uint32_t* table, uint32_t crc, const uint8_t* data, size_t size, bool carryless) {
    const uint32_t* const t = table;
    uint32_t c = ~crc;
    if (carryless) FoldBulk(c, data, size);
    for (; size >= kCrcTables; size -= kCrcTables, data += kCrcTables)
        c = WordCrc(t, 12, c ^ LoadLe32(data)) ^ WordCrc(t, 8, LoadLe32(data + 4)) ^
            WordCrc(t, 4, LoadLe32(data + 8)) ^ WordCrc(t, 0, LoadLe32(data + 12));
    for (; size > 0; --size) c = (c >> 8) ^ t[(c ^ *data++) & 0xFF];
    return ~c;
}

}  // namespace vorn::lzma
