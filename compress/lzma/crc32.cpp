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

uint32_t UpdateCrc32(const uint32_t* table, uint32_t crc, const uint8_t* data, size_t size) {
    const uint32_t* const t = table;
    uint32_t c = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t low = c ^ LoadLe32(data);
        const uint32_t high = LoadLe32(data + 4);
        c = t[7 * 256 + (low & 0xFF)] ^ t[6 * 256 + (low >> 8 & 0xFF)] ^
            t[5 * 256 + (low >> 16 & 0xFF)] ^ t[4 * 256 + (low >> 24)] ^
            t[3 * 256 + (high & 0xFF)] ^ t[2 * 256 + (high >> 8 & 0xFF)] ^
            t[1 * 256 + (high >> 16 & 0xFF)] ^ t[high >> 24];
    }
    for (; size > 0; --size) c = (c >> 8) ^ t[(c ^ *data++) & 0xFF];
    return ~c;
}

}  // namespace vorn::lzma
