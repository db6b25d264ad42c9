// Run-length codec (method "RLE"): literals, escaped escapes 94 00, and runs
// 94 c standing for c - 1 more copies of the preceding item's first byte.
#pragma once

#include "compress/codec_state.h"

namespace vorn {

inline constexpr uint8_t RleEscape = 0x94;

void RleCompress(TCodecState& s);
void RleExpand(TCodecState& s);

}  // namespace vorn
