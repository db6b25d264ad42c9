// Test-side helpers for the LZH codec: codes read off the model by climbing
// from a leaf, and a token writer and reader that work on strings of '0'
// and '1', so a test states in plain bits what the codec data holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compress/lzh/lzh_model.h"
#include "tests/support/test_support.h"

namespace vorn::test {

// Owns the arrays of a model outside any run.
struct LzhModel {
    LzhModel();
    ~LzhModel();
    TLzhState z;
};

// The current code of symbol, first bit first.
std::string SymbolCode(const TLzhState& z, int symbol);
// The position code of distance d, first bit first.
std::string PositionCode(int d);

struct LzhToken {
    int length = 1;  // 1: a literal
    int value = 0;   // the literal byte, or the match distance
    bool operator==(const LzhToken&) const = default;
};
LzhToken Lit(uint8_t b);
LzhToken Match(int length, int distance);

// Codes tokens as the compressor would, with a model that evolves the same way.
class LzhTokenWriter {
public:
    void Put(const LzhToken& token);
    void PutSymbol(uint16_t symbol);
    Bytes Data() const { return PackBits(bits_); }

private:
    LzhModel model_;
    std::string bits_;
};

// Reads codec data back into tokens until their lengths reach size.
std::vector<LzhToken> ReadTokens(const Bytes& codecData, int size);

}  // namespace vorn::test
