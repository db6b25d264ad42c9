// The "LZM" method: LZMA with an optional x86 branch filter, brought into
// TVornCodec through its custom-method events.
#pragma once

#include "compress/stream.h"
#include "compress/vorn_codec.h"

namespace vorn::lzma {

// Lets codec expand "LZM" streams: OnRecognize accepts the ID (other IDs go
// to the handler that was there before, if any) and OnExpand runs the LZMA
// expander through the codec's engine, in its 8 KB blocks with progress and
// cancel, held to the built-in methods' truth: the header's size exactly,
// every byte of its data and no more, the CRC-32 of the head. The installer
// and both tools make this call once after creating their codec.
void UseLzmaMethod(TVornCodec& codec);

// Whether the stream at source's position, which is left where it was, is
// a link of a chain: one that the caller does not want must still be
// expanded (into nothing) for the chain's next link to find its place.
bool IsChainLink(TStream& source);

}  // namespace vorn::lzma
