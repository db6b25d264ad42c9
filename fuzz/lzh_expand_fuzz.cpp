// Fuzz target for the LZH expander and a compressor round trip; a last
// match may reach up to 59 bytes past the size.
#include <algorithm>

#include "compress/vorn_header.h"
#include "fuzz/codec_fuzz.h"

// Input and output capped at 4 KiB each: enough for the ring to wrap and
// for every kind of symbol. The coder's time goes to its tree updates, so
// the cap keeps runs short without buying many more of them (116 -> 143
// runs/s); the model's rebuild at 0x8000 lies beyond it and is pinned by
// the codec tests.
constexpr size_t kLongestInput = 4096;
constexpr int32_t kLargestSize = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::fuzz::ExpandAndRoundTrip(vorn::kMethodLzh, 59, data, std::min(size, kLongestInput), kLargestSize);
    return 0;
}
