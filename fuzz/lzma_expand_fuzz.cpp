// Fuzz target for the LZM expander: two bytes of uncompressed size
// (little-endian), then codec data (head and LZMA data, or a chained head
// and LZMA2 chunks, which start a chain at offset 0). The component
// either refuses the stream with its checksum's exception or accepts
// exactly the size.
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_expand.h"
#include "compress/lzma/lzma_format.h"
#include "compress/custom_methods.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vorn;
    if (size < 2) return 0;
    const int32_t expected = data[0] | data[1] << 8;
    const std::vector<uint8_t> codecData(data + 2, data + size);
    const auto sourceSize = static_cast<int32_t>(codecData.size());
    TVornCodec codec;
    UseCustomMethods(codec);
    TMemoryStream first(codecData), ignored;
    const uint32_t sum = codec.ExpandWithEngine(ignored, first, sourceSize, expected, LzmaExpand);
    TMemoryStream source(codecData), dest;
    try {
        codec.ExpandAndVerify(dest, source, sourceSize, expected, sum, lzma::kMethodIndex, lzma::kMethodId, 0);
    } catch (const EBadChecksum&) {
        return 0;
    } catch (const EDamagedStream&) {
        return 0;
    }
    if (dest.Size() != expected) std::abort();
    return 0;
}
