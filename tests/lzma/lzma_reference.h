// liblzma as the reference: raw LZMA1 data from its encoder and its x86
// branch converter, and whole "LZM" streams built from them.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/lzma/lzma_format.h"

namespace vorn::test {

using Bytes = std::vector<uint8_t>;

struct TLzmaCase {
    uint8_t Lc = 3, Lp = 0, Pb = 2;
    uint32_t Dictionary = 1u << 20;
    bool EndMarker = true;
    bool X86 = false;
};

// Raw LZMA1 data (after the x86 converter when asked).
Bytes ReferenceEncode(const Bytes& input, const TLzmaCase& c);
// liblzma's x86 converter over the whole input, decoding direction.
Bytes ReferenceX86Decode(const Bytes& input);
// VORN header, head and the reference data: a stream ExpandStream reads.
Bytes LzmStream(const Bytes& input, const TLzmaCase& c);

}  // namespace vorn::test
