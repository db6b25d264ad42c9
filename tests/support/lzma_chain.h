// The links of one LZM chain, made by liblzma: its raw LZMA2 encoder,
// flushed after each piece, and its x86 converter on each piece alone.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/test_support.h"

namespace vorn::test {

struct TChainCase {
    uint8_t Lc = 3, Lp = 0, Pb = 2;
    uint32_t Dictionary = 1u << 20;
    bool X86 = false;
};

// One stream (VORN header, chained head, chunks) per piece, in chain order.
std::vector<Bytes> LzmaChain(const std::vector<Bytes>& pieces, const TChainCase& c = {});

}  // namespace vorn::test
