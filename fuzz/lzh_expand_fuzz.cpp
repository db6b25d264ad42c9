// Fuzz target for the LZH expander and a compressor round trip; a last
// match may reach up to 59 bytes past the size.
#include <algorithm>

#include "compress/vorn_header.h"
#include "fuzz/codec_fuzz.h"

// The adaptive coder spends its time per byte, in and out: 4 KiB each way
// covers every table rebuild and window wrap the first runs reach, at many
// times the runs per second.
constexpr size_t kLongestInput = 4096;
constexpr int32_t kLargestSize = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::fuzz::ExpandAndRoundTrip(vorn::kMethodLzh, 59, data, std::min(size, kLongestInput), kLargestSize);
    return 0;
}
