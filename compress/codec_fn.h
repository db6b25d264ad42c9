// What a codec is to the component: a run over the engine's state, which
// only the library itself knows.
#pragma once

#include <cstdint>

namespace vorn {

struct TCodecState;

// One codec run. The uncompressed size tells an expander where to stop;
// the stored and run-length expanders and every compressor ignore it.
using CodecFn = void (*)(TCodecState& s, int32_t uncompressedSize);

}  // namespace vorn
