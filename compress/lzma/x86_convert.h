// The body of TX86Converter, shared by both directions; included only by
// the two files that instantiate it.
#pragma once

#include <algorithm>

#include "compress/byte_order.h"
#include "compress/lzma/x86_filter.h"

namespace vorn::lzma::x86 {

constexpr bool IsNearTop(uint32_t b) { return b == 0x00 || b == 0xFF; }
constexpr bool IsBranch(uint8_t b) { return b == 0xE8 || b == 0xE9; }

// Where the displacement of a RIP-relative operand at p starts, 0 for none.
constexpr uint32_t RipDisplacementAt(const uint8_t* p) {
    constexpr uint8_t kRexW = 0x48, kRexMask = 0xF8, kModRmRip = 0x05, kModRmMask = 0xC7;
    if (p[0] == 0xFF && (p[1] == 0x15 || p[1] == 0x25)) return 2;
    if ((p[0] & kRexMask) != kRexW || (p[2] & kModRmMask) != kModRmRip) return 0;
    switch (p[1]) {
        case 0x8B: case 0x89: case 0x8D: case 0x63: case 0x3B: case 0x39: case 0x03: case 0x2B: return 3;
        default: return 0;
    }
}

// A converted operand made near again: its top byte follows bit 24, as the
// near range has it.
constexpr uint32_t Near(uint32_t operand) { return (operand & 0x00FFFFFFu) | (0u - (operand >> 24 & 1)) << 24; }

// Which patterns of recent untouched opcodes still allow a conversion, and
// which operand byte, counted from the top, such a pattern puts in doubt.
constexpr bool kPatternAllows[8] = {true, true, true, false, true, false, false, false};
constexpr uint32_t kDoubtedByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};

// Moves the pattern on by `distance` bytes: bit 3 and bit 7 fall out at each
// step, so four or more steps leave nothing.
inline uint32_t Age(uint32_t recent, uint32_t distance) {
    if (distance >= 4) return 0;
    for (uint32_t i = 0; i < distance; ++i) recent = (recent & 0x77) << 1;
    return recent;
}

// The operand at `position` turned absolute (encoding) or relative again
// (decoding). While the result's doubted byte looks near, the conversion
// is folded and repeated, so that decoding undoes exactly what encoding did.
template <X86Direction kDirection>
uint32_t Converted(uint32_t operand, uint32_t position, uint32_t recent) {
    for (;;) {
        const uint32_t next = position + 5;
        const uint32_t converted = kDirection == X86Direction::Encode ? operand + next : operand - next;
        if (recent == 0) return converted;
        const uint32_t shift = 24 - kDoubtedByte[recent >> 1] * 8;
        if (!IsNearTop(converted >> shift & 0xFF)) return converted;
        operand = converted ^ ((1u << (shift + 8)) - 1);
    }
}

}  // namespace vorn::lzma::x86

namespace vorn::lzma {

template <X86Direction kDirection>
size_t TX86Converter<kDirection>::Convert(uint8_t* data, size_t size) {
    if (!scope_.CodeOnly) return ConvertCode(data, size);
    const uint32_t first = at_;
    const auto offset = [&](uint32_t at) { return at <= first ? size_t{0} : std::min<size_t>(size, at - first); };
    const size_t start = offset(scope_.CodeStart), end = offset(scope_.CodeEnd);
    size_t ready = size;
    if (start < end) {
        const size_t done = ConvertCode(data + start, end - start);
        if (first + end < scope_.CodeEnd) ready = start + done;  // the code goes on
    }
    at_ += static_cast<uint32_t>(ready);
    return ready;
}

template <X86Direction kDirection>
size_t TX86Converter<kDirection>::ConvertCode(uint8_t* data, size_t size) {
    using namespace x86;
    const uint32_t window = ripRelative_ ? kX64OperandEnd : kX86OperandEnd;
    if (size < window) return 0;
    const size_t last = size - window;
    size_t i = 0;
    while (i <= last) {
        const uint32_t here = position_ + static_cast<uint32_t>(i);
        if (const uint32_t displacement = ripRelative_ ? RipDisplacementAt(data + i) : 0) {
            const uint32_t at = here + displacement;
            if (at > settled_ && IsNearTop(data[i + displacement + 3])) {
                // Relative to the end of the instruction, as the processor counts.
                const uint32_t operand = LoadLe32(data + i + displacement);
                StoreLe32(data + i + displacement,
                          Near(kDirection == X86Direction::Encode ? operand + at + 4 : operand - at - 4));
                i += displacement + 4;
            } else {
                Settle(at + 3);
                ++i;
            }
            continue;
        }
        if (!IsBranch(data[i])) {
            ++i;
            continue;
        }
        recent_ = Age(recent_, here - lastOpcode_);
        lastOpcode_ = here;
        const uint32_t top = data[i + 4];
        if (!IsNearTop(top) || !kPatternAllows[recent_ >> 1 & 7] || (recent_ >> 1) >= 0x10 ||
            (ripRelative_ && here < settled_)) {
            recent_ |= 1;
            if (IsNearTop(top)) recent_ |= 0x10;
            Settle(here + 4);
            ++i;
            continue;
        }
        StoreLe32(data + i + 1, Near(Converted<kDirection>(LoadLe32(data + i + 1), here, recent_)));
        recent_ = 0;
        i += kX86OperandEnd;
    }
    position_ += static_cast<uint32_t>(i);
    return i;
}

}  // namespace vorn::lzma
