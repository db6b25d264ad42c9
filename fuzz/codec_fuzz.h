// The body shared by the expander fuzz targets: two bytes of uncompressed
// size (little-endian), then codec data. The expander refuses its tables or
// writes at most size + overshoot bytes (a last match may reach past the
// size); the component, told the sum of what was written, accepts only a
// run that wrote exactly the size. The whole input then round-trips.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"

namespace vorn::fuzz {

inline std::vector<uint8_t> RunOnce(TVornCodec& codec, uint8_t method, std::vector<uint8_t> input,
                                    int32_t size, Direction direction, uint32_t& sum) {
    TMemoryStream source(std::move(input)), dest;
    codec.RunCodec(dest, source, static_cast<int32_t>(source.Size()), size, method, sum,
                   direction, Scrambling::Off);
    return dest.Bytes();
}

// largestSize caps the size read from the input (a slow expander's runs stay short).
inline void ExpandAndRoundTrip(uint8_t method, size_t overshoot, const uint8_t* data, size_t size,
                               int32_t largestSize = 0xFFFF) {
    if (size < 2) return;
    TVornCodec codec;
    codec.HeaderAllowance = -(1 << 24);  // let incompressible input grow
    const int32_t expected = (data[0] | data[1] << 8) % (largestSize + 1);
    const std::vector<uint8_t> codecData(data + 2, data + size);
    uint32_t sum = 0;
    try {
        if (RunOnce(codec, method, codecData, expected, Direction::Expand, sum).size() > expected + overshoot) std::abort();
        TMemoryStream source(codecData), dest;
        codec.ExpandAndVerify(dest, source, static_cast<int32_t>(codecData.size()), expected, sum, method, "", 0);
        if (dest.Size() != expected) std::abort();
    } catch (const ELZHBadDecodeTable&) {
    } catch (const EBadChecksum&) {
    }

    const std::vector<uint8_t> input(data, data + size);
    const auto packed = RunOnce(codec, method, input, 0, Direction::Compress, sum);
    if (RunOnce(codec, method, packed, static_cast<int32_t>(size), Direction::Expand, sum) != input) std::abort();
}

}  // namespace vorn::fuzz
