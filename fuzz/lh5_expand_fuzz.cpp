// Fuzz target for the LH5 expander. The first two bytes give the
// uncompressed size (little-endian, up to 65,535), the rest is codec data:
// whatever it holds, the expander either refuses its tables with
// ELZHBadDecodeTable or writes between size and size + 255 bytes (a last
// match may reach past the size). The whole input then goes through the
// compressor and back and must come out unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace {

std::vector<uint8_t> Run(vorn::TVornCodec& codec, std::vector<uint8_t> input, int32_t size,
                         bool expanding) {
    vorn::TMemoryStream source(std::move(input));
    vorn::TMemoryStream dest;
    uint32_t checksum = 0;
    codec.RunCodec(dest, source, static_cast<int32_t>(source.Size()), size, vorn::kMethodLh5, checksum,
                   expanding, false);
    return dest.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    vorn::TVornCodec codec;
    codec.HeaderAllowance = -(1 << 24);  // let incompressible input grow
    const int32_t expected = data[0] | data[1] << 8;
    try {
        const std::vector<uint8_t> out = Run(codec, std::vector<uint8_t>(data + 2, data + size), expected, true);
        if (out.size() < static_cast<size_t>(expected) || out.size() > static_cast<size_t>(expected) + 255)
            std::abort();
    } catch (const vorn::ELZHBadDecodeTable&) {
    }

    const std::vector<uint8_t> input(data, data + size);
    const std::vector<uint8_t> packed = Run(codec, input, 0, false);
    if (Run(codec, packed, static_cast<int32_t>(size), true) != input) std::abort();
    return 0;
}
