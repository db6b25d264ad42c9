// Writing "LZM" streams, with liblzma's raw LZMA1 encoder. Linked into the
// tools' compress side only: the installer never carries an encoder.
#pragma once

#include "compress/lzma/lzma_format.h"
#include "compress/vorn_codec.h"

namespace vorn::lzma {

struct TLzmaSettings {
    int Level = 6;  // liblzma preset, 0 to 9
    LzmaFilter Filter = LzmaFilter::None;
};

// Writes a whole stream, VORN header ("LZM", the size, the byte sum), the
// head and the LZMA data, from source's position to its end, like
// TVornCodec::CompressStream: stored as "NON" when LZMA cannot shrink the
// data, an empty source gives an empty stream, progress and cancel go
// through codec.OnShowProgress. The dictionary is the preset's, but never
// larger than the data needs. A Key on the codec is refused.
TCompressResult CompressLzmaStream(TVornCodec& codec, TStream& dest, TStream& source,
                                   const TLzmaSettings& settings);

}  // namespace vorn::lzma
