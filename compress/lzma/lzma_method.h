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
// every byte of its data and no more, the CRC-32 of the head. Programs
// reach it through UseCustomMethods (compress/custom_methods.h).
void UseLzmaMethod(TVornCodec& codec);

// Names the installer whose bytes seed its seeded streams (lzma_format.h),
// which must outlive codec's runs. Their seed is read through it, and its
// position put back; a stream whose seed the installer does not hold, or
// that comes with no installer named, is refused.
void SetSeed(TVornCodec& codec, TStream& installer);

// Passes over the stream at source's position, which the caller does not
// want: a link of a chain is expanded into nothing, since the chain's next
// link goes on from where it ends; any other is left unread. Faults are not
// raised: a link that follows a damaged one refuses by itself.
void PassOver(TVornCodec& codec, TStream& source);

}  // namespace vorn::lzma
