// Test-only companions of the LH5 codec: a bit writer for building streams
// by hand, and a slow, bit-by-bit reference decoder that also records what
// it read, so tests can say which bits a stream holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace vorn::test {

// Bits most significant first; Data() pads the last byte with 0 bits.
class TBitWriter {
public:
    void Put(int n, uint32_t value);
    // A length of the code-length or distance table: 3 bits, or 7 + unary.
    void PutAuxLength(int length);
    Bytes Data() const { return PackBits(bits_); }

private:
    std::string bits_;
};

struct TSymbolTrace {
    int Symbol;    // character-alphabet symbol
    int Distance;  // distance minus one for a match, else -1
};

using TReferenceTrace = std::vector<TSymbolTrace>;

// Expands raw LH5 codec data the slow way, noting every symbol in trace.
// Raises ELZHBadDecodeTable on the tables the codec rejects.
Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize, TReferenceTrace* trace = nullptr);

}  // namespace vorn::test
