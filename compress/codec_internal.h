// The component's insides, for the library's own code and its tests: the
// engine of a TVornCodec, its state and the dispatch tables. Tools and the
// installer compile against vorn_codec.h alone.
#pragma once

#include "compress/codec_state.h"
#include "compress/codec_table.h"
#include "compress/vorn_codec.h"

namespace vorn {

inline TCodecState& EngineOf(TVornCodec& codec) { return *codec.engine_; }

}  // namespace vorn
