// Test-only companions of the LH5 codec: a bit writer for building streams
// by hand, and a slow, bit-by-bit reference decoder that also records what
// it read, so tests can say which bits a stream holds.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/test_support.h"

namespace vorn::test {

// Bits most significant first; Data() pads the last byte with 0 bits.
class TBitWriter {
public:
    void Put(int n, uint32_t value);
    // A length of the code-length or distance table: 3 bits, or 7 + unary.
    void PutAuxLength(int length);
    test::Bytes Data() const;

private:
    std::vector<bool> bits_;
};

struct TBlockTrace {
    uint32_t Count = 0;                  // symbols in the block (0 read as 65,536)
    std::vector<int> LenLengths;          // code-length alphabet, 19 entries
    std::vector<int> LenItems;            // code-length symbols of the character table, in order
    std::vector<int> CharLengths;         // 510 entries
    std::vector<int> DistLengths;         // 14 entries
    int CharSingle = -1;                  // the symbol of a count-0 character table
};

struct TSymbolTrace {
    int Symbol;    // character-alphabet symbol
    int Distance;  // distance minus one for a match, else -1
};

struct TReferenceTrace {
    std::vector<TBlockTrace> Blocks;
    std::vector<TSymbolTrace> Symbols;
};

// Expands raw LH5 codec data the slow way. Raises ELZHBadDecodeTable on the
// tables the codec rejects.
Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize, TReferenceTrace* trace = nullptr);

}  // namespace vorn::test
