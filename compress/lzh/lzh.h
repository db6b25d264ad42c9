// The LZH method (index 2): LZSS over a 4,096-byte ring with matches of 3
// to 60 bytes, literals and lengths under an adaptive Huffman code,
// distances under a fixed prefix code. The codec data carries no header,
// size or end marker: the expander stops by the uncompressed size.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"

namespace vorn {

// Expands until uncompressedSize bytes are written. Missing bits read as 0,
// but once a symbol has taken one the expander stops, with ReadPastEnd set.
// A damaged last match may carry the output up to 59 bytes past the size.
void LzhExpand(TCodecState& s, int32_t uncompressedSize);

// Compresses the whole source; empty input gives no byte at all.
void LzhCompress(TCodecState& s);

// Writes symbol's current code and updates the model; codes longer than 16
// bits go out in two pieces.
void LzhEncodeSymbol(TCodecState& s, uint16_t symbol);
// Writes the last partial byte, its unused low bits 0.
void LzhFlushBits(TCodecState& s);

}  // namespace vorn
