// Every expansion tells the truth: a run that wrote another count than the
// header's, or that took data from beyond the end of its codec data, is
// damaged data whatever its byte sum says.
#include <gtest/gtest.h>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

const std::string kBad = EBadChecksum().Message;

// ExpandStream into nothing: "" or the message of the failure.
std::string Verdict(TVornCodec& codec, const Bytes& stream) {
    TMemoryStream source(stream);
    TNullStream nothing;
    try {
        codec.ExpandStream(nothing, source);
        return "";
    } catch (const EVornError& e) {
        return e.Message;
    }
}

TEST(Truth, SizesThatLieAndCutStreamsFailForEveryMethod) {
    // Text and a run of zeros: zeros missing or invented leave the sum alone.
    Bytes input = MakeData(DataKind::Text, 3000);
    input.resize(4004, 0);
    TVornCodec codec;
    for (uint8_t method : {kMethodStored, kMethodRle, kMethodLzh, kMethodLh5}) {
        const Bytes stream = CompressBytes(codec, input, method);
        const TVornHeader h = TVornHeader::Decode(stream.data());
        ASSERT_EQ(h.Id(), CompressionIDs[method]);
        const Bytes data(stream.begin() + kHeaderSize, stream.end());
        for (int32_t size : {4004, 4003, 4005, INT32_MAX})
            EXPECT_EQ(Verdict(codec, WithHeader(h.Id(), size, h.Checksum, 0, data)), size == 4004 ? "" : kBad)
                << h.Id() << " claiming " << size;
        EXPECT_LT(codec.Engine().OutCount, 5000) << h.Id() << ": a claim of 2 GiB stops at the end of the data";
        EXPECT_EQ(Verdict(codec, Bytes(stream.begin(), stream.end() - 1)), kBad) << h.Id() << " cut by a byte";
        codec.Key = 7;  // a locked stream cannot tell damage from a wrong key
        EXPECT_EQ(Verdict(codec, WithHeader(h.Id(), 4005, h.Checksum + 7, 1, data)), EInvalidKey().Message);
        codec.Key = 0;
    }
    // A stored stream with checksum 0 is taken as it comes.
    EXPECT_EQ(Verdict(codec, WithHeader("NON", 4004, 0, 0, Bytes(979, 0))), "");
}

TEST(Truth, TheLastByteBelongsToTheDataButNothingBeyondIt) {
    // Each stream's last byte holds a few data bits, all 0, then fill bits:
    // without that byte, bits made up as 0 would give the same output.
    const struct {
        const char* id;
        const char* data;
        Bytes out;
    } cases[] = {
        {"LZH", "F6 C9 00 00", Bytes(10, 'a')},       // a literal, a match of 9 at distance 0
        {"LH5", "00 01 00 00 04 10 00", Hex("41")},  // one block of single-symbol tables
    };
    for (const auto& c : cases) {
        const Bytes data = Hex(c.data);
        const Bytes cut(data.begin(), data.end() - 1);
        const auto size = static_cast<int32_t>(c.out.size());
        TVornCodec codec;
        EXPECT_EQ(Verdict(codec, WithHeader(c.id, size, ByteSum(c.out), 0, data)), "") << c.id;
        EXPECT_EQ(Verdict(codec, WithHeader(c.id, size, ByteSum(c.out), 0, cut)), kBad) << c.id;
    }
}

TEST(Truth, ACancelledExpansionStillEndsAsACancel) {
    const Bytes input = MakeData(DataKind::Text, 100000);
    for (uint8_t method : {kMethodLzh, kMethodLh5}) {
        TVornCodec codec;
        const Bytes stream = CompressBytes(codec, input, method);
        std::vector<int32_t> seen;
        codec.OnShowProgress = [&](int32_t& p) {
            seen.push_back(p);
            if (seen.size() == 2) p = -1;  // at the first refill
        };
        EXPECT_EQ(Verdict(codec, stream), kBad) << CompressionIDs[method];
        EXPECT_EQ(seen.size(), 3u) << "no further refill, and the closing call";
        EXPECT_EQ(seen.back(), 100);
        EXPECT_LT(codec.Engine().OutCount, 100000) << "stopped where the data ended";
    }
}

}  // namespace
}  // namespace vorn::test
