// Comparing strings eight bytes at a time, for the match finders of the LZ
// compressors: one compare settles most match lengths.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vorn {

inline uint64_t LoadWord(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// How many leading bytes, in memory order, the words loaded from two
// places share; the words must differ.
inline int SharedLeadingBytes(uint64_t x, uint64_t y) {
    const uint64_t diff = x ^ y;
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(diff) / 8;
    else
        return std::countl_zero(diff) / 8;
}

}  // namespace vorn
