// The body shared by the expander fuzz targets. The first two input bytes
// give the uncompressed size (little-endian, up to 65,535), the rest is
// codec data: whatever it holds, the expander either refuses its tables
// with ELZHBadDecodeTable or writes between size and size + overshoot bytes
// (a last match may reach past the size). The whole input then goes through
// the compressor and back and must come out unchanged.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"

namespace vorn::fuzz {

inline std::vector<uint8_t> RunOnce(TVornCodec& codec, uint8_t method, std::vector<uint8_t> input,
                                    int32_t size, bool expanding) {
    TMemoryStream source(std::move(input));
    TMemoryStream dest;
    uint32_t checksum = 0;
    codec.RunCodec(dest, source, static_cast<int32_t>(source.Size()), size, method, checksum, expanding,
                   false);
    return dest.Bytes();
}

inline void ExpandAndRoundTrip(uint8_t method, size_t overshoot, const uint8_t* data, size_t size) {
    if (size < 2) return;
    TVornCodec codec;
    codec.HeaderAllowance = -(1 << 24);  // let incompressible input grow
    const size_t expected = static_cast<size_t>(data[0] | data[1] << 8);
    try {
        const auto out = RunOnce(codec, method, std::vector<uint8_t>(data + 2, data + size),
                                 static_cast<int32_t>(expected), true);
        if (out.size() < expected || out.size() > expected + overshoot) std::abort();
    } catch (const ELZHBadDecodeTable&) {
    }

    const std::vector<uint8_t> input(data, data + size);
    const auto packed = RunOnce(codec, method, input, 0, false);
    if (RunOnce(codec, method, packed, static_cast<int32_t>(size), true) != input) std::abort();
}

}  // namespace vorn::fuzz
