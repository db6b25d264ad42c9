// The "LZM" method: LZMA with an optional x86 branch filter, brought into
// TVornCodec through its custom-method events.
#pragma once

#include "compress/vorn_codec.h"

namespace vorn::lzma {

// Lets codec expand "LZM" streams: OnRecognize accepts the ID (other IDs go
// to the handler that was there before, if any) and OnExpand runs the LZMA
// expander through the codec's engine, in its 8 KB blocks with progress and
// cancel, held to the built-in methods' truth: the header's size exactly,
// every byte of its data and no more, the CRC-32 of the head. The installer
// and both tools make this call once after creating their codec.
void UseLzmaMethod(TVornCodec& codec);

}  // namespace vorn::lzma
