// Run-length codec: the encoder's table of items and the decoder's
// behaviour on data the encoder never writes.
#include <gtest/gtest.h>

#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

TEST(Rle, EncoderWritesTheItemTable) {
    const struct {
        Bytes input;
        const char* codecData;
    } cases[] = {
        {{}, ""},
        {Hex("41 41"), "41 41"},
        {Hex("41 41 41"), "41 94 03"},
        {Hex("41 41 41 41 41"), "41 94 05"},
        {Hex("41 41 41 42"), "41 94 03 42"},
        {Hex("41 41 94"), "41 41 94 00"},
        {Hex("94"), "94 00"},
        {Hex("94 94 94"), "94 00 94 00 94 00"},
        {Hex("00 00 00"), "00 94 03"},
        {Bytes(255, 0x41), "41 94 FF"},
        {Bytes(256, 0x41), "41 94 FF 41"},
        {Bytes(257, 0x41), "41 94 FF 41 41"},
        {Bytes(600, 0x41), "41 94 FF 41 94 FF 41 94 5A"},
    };
    TVornCodec codec;
    codec.HeaderAllowance = -16;  // let escapes grow the data
    for (const auto& c : cases) {
        const Bytes encoded = RunCodecBytes(codec, c.input, kMethodRle, false);
        EXPECT_EQ(ToHex(encoded), ToHex(Hex(c.codecData))) << "input of " << c.input.size();
        EXPECT_EQ(RunCodecBytes(codec, encoded, kMethodRle, true), c.input);
    }
}

TEST(Rle, DecoderHandlesItemsTheEncoderNeverWrites) {
    TVornCodec codec;
    // A leading run repeats the initial RunByte of 0.
    EXPECT_EQ(RunCodecBytes(codec, Hex("94 05"), kMethodRle, true), Hex("00 00 00 00"));
    // An escape cut off by the end of the data reads its count as 0.
    EXPECT_EQ(RunCodecBytes(codec, Hex("41 94"), kMethodRle, true), Hex("41 94"));
    // Counts 1 and 2 give no byte and one copy.
    EXPECT_EQ(RunCodecBytes(codec, Hex("41 94 01"), kMethodRle, true), Hex("41"));
    EXPECT_EQ(RunCodecBytes(codec, Hex("41 94 02"), kMethodRle, true), Hex("41 41"));
    // After a run item RunByte is the escape itself.
    EXPECT_EQ(RunCodecBytes(codec, Hex("41 94 02 94 03"), kMethodRle, true), Hex("41 41 94 94"));
}

}  // namespace
}  // namespace vorn::test
