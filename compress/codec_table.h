// The dispatcher's lookups, one per direction: method index to the codec
// that runs it. Each direction's table is linked with its codecs, so a
// program that only expands (the installer) carries no compressor. A method
// with no codec in a direction (custom, or an index past the methods) gives
// null, and runs nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compress/codec_fn.h"
#include "compress/codec_state.h"

namespace vorn {


// A codec that needs no size, as a table entry.
template <void (*Codec)(TCodecState&)>
void IgnoringSize(TCodecState& s, int32_t) {
    Codec(s);
}

template <size_t N>
CodecFn EntryFor(const CodecFn (&table)[N], uint8_t method) {
    return method < N ? table[method] : nullptr;
}

CodecFn ExpanderFor(uint8_t method);    // expander_table.cpp
CodecFn CompressorFor(uint8_t method);  // compressor_table.cpp

}  // namespace vorn
