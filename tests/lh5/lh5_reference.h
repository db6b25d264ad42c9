// A slow, bit-by-bit LH5 decoder written from the format alone, to hold
// the fast expander and the compressor against.
#pragma once

#include "tests/support/test_support.h"

namespace vorn::test {

// Expands raw LH5 codec data, reading 0 bits past its end. Raises
// ELZHBadDecodeTable on the tables the codec rejects.
Bytes ReferenceExpand(const Bytes& codecData, int32_t uncompressedSize);

}  // namespace vorn::test
