// vornpack's choice to store an entry without spending a full compression
// run on it: a sample of the data is compressed first, and data whose
// sample does not shrink (archives, images, random bytes) is stored. A
// sample whose byte frequencies alone show it will shrink (text, code)
// is not compressed at all.
#pragma once

#include <cstdint>
#include <functional>

#include "compress/stream.h"
#include "compress/vorn_codec.h"

namespace vorn::pack {

// Compresses the sample in source into dest with the entry's method, on
// the codec given (whose HeaderAllowance is set).
using SampleCompressor = std::function<TCompressResult(TVornCodec& codec, TStream& dest, TStream& source)>;

// Whether a full run of compress over source (from its position to its end)
// is worth making. Data too small to sample is always worth a try. The
// source's position is put back.
bool WorthCompressing(TStream& source, const SampleCompressor& compress);

}  // namespace vorn::pack
