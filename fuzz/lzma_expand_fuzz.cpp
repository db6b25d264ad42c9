// Fuzz target for the LZM expander: two bytes of uncompressed size
// (little-endian), then codec data (head and LZMA data). The component
// either refuses the stream with its checksum's exception or accepts
// exactly the size, whose CRC-32 the head then names.
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/lzma/crc32.h"
#include "compress/lzma/lzma_expand.h"
#include "compress/lzma/lzma_format.h"
#include "compress/lzma/lzma_method.h"
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
    lzma::UseLzmaMethod(codec);
    TMemoryStream first(codecData), ignored;
    const uint32_t sum = codec.ExpandWithEngine(ignored, first, sourceSize, expected, LzmaExpand);
    TMemoryStream source(codecData), dest;
    try {
        codec.ExpandAndVerify(dest, source, sourceSize, expected, sum, kMethodCustom, lzma::kMethodId, 0);
    } catch (const EBadChecksum&) {
        return 0;
    }
    std::vector<uint32_t> table(lzma::kCrcTableSize);
    lzma::BuildCrcTable(table.data());
    const std::vector<uint8_t> out = dest.Bytes();
    if (out.size() != static_cast<size_t>(expected) ||
        lzma::UpdateCrc32(table.data(), 0, out.data(), out.size()) != lzma::TLzmaHead::Decode(codecData.data())->Crc32)
        std::abort();
    return 0;
}
