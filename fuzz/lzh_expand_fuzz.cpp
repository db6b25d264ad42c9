// Fuzz target for the LZH expander and a compressor round trip; a last
// match may reach up to 59 bytes past the size.
#include "compress/vorn_header.h"
#include "fuzz/codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::fuzz::ExpandAndRoundTrip(vorn::kMethodLzh, 59, data, size);
    return 0;
}
