// The compressors of the dispatch table. Only programs that write streams
// link it, so the installer carries no compressor.
#include "compress/codec_table.h"

#include <iterator>

#include "compress/lh5/lh5.h"
#include "compress/lzh/lzh.h"
#include "compress/rle.h"
#include "compress/vorn_header.h"

namespace vorn {

namespace {

// "CUS" has none: custom data is the application's to write.
constexpr CodecFn kCompressors[] = {IgnoringSize<StoreCopy>, IgnoringSize<RleCompress>,
                                    IgnoringSize<LzhCompress>, nullptr, IgnoringSize<Lh5Compress>};

static_assert(std::size(kCompressors) == CompressionIDs.size(), "a row per built-in method");

}  // namespace

CodecFn CompressorFor(uint8_t method) { return EntryFor(kCompressors, method); }

}  // namespace vorn
