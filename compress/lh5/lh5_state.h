// Working fields of the LH5 codec inside TCodecState. The arrays are
// obtained by Lh5AllocState for one run and are empty between runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "compress/lh5/lh5_constants.h"
#include "compress/octet.h"

namespace vorn {

// A node of the compressor's match trie in one 16-byte record, four to a
// cache line: a split or a deletion reads and relinks a node's tree fields
// and its sibling links together. Roots (8,192 + c) share their numbers
// with leaves without conflict: roots use only Position, Level, ChildCount
// and ChildXor, leaves only Parent and the sibling links.
struct TLh5Node {
    uint16_t Parent;    // 0 when the node is not in the trie; Parent of node 0 is the search sentinel
    uint16_t Position;  // internal nodes and roots: a recent position, bit 15 the percolation flag
    uint8_t Level;      // internal nodes and roots: length of the prefix the node stands for
    uint8_t ChildCount;
    uint16_t ChildXor;  // internal nodes: the XOR of the children's numbers, which names the
                        // only child of a node left with one without a search
    uint32_t Prev;      // the link that leads to this node in its sibling chain: the byte offset
                        // in the trie block of the Next before it, or of the chain's head
    uint16_t Next;      // next in the sibling chain, the free list, a replaced leaf's successor
};
static_assert(sizeof(TLh5Node) == lh5::kNodeBytes);

struct TLh5State {
    std::unique_ptr<TOctet[]> TextBuf;           // expand: the ring window; compress: the text
    std::unique_ptr<std::byte[]> Trie;           // compress: the nodes, then the chain heads
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

    uint8_t TreeDepth = 0;
    uint16_t BlockBufPos = 0;
    uint16_t FlagMask = 0;
    uint16_t FlagPos = 0;
};

}  // namespace vorn
