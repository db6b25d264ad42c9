// The engine frame: buffering, byte sums, key scrambling, progress and
// cancel, the output budget.
#include <gtest/gtest.h>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

// A memory stream that records the size of every write and hands out reads
// in pieces of at most maxRead bytes.
class RecordingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    size_t Read(void* buffer, size_t n) override { return TMemoryStream::Read(buffer, std::min(n, maxRead)); }
    void Write(const void* buffer, size_t n) override {
        writes.push_back(n);
        TMemoryStream::Write(buffer, n);
    }
    std::vector<size_t> writes;
    size_t maxRead = SIZE_MAX;
};

TEST(Engine, StoredRunsReadWriteReportAndCancel) {
    // PercentDone in both forms; the last would overflow done * 100.
    EXPECT_EQ((std::vector{PercentDone(16384, 20000), PercentDone(402388, 402388), PercentDone(8192, 1000000),
                           PercentDone(2000000000, 2000000000)}),
              (std::vector{81, 100, 0, 100}));
    // cancelAt: the progress call that answers -1; a full block goes out when the next byte arrives.
    const struct { int32_t sourceSize, streamSize; size_t cancelAt, maxRead; std::vector<int32_t> progress;
                   std::vector<size_t> writes; } cases[] = {
        {20000, 20000, 0, SIZE_MAX, {0, 40, 81, 100, 100}, {8192, 8192, 3616}},
        {0, 0, 0, SIZE_MAX, {0, 100}, {}},
        {8192, 8192, 0, SIZE_MAX, {0, 100, 100}, {8192}},
        {8193, 8193, 0, SIZE_MAX, {0, 99, 100, 100}, {8192, 1}},
        {17000, 30000, 0, SIZE_MAX, {0, 48, 96, 100, 100}, {8192, 8192, 616}},  // never past SourceSize
        {50000, 10000, 0, 4000, {0, 8, 16, 20, 100}, {8192, 1808}},  // the source ends first, read in pieces
        {20000, 20000, 1, SIZE_MAX, {0}, {}},  // a cancel at the start reads and writes nothing
        {20000, 20000, 3, SIZE_MAX, {0, 40, 81, 100}, {8192}},  // at a refill it ends the copy
    };
    for (const auto& c : cases) {
        TVornCodec codec;
        std::vector<int32_t> seen;
        codec.OnShowProgress = [&](int32_t& p) {
            seen.push_back(p);
            if (seen.size() == c.cancelAt) p = -1;
        };
        const Bytes data = MakeData(DataKind::Random, static_cast<size_t>(c.streamSize));
        RecordingStream source(data), dest;
        source.maxRead = c.maxRead;
        uint32_t sum = 12345;
        codec.RunCodec(dest, source, c.sourceSize, 0, kMethodStored, sum, Direction::Expand, Scrambling::Off);
        SCOPED_TRACE(std::to_string(c.sourceSize) + " cancel at " + std::to_string(c.cancelAt));
        EXPECT_EQ(seen, c.progress);
        EXPECT_EQ(dest.writes, c.writes);
        EXPECT_EQ(dest.Bytes(), Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(dest.Size())));
        EXPECT_EQ(sum, c.cancelAt == 1 ? 12345u : ByteSum(dest.Bytes())) << "a cancel at the start sets no sum";
    }
}

TEST(Engine, OutputBudgetWhenCompressing) {
    TVornCodec codec;
    // With a key every byte takes the engine's slow path: the budget holds the same.
    for (int32_t key : {0, 0x01020304}) {
        codec.Key = key;
        codec.HeaderAllowance = 0;
        const Bytes text = MakeData(DataKind::Text, 20000);
        EXPECT_EQ(RunCodecBytes(codec, text, kMethodStored, Direction::Compress).size(), 20000u) << key;
        EXPECT_THROW(RunCodecBytes(codec, Hex("94"), kMethodRle, Direction::Compress), EUnableToCompress) << "94 becomes 94 00";
        EXPECT_EQ(EngineOf(codec).OutBuffer, nullptr);
        codec.HeaderAllowance = 1;
        EXPECT_THROW(RunCodecBytes(codec, text, kMethodStored, Direction::Compress), EUnableToCompress) << key;
        EXPECT_EQ(EngineOf(codec).OutCount, 19999) << "the byte over budget is not counted";
    }
}

}  // namespace
}  // namespace vorn::test
