// The engine frame: buffering, byte sums, key scrambling, progress and
// cancel, the output budget, and the compressing front operation.
#include <gtest/gtest.h>

#include "compress/codec_state.h"
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

TEST(Engine, PercentDoneInBothForms) {
    EXPECT_EQ(PercentDone(16384, 20000), 81);
    EXPECT_EQ(PercentDone(402388, 402388), 100);
    EXPECT_EQ(PercentDone(8192, 1000000), 0);
    EXPECT_EQ(PercentDone(2000000000, 2000000000), 100) << "no overflow of done * 100";
}

TEST(Engine, StoredRunsReadWriteReportAndCancel) {
    const struct {
        int32_t sourceSize, streamSize;
        size_t cancelAt, maxRead;  // the progress call that answers -1; the longest read
        std::vector<int32_t> progress;
        std::vector<size_t> writes;  // a full block goes out when the next byte arrives
    } cases[] = {
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
        codec.RunCodec(dest, source, c.sourceSize, 0, kMethodStored, sum, true, false);
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
        EXPECT_EQ(RunCodecBytes(codec, text, kMethodStored, false).size(), 20000u) << key;
        EXPECT_THROW(RunCodecBytes(codec, Hex("94"), kMethodRle, false), EUnableToCompress) << "94 becomes 94 00";
        EXPECT_EQ(codec.Engine().OutBuffer, nullptr);
        codec.HeaderAllowance = 1;
        EXPECT_THROW(RunCodecBytes(codec, text, kMethodStored, false), EUnableToCompress) << key;
        EXPECT_EQ(codec.Engine().OutCount, 19999) << "the byte over budget is not counted";
    }
}

TEST(Engine, ScramblingCyclesTheKeyFromCodecByteZero) {
    TVornCodec codec;
    codec.Key = 0x44332211;
    uint32_t sum = 1;
    EXPECT_EQ(ToHex(RunCodecBytes(codec, Bytes(9, 0), kMethodStored, false, 0, &sum)), "11 22 33 44 11 22 33 44 11");
    EXPECT_EQ(sum, 0u) << "compressing sums the plain input";
}

TEST(CompressStream, WritesHeaderAndRoundTrips) {
    for (int32_t key : {0, 0x7B0C1D2E})
        for (uint8_t method : {kMethodStored, kMethodRle})
            for (DataKind kind : kAllKinds)
                for (size_t size : {0, 1, 2, 59, 60, 61, 4095, 4096, 8191, 8192, 8193, 16384, 100000}) {
                    TVornCodec codec;
                    codec.Key = key;
                    const Bytes data = MakeData(kind, size);
                    const Bytes stream = CompressBytes(codec, data, method);
                    SCOPED_TRACE(KindName(kind) + " " + std::to_string(size) + " key " + std::to_string(key));
                    EXPECT_EQ(ExpandBytes(codec, stream), data);
                    EXPECT_LE(stream.size(), size ? size + kHeaderSize : 0) << "a bare header would read as data";
                    if (size == 0) continue;
                    const TVornHeader h = TVornHeader::Decode(stream.data());
                    EXPECT_EQ(std::tuple(h.UncompressedSize, h.Checksum, h.LockLevel),
                              std::tuple(static_cast<int32_t>(size), ByteSum(data) + key, key ? 2 : 0));
                }
}

TEST(CompressStream, StoresWhatDoesNotShrinkWithoutATrace) {
    TVornCodec codec;
    const Bytes data = MakeData(DataKind::Escapes, 50000);  // RLE nearly doubles it
    RecordingStream dest(Bytes(5, 0xEE));
    dest.Seek(5);
    TMemoryStream source(data);
    EXPECT_EQ(codec.CompressStream(dest, source, kMethodRle), kMethodStored);
    const Bytes& out = dest.Bytes();
    ASSERT_EQ(out.size(), 5 + kHeaderSize + data.size());
    EXPECT_EQ(TVornHeader::Decode(out.data() + 5).Id(), "NON");
    EXPECT_EQ(Bytes(out.begin() + 5 + kHeaderSize, out.end()), data);
    EXPECT_EQ(dest.Position(), static_cast<int64_t>(out.size()));
    // A negative allowance lets the attempt grow past the stored copy: cut it.
    TMemoryStream source2(Bytes(50000, 0x94)), dest2;
    codec.HeaderAllowance = -40000;  // budget 90,000; the attempt needs 100,000
    EXPECT_EQ(codec.CompressStream(dest2, source2, kMethodRle), kMethodStored);
    EXPECT_EQ(dest2.Size(), static_cast<int64_t>(kHeaderSize + 50000));

}

TEST(CompressStream, CancelLeavesNothingBehind) {
    TVornCodec codec;
    codec.OnShowProgress = [](int32_t& p) {
        if (p == 40) p = -1;
    };
    TMemoryStream source(MakeData(DataKind::Text, 20000)), dest(Hex("01 02"));
    dest.Seek(2);
    EXPECT_THROW(codec.CompressStream(dest, source, kMethodRle), EOperationCancelled);
    EXPECT_EQ(dest.Bytes(), Hex("01 02"));
    EXPECT_TRUE(codec.OnShowProgress) << "the caller's handler is put back";
}

}  // namespace
}  // namespace vorn::test
