// Constants of the LZH method, shared by the expander and the compressor:
// ring and match sizes, the symbol alphabet, the code tree's layout, the
// sizes of the working arrays and the four tables of the position code.
#pragma once

#include <array>
#include <cstdint>

namespace vorn {

// The ring of past bytes and the matches taken from it.
inline constexpr int LzhRingSize = 4096;
inline constexpr int LzhRingMask = LzhRingSize - 1;
inline constexpr int LzhMaxMatch = 60;  // also the length of the look-ahead
inline constexpr int LzhThreshold = 2;  // a match is longer than this
inline constexpr int LzhRingStart = LzhRingSize - LzhMaxMatch;  // first coded position, 4,036
inline constexpr uint8_t LzhRingFill = 0x20;                    // positions before LzhRingStart
inline constexpr uint8_t LzhUnsetFill = 0;  // ring positions neither the fill nor the data set

// Symbols: 0..255 literals, 256..313 match lengths 3..60.
inline constexpr int LzhSymbols = 256 - LzhThreshold + LzhMaxMatch;  // 314
inline constexpr int LzhMatchSymbolBase = 256 - LzhThreshold - 1;   // symbol = length + 253

// The code tree: slots 0..626 hold nodes, the root stays in the last one.
// A child value of LzhLeafBase or more names the leaf of symbol value - 627.
inline constexpr int LzhNodes = 2 * LzhSymbols - 1;  // 627
inline constexpr int LzhRoot = LzhNodes - 1;         // 626
inline constexpr int LzhLeafBase = LzhNodes;
inline constexpr uint16_t LzhMaxFreq = 0x8000;  // root weight that triggers a rebuild
inline constexpr uint16_t LzhFreqStop = 0xFFFF;  // HuffFreq[LzhNodes]: ends every upward scan

// The match trees: ring positions are nodes, LzhNil is no node, and the
// 4,096 tree roots follow it in MatchRight.
inline constexpr int LzhNil = LzhRingSize;
inline constexpr int LzhTreeRootBase = LzhNil + 1;  // 4,097
inline constexpr int LzhTreeCount = 4096;
// Positions below this are repeated behind the ring, so that every
// LzhMaxMatch-byte string can be read without wrapping.
inline constexpr int LzhMirrorLen = LzhMaxMatch - 1;  // 59

// Sizes of the working arrays, in elements.
inline constexpr int LzhRingBufSize = LzhRingSize + LzhMaxMatch;       // 4,156 (4,155 used)
inline constexpr int LzhMatchLeftSize = LzhRingSize + 1;               // 4,097
inline constexpr int LzhMatchRightSize = LzhTreeRootBase + LzhTreeCount + 1;  // 8,194
inline constexpr int LzhMatchParentSize = LzhRingSize + 2;             // 4,098
inline constexpr int LzhSharedLenSize = LzhRingSize + 2;               // 4,098
inline constexpr int LzhHuffFreqSize = LzhNodes + 1;                   // 628
inline constexpr int LzhHuffParentSize = LzhNodes + LzhSymbols + 1;    // 942 (941 used)
inline constexpr int LzhHuffChildSize = LzhNodes + 1;                  // 628 (627 used)
// The expander's text: the ring's 4,096 bytes of history laid out in a
// line, then the area symbols are decoded into.
inline constexpr int LzhExpandAreaSize = 32768;
inline constexpr int LzhExpandBufSize = LzhRingSize + LzhExpandAreaSize;

// The position code: the upper 6 bits u of a distance take a fixed prefix
// code of 3 to 8 bits, the lower 6 bits follow as they are.
inline constexpr int LzhPosLowBits = 6;
inline constexpr int LzhPosSlots = 64;

namespace lzh_detail {

// Code lengths come in bands: the first u of each length and its first code.
struct PosBand {
    int FirstU;
    int Length;
    int FirstCode;
};
inline constexpr PosBand kPosBands[] = {
    {0, 3, 0x00}, {1, 4, 0x20}, {4, 5, 0x50}, {12, 6, 0x90}, {24, 7, 0xC0}, {48, 8, 0xF0}, {64, 0, 0},
};

constexpr std::array<uint8_t, LzhPosSlots> MakePosLen() {
    std::array<uint8_t, LzhPosSlots> len{};
    for (int b = 0; kPosBands[b].Length != 0; ++b)
        for (int u = kPosBands[b].FirstU; u < kPosBands[b + 1].FirstU; ++u)
            len[u] = static_cast<uint8_t>(kPosBands[b].Length);
    return len;
}

constexpr std::array<uint8_t, LzhPosSlots> MakePosCode() {
    std::array<uint8_t, LzhPosSlots> code{};
    for (int b = 0; kPosBands[b].Length != 0; ++b)
        for (int u = kPosBands[b].FirstU; u < kPosBands[b + 1].FirstU; ++u)
            code[u] = static_cast<uint8_t>(kPosBands[b].FirstCode +
                                           ((u - kPosBands[b].FirstU) << (8 - kPosBands[b].Length)));
    return code;
}

}  // namespace lzh_detail

// LzhPosLen[u]: code length in bits; LzhPosCode[u]: the code in the top bits.
inline constexpr std::array<uint8_t, LzhPosSlots> LzhPosLen = lzh_detail::MakePosLen();
inline constexpr std::array<uint8_t, LzhPosSlots> LzhPosCode = lzh_detail::MakePosCode();

namespace lzh_detail {

// Every byte value starts with exactly one code: the 2^(8 - length) values
// from a code upward belong to it.
constexpr std::array<uint8_t, 256> MakeByteTable(bool lengths) {
    std::array<uint8_t, 256> table{};
    for (int u = 0; u < LzhPosSlots; ++u)
        for (int b = LzhPosCode[u]; b < LzhPosCode[u] + (1 << (8 - LzhPosLen[u])); ++b)
            table[b] = static_cast<uint8_t>(lengths ? LzhPosLen[u] : u);
    return table;
}

}  // namespace lzh_detail

// Indexed by the next 8 bits of input: the u whose code they start with,
// and that code's length.
inline constexpr std::array<uint8_t, 256> LzhBytePos = lzh_detail::MakeByteTable(false);
inline constexpr std::array<uint8_t, 256> LzhByteLen = lzh_detail::MakeByteTable(true);

}  // namespace vorn
