// Fuzz target for the LZM expander: two bytes of uncompressed size
// (little-endian), then codec data (head and LZMA data, or a chained head
// and LZMA2 chunks, which start a chain at offset 0, or a seeded head and
// LZMA data, whose seed lies in a 64 KB installer of patterned bytes). The
// component either refuses the stream with its checksum's exception or
// accepts exactly the size.
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
    static const std::vector<uint8_t> kInstaller = [] {
        std::vector<uint8_t> bytes(size_t{1} << 16);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 >> 3);
        return bytes;
    }();
    TVornCodec codec;
    UseCustomMethods(codec);
    TMemoryStream installer(kInstaller);
    lzma::SetSeed(codec, installer);
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
