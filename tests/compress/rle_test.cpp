// The run-length codec's item table, both ways.
#include <gtest/gtest.h>

#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

TEST(Rle, EncoderWritesTheItemTable) {
    const struct { Bytes input; const char* codecData; } cases[] = {
        {{}, ""}, {Hex("41 41"), "41 41"}, {Hex("41 41 41"), "41 94 03"},
        {Hex("41 41 41 41 41"), "41 94 05"}, {Hex("41 41 41 42"), "41 94 03 42"},
        {Hex("41 41 94"), "41 41 94 00"}, {Hex("94"), "94 00"}, {Hex("94 94 94"), "94 00 94 00 94 00"},
        {Hex("00 00 00"), "00 94 03"}, {Bytes(255, 0x41), "41 94 FF"}, {Bytes(256, 0x41), "41 94 FF 41"},
        {Bytes(257, 0x41), "41 94 FF 41 41"}, {Bytes(600, 0x41), "41 94 FF 41 94 FF 41 94 5A"},
    };
    TVornCodec codec;
    codec.HeaderAllowance = -16;  // let escapes grow the data
    for (const auto& c : cases) {
        const Bytes encoded = RunCodecBytes(codec, c.input, kMethodRle, Direction::Compress);
        EXPECT_EQ(ToHex(encoded), ToHex(Hex(c.codecData))) << "input of " << c.input.size();
        EXPECT_EQ(RunCodecBytes(codec, encoded, kMethodRle, Direction::Expand), c.input);
    }
}

TEST(Rle, DecoderHandlesItemsTheEncoderNeverWrites) {
    TVornCodec codec;
    for (auto [codecData, out] : {std::pair{"94 05", "00 00 00 00"},  // a leading run repeats RunByte 0
                                  {"41 94", "41 94"},  // a count cut off by the end reads as 0
                                  {"41 94 01", "41"}, {"41 94 02", "41 41"},  // counts 1 and 2
                                  {"41 94 02 94 03", "41 41 94 94"}})  // after a run, RunByte is the escape
        EXPECT_EQ(RunCodecBytes(codec, Hex(codecData), kMethodRle, Direction::Expand), Hex(out)) << codecData;
}

}  // namespace
}  // namespace vorn::test
