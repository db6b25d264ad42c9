// Working fields of the LZH codec inside TCodecState. The arrays are
// obtained at the start of a run and released at its end (LzhFreeState);
// between runs every reference is empty.
#pragma once

#include <cstdint>
#include <memory>

#include "compress/octet.h"

namespace vorn {

struct TLzhState {
    // The compressor's ring of past bytes, positions 0..58 repeated behind
    // position 4,095.
    std::unique_ptr<uint8_t[]> RingBuf;
    // The expander's text (lzh::kExpandBufSize bytes): the ring's history in a
    // line, then the bytes being decoded.
    std::unique_ptr<TOctet[]> TextBuf;
    // Match trees (compressor only): children and parent of each ring
    // position, the tree roots behind the positions in MatchRight, and how
    // many leading bytes each node shares with its parent.
    std::unique_ptr<int16_t[]> MatchLeft;
    std::unique_ptr<int16_t[]> MatchRight;
    std::unique_ptr<int16_t[]> MatchParent;
    std::unique_ptr<uint8_t[]> SharedLen;
    // The adaptive code tree: weight and child of each slot, the parent of
    // each slot, and behind those the slot of each symbol's leaf.
    std::unique_ptr<uint16_t[]> HuffFreq;
    std::unique_ptr<int16_t[]> HuffParent;
    std::unique_ptr<int16_t[]> HuffChild;

    uint16_t PutBuf = 0;  // output bits not yet written, the earliest at bit 15
    uint8_t PutLen = 0;
    uint16_t LzhMatchPos = 0;  // distance and length of the last insertion's best match
    uint16_t LzhMatchLen = 0;
};

}  // namespace vorn
