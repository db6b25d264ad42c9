// Fuzz target for the LH5 expander and a compressor round trip; a last
// match may reach up to 255 bytes past the size.
#include "compress/vorn_header.h"
#include "fuzz/codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::fuzz::ExpandAndRoundTrip(vorn::kMethodLh5, 255, data, size);
    return 0;
}
