// The component's insides, for the library's own code and its tests: the
// engine of a TVornCodec, its state and the dispatch tables. Tools and the
// installer compile against vorn_codec.h alone.
#pragma once

#include <cstdint>
#include <limits>

#include "compress/codec_state.h"
#include "compress/codec_table.h"
#include "compress/vorn_codec.h"

namespace vorn {

// One run of a codec over the engine: the streams, from their positions;
// the codec data's size (the source's when compressing); where an expander
// stops; whether the input is unscrambled with the Key (a compressing run
// scrambles whenever a Key is set); the most bytes it may write.
struct TCodecRun {
    TStream& Dest;
    TStream& Source;
    int32_t SourceSize = 0;
    int32_t UncompressedSize = 0;
    CodecFn Codec = nullptr;
    vorn::Direction Direction = vorn::Direction::Expand;
    vorn::Scrambling Scrambling = vorn::Scrambling::Off;
    int64_t OutputBudget = std::numeric_limits<int64_t>::max();
};

// What a run gave: the bytes written, and the sum of the plain bytes (the
// written ones when expanding, the read ones when compressing); nothing
// when the progress handler stopped it before it began.
struct TCodecResult {
    int32_t Written = 0;
    uint32_t Checksum = 0;
    bool CancelledAtStart = false;
};

inline TCodecState& EngineOf(TVornCodec& codec) { return *codec.engine_; }

}  // namespace vorn
