// LH5 codec data, exact bytes both ways.
#include <gtest/gtest.h>

#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

TEST(Lh5Vectors, CompressorAndExpanderAgreeOnTheKnownStreams) {
    const struct {
        Bytes input;
        const char* codecData;
    } cases[] = {
        // One literal: count 1, single-symbol tables, no symbol bits.
        {Hex("41"), "00 01 00 00 04 10 00"},
        // Three literals.
        {Hex("61 62 63"), "00 03 28 08 44 C9 13 58 02 60"},
        // A literal and a 9-byte match at distance one.
        {Bytes(10, 0x61), "00 02 20 04 30 71 36 48 40 10"},
    };
    TVornCodec codec;
    codec.HeaderAllowance = -64;
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(RunCodecBytes(codec, c.input, kMethodLh5, false)), ToHex(Hex(c.codecData)));
        EXPECT_EQ(RunCodecBytes(codec, Hex(c.codecData), kMethodLh5, true,
                                static_cast<int32_t>(c.input.size())),
                  c.input);
    }
}

}  // namespace
}  // namespace vorn::test
