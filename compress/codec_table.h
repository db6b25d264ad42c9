// The dispatcher's table: method index to expander and compressor. A codec
// that a build does not carry, or a method with none (custom), is null and
// runs nothing.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"

namespace vorn {

// Expanders take UncompressedSize; stored and run-length ignore it.
using ExpandFn = void (*)(TCodecState& s, int32_t uncompressedSize);
using CompressFn = void (*)(TCodecState& s);

struct CodecRow {
    ExpandFn Expand;
    CompressFn Compress;
};

// The row of a method index; every index has one.
const CodecRow& CodecFor(uint8_t method);

}  // namespace vorn
