// The expander of "LZM" streams: the head of lzma_format.h, raw LZMA data,
// the branch filter the head names and the CRC-32 of the result.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"

namespace vorn {

// Expands codec data into exactly uncompressedSize bytes, through the
// engine. It stops early, writing less, when the data are damaged: a head
// out of range, a distance before the start or past the dictionary, a match
// past the size, anything but an end marker after the last byte, a CRC-32
// that differs (all set s.Damaged), or data that run out (s.ReadPastEnd).
// The arrays of the run are released on every way out.
void LzmaExpand(TCodecState& s, int32_t uncompressedSize);

}  // namespace vorn
