// Constants of the LH5 method, shared by the expander and the compressor.
#pragma once

#include <cstdint>

namespace vorn::lh5 {

// Sliding window and matches.
inline constexpr int kWindowSize = 8192;
inline constexpr int kWindowMask = kWindowSize - 1;
inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 256;
inline constexpr uint8_t kInitialWindowByte = 0x20;

// Alphabets: literals and match lengths, distance classes, code lengths.
inline constexpr int kCharAlphabet = 510;  // 0..255 literals, 256 + (length - 3)
inline constexpr int kFirstMatchSymbol = 256;
inline constexpr int kMatchSymbolBias = kFirstMatchSymbol - kMinMatch;  // symbol = length + 253
inline constexpr int kDistAlphabet = 14;
inline constexpr int kLenAlphabet = 19;

// Field widths of a block header.
inline constexpr int kBlockCountBits = 16;
inline constexpr int kCharCountBits = 9;
inline constexpr int kLenCountBits = 5;
inline constexpr int kDistCountBits = 4;
inline constexpr int kNoSpecial = -1;
inline constexpr int kLenSpecial = 3;  // a 2-bit zero run follows the third code length
inline constexpr int kLenSpecialBits = 2;
inline constexpr int kLenFieldBits = 3;        // code lengths 0..6, 7 escapes to unary
inline constexpr int kLenFieldEscape = 7;
inline constexpr int kShortZeroRunBits = 4;    // code-length symbol 1: 3..18 zeros
inline constexpr int kShortZeroRunBase = 3;
inline constexpr int kLongZeroRunBits = 9;     // code-length symbol 2: 20..531 zeros
inline constexpr int kLongZeroRunBase = 20;
inline constexpr int kLenSymbolBias = 2;       // code-length symbol = length + 2

// Codes.
inline constexpr int kMaxCodeLen = 16;
inline constexpr int kCharTableBits = 12;
inline constexpr int kAuxTableBits = 8;

// Array sizes of the state block.
inline constexpr int kTextBufSize = 2 * kWindowSize + kMaxMatch + 1;  // 16,641
// Expanding: 8 KB of history, 32 KB to decode into, room for a last match.
inline constexpr int kExpandBufSize = 5 * kWindowSize + kMaxMatch + 32;
inline constexpr int kTreeSize = 2 * kCharAlphabet;                   // 1,020
inline constexpr int kCharLenSize = kCharAlphabet + 1;                // 511
inline constexpr int kAuxLenSize = 129;
inline constexpr int kCharTableSize = (1 << kCharTableBits) + 1;
inline constexpr int kAuxTableSize = (1 << kAuxTableBits) + 1;
inline constexpr int kCharCodeSize = kCharAlphabet + 1;
inline constexpr int kAuxCodeSize = 129;
inline constexpr int kDistFreqSize = 2 * kDistAlphabet;  // 28
inline constexpr int kLenFreqSize = 2 * kLenAlphabet;    // 38

// Block buffer of the compressor: a flag byte per eight symbols, a literal
// in one byte, a match in three.
inline constexpr int kBlockBufSize = 16384;
inline constexpr int kBlockSendLimit = kBlockBufSize - 24;  // checked when a group begins

// Match trie of the compressor.
inline constexpr int kTextStart = kWindowSize + kMaxMatch;  // first position coded: 8,448
inline constexpr int kTextSlideAt = 2 * kWindowSize;        // 16,384
inline constexpr int kTextEnd = 2 * kWindowSize + kMaxMatch;  // 16,640 bytes of text
inline constexpr int kInternalNodes = kWindowSize;           // 1..8,191
inline constexpr int kRootBase = kWindowSize;                // root of byte c: 8,192 + c
inline constexpr int kLeafEnd = 2 * kWindowSize;              // leaves 8,192..16,383
inline constexpr int kNodeCount = kLeafEnd;                   // node 0 is nil
inline constexpr int kHashBits = 17;
inline constexpr int kHashHeads = 1 << kHashBits;
inline constexpr int kNodeBytes = 16;                         // the size of a node's record
inline constexpr int kHeadsOffset = kNodeCount * kNodeBytes;  // the heads follow the nodes
inline constexpr int kTrieBytes = kHeadsOffset + kHashHeads * 2;  // 524,288
inline constexpr uint16_t kPercolateFlag = 0x8000;
inline constexpr uint16_t kPositionMask = 0x7FFF;

}  // namespace vorn::lh5
