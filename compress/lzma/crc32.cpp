#include "compress/lzma/crc32.h"

#include "compress/byte_order.h"

namespace vorn::lzma {

namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

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

uint32_t UpdateCrc32(const uint32_t* table, uint32_t crc, const uint8_t* data, size_t size) {
    const uint32_t* const t = table;
    uint32_t c = ~crc;
    for (; size >= kCrcTables; size -= kCrcTables, data += kCrcTables)
        c = WordCrc(t, 12, c ^ LoadLe32(data)) ^ WordCrc(t, 8, LoadLe32(data + 4)) ^
            WordCrc(t, 4, LoadLe32(data + 8)) ^ WordCrc(t, 0, LoadLe32(data + 12));
    for (; size > 0; --size) c = (c >> 8) ^ t[(c ^ *data++) & 0xFF];
    return ~c;
}

}  // namespace vorn::lzma
