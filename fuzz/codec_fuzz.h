// The body shared by the expander fuzz targets. The first two input bytes
// give the uncompressed size (little-endian, up to 65,535), the rest is
// codec data. Whatever it holds, the expander refuses its tables with
// ELZHBadDecodeTable or writes at most size + overshoot bytes (a last match
// may reach past the size); and when the component accepts the run, given
// the sum of what the codec wrote, it wrote exactly the size. The whole
// input then goes through the compressor and back and must come out
// unchanged.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"

namespace vorn::fuzz {

inline std::vector<uint8_t> RunOnce(TVornCodec& codec, uint8_t method, std::vector<uint8_t> input,
                                    int32_t size, bool expanding, uint32_t* sum = nullptr) {
    TMemoryStream source(std::move(input));
    TMemoryStream dest;
    uint32_t checksum = 0;
    codec.RunCodec(dest, source, static_cast<int32_t>(source.Size()), size, method, checksum, expanding,
                   false);
    if (sum) *sum = checksum;
    return dest.Bytes();
}

// The size ExpandAndVerify accepted, or -1 when it refused the run.
inline int64_t AcceptedSize(TVornCodec& codec, uint8_t method, const std::vector<uint8_t>& data,
                            int32_t size, uint32_t sum) {
    TMemoryStream source(data);
    TMemoryStream dest;
    try {
        codec.ExpandAndVerify(dest, source, static_cast<int32_t>(data.size()), size, sum, method, "", 0);
    } catch (const EBadChecksum&) {
        return -1;
    }
    return dest.Size();
}

inline void ExpandAndRoundTrip(uint8_t method, size_t overshoot, const uint8_t* data, size_t size) {
    if (size < 2) return;
    TVornCodec codec;
    codec.HeaderAllowance = -(1 << 24);  // let incompressible input grow
    const int32_t expected = data[0] | data[1] << 8;
    const std::vector<uint8_t> codecData(data + 2, data + size);
    try {
        uint32_t sum = 0;
        const auto out = RunOnce(codec, method, codecData, expected, true, &sum);
        if (out.size() > static_cast<size_t>(expected) + overshoot) std::abort();
        const int64_t accepted = AcceptedSize(codec, method, codecData, expected, sum);
        if (accepted != -1 && accepted != expected) std::abort();
    } catch (const ELZHBadDecodeTable&) {
    }

    const std::vector<uint8_t> input(data, data + size);
    const auto packed = RunOnce(codec, method, input, 0, false);
    if (RunOnce(codec, method, packed, static_cast<int32_t>(size), true) != input) std::abort();
}

}  // namespace vorn::fuzz
