// Working fields of the LH5 codec inside TCodecState. The arrays are
// obtained by Lh5AllocState for one run and are empty between runs.
#pragma once

#include <cstdint>
#include <memory>

#include "compress/lh5/lh5_constants.h"

namespace vorn {

struct TLh5State {
    std::unique_ptr<uint8_t[]> TextBuf;          // expand: the ring window; compress: the text
    std::unique_ptr<uint8_t[]> NodeLevel;        // match trie (compressing)
    std::unique_ptr<uint8_t[]> NodeChildCount;
    std::unique_ptr<uint16_t[]> NodePosition;
    std::unique_ptr<uint16_t[]> NodeParent;
    std::unique_ptr<uint16_t[]> NodePrev;
    std::unique_ptr<uint8_t[]> BlockBuf;         // symbols of the block being filled

    uint8_t BitByte = 0;   // compress: the output byte being assembled
    uint8_t BitCount = 0;  // compress: free bit places left in BitByte
    uint16_t BlockCount = 0;
    uint16_t BitBuf = 0;

    std::unique_ptr<uint16_t[]> TreeLeft;        // Huffman tree links, nodes from the alphabet size on
    std::unique_ptr<uint16_t[]> TreeRight;
    std::unique_ptr<uint8_t[]> CharLen;
    uint8_t AuxLen[lh5::kAuxLenSize] = {};       // code-length or distance alphabet, whichever is current
    std::unique_ptr<uint16_t[]> CharFreq;        // then the weights of the tree's nodes
    std::unique_ptr<uint16_t[]> CharTable;       // expand: 12-bit lookup of the character alphabet
    std::unique_ptr<uint16_t[]> CharCode;
    uint16_t DistFreq[lh5::kDistFreqSize] = {};
    std::unique_ptr<uint16_t[]> AuxTable;        // expand: 8-bit lookup of the other alphabets
    std::unique_ptr<uint16_t[]> AuxCode;
    uint16_t LenFreq[lh5::kLenFreqSize] = {};

    int16_t TextPos = 0;
    int16_t FoundPos = 0;
    int16_t FreeNode = 0;
    std::unique_ptr<uint16_t[]> NodeNext;        // trie sibling links, free list and hash heads
    uint8_t TreeDepth = 0;
    uint16_t BlockBufPos = 0;
    uint16_t FlagMask = 0;
    uint16_t FlagPos = 0;
    int16_t TextLeft = 0;
    int16_t FoundLen = 0;
};

}  // namespace vorn
