// Constants of the LZH method, shared by the expander and the compressor:
// ring and match sizes, the symbol alphabet, the code tree's layout, the
// sizes of the working arrays and the four tables of the position code.
#pragma once

#include <array>
#include <cstdint>

namespace vorn::lzh {

// The ring of past bytes and the matches taken from it.
inline constexpr int kRingSize = 4096;
inline constexpr int kRingMask = kRingSize - 1;
inline constexpr int kMaxMatch = 60;  // also the length of the look-ahead
inline constexpr int kThreshold = 2;  // a match is longer than this
inline constexpr int kRingStart = kRingSize - kMaxMatch;  // first coded position, 4,036
inline constexpr uint8_t kRingFill = 0x20;                    // positions before kRingStart
inline constexpr uint8_t kUnsetFill = 0;  // ring positions neither the fill nor the data set

// Symbols: 0..255 literals, 256..313 match lengths 3..60.
inline constexpr int kSymbols = 256 - kThreshold + kMaxMatch;  // 314
inline constexpr int kMatchSymbolBase = 256 - kThreshold - 1;   // symbol = length + 253

// The code tree: slots 0..626 hold nodes, the root stays in the last one.
// A child value of kLeafBase or more names the leaf of symbol value - 627.
inline constexpr int kNodes = 2 * kSymbols - 1;  // 627
inline constexpr int kRoot = kNodes - 1;         // 626
inline constexpr int kLeafBase = kNodes;
inline constexpr uint16_t kMaxFreq = 0x8000;  // root weight that triggers a rebuild
inline constexpr uint16_t kFreqStop = 0xFFFF;  // HuffFreq[kNodes]: ends every upward scan

// The match trees: ring positions are nodes, kNil is no node, and the
// 4,096 tree roots follow it in MatchRight.
inline constexpr int kNil = kRingSize;
inline constexpr int kTreeRootBase = kNil + 1;  // 4,097
inline constexpr int kTreeCount = 4096;
// Positions below this are repeated behind the ring, so that every
// kMaxMatch-byte string can be read without wrapping.
inline constexpr int kMirrorLen = kMaxMatch - 1;  // 59

// Sizes of the working arrays, in elements.
inline constexpr int kRingBufSize = kRingSize + kMaxMatch;       // 4,156 (4,155 used)
inline constexpr int kMatchLeftSize = kRingSize + 1;               // 4,097
inline constexpr int kMatchRightSize = kTreeRootBase + kTreeCount + 1;  // 8,194
inline constexpr int kMatchParentSize = kRingSize + 2;             // 4,098
inline constexpr int kSharedLenSize = kRingSize + 2;               // 4,098
inline constexpr int kHuffFreqSize = kNodes + 1;                   // 628
inline constexpr int kHuffParentSize = kNodes + kSymbols + 1;    // 942 (941 used)
inline constexpr int kHuffChildSize = kNodes + 1;                  // 628 (627 used)
// The expander's text: the ring's 4,096 bytes of history laid out in a
// line, then the area symbols are decoded into.
inline constexpr int kExpandAreaSize = 32768;
inline constexpr int kExpandBufSize = kRingSize + kExpandAreaSize;

// The position code: the upper 6 bits u of a distance take a fixed prefix
// code of 3 to 8 bits, the lower 6 bits follow as they are.
inline constexpr int kPosLowBits = 6;
inline constexpr int kPosSlots = 64;

namespace detail {

// Code lengths come in bands: the first u of each length and its first code.
struct PosBand {
    int FirstU;
    int Length;
    int FirstCode;
};
inline constexpr PosBand kPosBands[] = {
    {0, 3, 0x00}, {1, 4, 0x20}, {4, 5, 0x50}, {12, 6, 0x90}, {24, 7, 0xC0}, {48, 8, 0xF0}, {64, 0, 0},
};

constexpr std::array<uint8_t, kPosSlots> MakePosLen() {
    std::array<uint8_t, kPosSlots> len{};
    for (int b = 0; kPosBands[b].Length != 0; ++b)
        for (int u = kPosBands[b].FirstU; u < kPosBands[b + 1].FirstU; ++u)
            len[u] = static_cast<uint8_t>(kPosBands[b].Length);
    return len;
}

constexpr std::array<uint8_t, kPosSlots> MakePosCode() {
    std::array<uint8_t, kPosSlots> code{};
    for (int b = 0; kPosBands[b].Length != 0; ++b)
        for (int u = kPosBands[b].FirstU; u < kPosBands[b + 1].FirstU; ++u)
            code[u] = static_cast<uint8_t>(kPosBands[b].FirstCode +
                                           ((u - kPosBands[b].FirstU) << (8 - kPosBands[b].Length)));
    return code;
}

}  // namespace detail

// kPosLen[u]: code length in bits; kPosCode[u]: the code in the top bits.
inline constexpr std::array<uint8_t, kPosSlots> kPosLen = detail::MakePosLen();
inline constexpr std::array<uint8_t, kPosSlots> kPosCode = detail::MakePosCode();

namespace detail {

// Every byte value starts with exactly one code: the 2^(8 - length) values
// from a code upward belong to it.
constexpr std::array<uint8_t, 256> MakeByteTable(bool lengths) {
    std::array<uint8_t, 256> table{};
    for (int u = 0; u < kPosSlots; ++u)
        for (int b = kPosCode[u]; b < kPosCode[u] + (1 << (8 - kPosLen[u])); ++b)
            table[b] = static_cast<uint8_t>(lengths ? kPosLen[u] : u);
    return table;
}

}  // namespace detail

// Indexed by the next 8 bits of input: the u whose code they start with,
// and that code's length.
inline constexpr std::array<uint8_t, 256> kBytePos = detail::MakeByteTable(false);
inline constexpr std::array<uint8_t, 256> kByteLen = detail::MakeByteTable(true);

}  // namespace vorn::lzh
