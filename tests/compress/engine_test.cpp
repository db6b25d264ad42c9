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
    size_t Read(void* buffer, size_t n) override {
        return TMemoryStream::Read(buffer, std::min(n, maxRead));
    }
    void Write(const void* buffer, size_t n) override {
        writes.push_back(n);
        TMemoryStream::Write(buffer, n);
    }
    std::vector<size_t> writes;
    size_t maxRead = SIZE_MAX;
};

std::vector<int32_t> ProgressSeen(TVornCodec& codec, int32_t size) {
    std::vector<int32_t> seen;
    codec.OnShowProgress = [&](int32_t& p) { seen.push_back(p); };
    TMemoryStream source(MakeData(DataKind::Random, static_cast<size_t>(size))), dest;
    uint32_t sum = 0;
    codec.RunCodec(dest, source, size, 0, kMethodStored, sum, true, false);
    return seen;
}

TEST(Engine, PercentDoneInBothForms) {
    EXPECT_EQ(PercentDone(8192, 20000), 40);
    EXPECT_EQ(PercentDone(16384, 20000), 81);
    EXPECT_EQ(PercentDone(100000, 100000), 100);
    EXPECT_EQ(PercentDone(402388, 402388), 100);
    EXPECT_EQ(PercentDone(8192, 1000000), 0);
    EXPECT_EQ(PercentDone(2000000000, 2000000000), 100) << "no overflow of done * 100";
}

TEST(Engine, ProgressIsReportedPerRefill) {
    TVornCodec codec;
    EXPECT_EQ(ProgressSeen(codec, 20000), (std::vector<int32_t>{0, 40, 81, 100, 100}));
    EXPECT_EQ(ProgressSeen(codec, 0), (std::vector<int32_t>{0, 100}));
    EXPECT_EQ(ProgressSeen(codec, 1000000)[1], 0);
}

TEST(Engine, CancelAtTheStartRunsNothing) {
    TVornCodec codec;
    int calls = 0;
    codec.OnShowProgress = [&](int32_t& p) {
        ++calls;
        p = -1;
    };
    TMemoryStream source(MakeData(DataKind::Text, 100)), dest;
    uint32_t sum = 12345;
    EXPECT_EQ(codec.RunCodec(dest, source, 100, 0, kMethodStored, sum, true, false), 0);
    EXPECT_EQ(sum, 12345u) << "checksum left as the caller set it";
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(source.Position(), 0);
    EXPECT_EQ(dest.Size(), 0);
}

TEST(Engine, CancelAtARefillEndsTheStoredCopy) {
    TVornCodec codec;
    std::vector<int32_t> seen;
    codec.OnShowProgress = [&](int32_t& p) {
        seen.push_back(p);
        if (seen.size() == 3) p = -1;  // at the second refill
    };
    const Bytes data = MakeData(DataKind::Text, 20000);
    TMemoryStream source(data), dest;
    uint32_t sum = 0;
    codec.RunCodec(dest, source, 20000, 0, kMethodStored, sum, true, false);
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 40, 81, 100}));
    EXPECT_EQ(dest.Bytes(), Bytes(data.begin(), data.begin() + 8192));
    EXPECT_EQ(sum, ByteSum(dest.Bytes()));
}

TEST(Engine, SourceEndingEarlyAndReadingInPieces) {
    TVornCodec codec;
    const Bytes data = MakeData(DataKind::Binary, 10000);
    RecordingStream source(data);
    source.maxRead = 1000;
    TMemoryStream dest;
    uint32_t sum = 0;
    // SourceSize claims more than there is; short reads are fine.
    codec.RunCodec(dest, source, 50000, 0, kMethodStored, sum, true, false);
    EXPECT_EQ(dest.Bytes(), data);
    EXPECT_EQ(sum, ByteSum(data));
}

TEST(Engine, NeverReadsPastSourceSize) {
    TVornCodec codec;
    TMemoryStream source(MakeData(DataKind::Text, 30000)), dest;
    uint32_t sum = 0;
    codec.RunCodec(dest, source, 17000, 0, kMethodStored, sum, true, false);
    EXPECT_EQ(source.Position(), 17000);
    EXPECT_EQ(dest.Size(), 17000);
}

TEST(Engine, FullBlocksAreWrittenWhenTheNextByteArrives) {
    TVornCodec codec;
    for (auto [size, writes] : {std::pair<int32_t, std::vector<size_t>>{8192, {8192}},
                                {8193, {8192, 1}},
                                {16384, {8192, 8192}},
                                {1, {1}},
                                {0, {}}}) {
        TMemoryStream source(MakeData(DataKind::Random, static_cast<size_t>(size)));
        RecordingStream dest;
        uint32_t sum = 0;
        codec.RunCodec(dest, source, size, 0, kMethodStored, sum, true, false);
        EXPECT_EQ(dest.writes, writes) << size << " bytes";
    }
}

TEST(Engine, OutputBudgetWhenCompressing) {
    TVornCodec codec;
    // With a key every byte takes the engine's slow path: the budget holds the same.
    for (int32_t key : {0, 0x01020304}) {
        codec.Key = key;
        codec.HeaderAllowance = 0;
        // Stored output of 20,000 bytes fits a budget of 20,000; RLE escapes do not.
        const Bytes text = MakeData(DataKind::Text, 20000);
        EXPECT_EQ(RunCodecBytes(codec, text, kMethodStored, false).size(), 20000u) << key;
        EXPECT_THROW(RunCodecBytes(codec, Bytes(100, 0x94), kMethodRle, false), EUnableToCompress);
        codec.HeaderAllowance = 1;
        EXPECT_THROW(RunCodecBytes(codec, text, kMethodStored, false), EUnableToCompress) << key;
        EXPECT_EQ(codec.Engine().OutCount, 19999) << "the byte over budget is not counted";
    }
    codec.Key = 0;
    codec.HeaderAllowance = 0;
    // One escape byte becomes two: the second is over budget.
    TMemoryStream source(Hex("94")), dest;
    uint32_t sum = 0;
    EXPECT_THROW(codec.RunCodec(dest, source, 1, 0, kMethodRle, sum, false, false), EUnableToCompress);
    EXPECT_EQ(codec.Engine().OutBuffer, nullptr);
    EXPECT_EQ(codec.Engine().OutCount, 1);
}

TEST(Engine, ScramblingCyclesTheKeyFromCodecByteZero) {
    TVornCodec codec;
    codec.Key = 0x44332211;
    const Bytes zeros(9, 0);
    // Compressing scrambles whenever a key is set: byte i takes key byte i mod 4.
    uint32_t sum = 0;
    const Bytes scrambled = RunCodecBytes(codec, zeros, kMethodStored, false, 0, &sum);
    EXPECT_EQ(ToHex(scrambled), "11 22 33 44 11 22 33 44 11");
    EXPECT_EQ(sum, 0u) << "compressing sums the plain input";

    // Expanding unscrambles only with the scrambled flag; the sum covers the output.
    TMemoryStream source(scrambled), dest;
    codec.RunCodec(dest, source, 9, 0, kMethodStored, sum, true, true);
    EXPECT_EQ(dest.Bytes(), zeros);
    TMemoryStream source2(scrambled), dest2;
    codec.RunCodec(dest2, source2, 9, 0, kMethodStored, sum, true, false);
    EXPECT_EQ(dest2.Bytes(), scrambled);
    EXPECT_EQ(sum, ByteSum(scrambled));
}

TEST(Engine, ScrambledRleRoundTrip) {
    TVornCodec codec;
    codec.Key = 0x5A5A1234;
    const Bytes data = MakeData(DataKind::Runs, 30000);
    const Bytes stream = CompressBytes(codec, data, kMethodRle);
    EXPECT_EQ(TVornHeader::Decode(stream.data()).LockLevel, 2);
    EXPECT_EQ(ExpandBytes(codec, stream), data);
    codec.Key = 0x5A5A1235;
    EXPECT_THROW(ExpandBytes(codec, stream), EInvalidKey);
}

TEST(CompressStream, WritesHeaderAndRoundTrips) {
    const size_t sizes[] = {0, 1, 2, 59, 60, 61, 4095, 4096, 8191, 8192, 8193, 16384, 100000};
    const DataKind kinds[] = {DataKind::Text, DataKind::Binary, DataKind::Runs, DataKind::Random,
                              DataKind::OneByte, DataKind::Escapes};
    for (int32_t key : {0, 0x7B0C1D2E}) {
        TVornCodec codec;
        codec.Key = key;
        for (uint8_t method : {kMethodStored, kMethodRle}) {
            for (DataKind kind : kinds) {
                for (size_t size : sizes) {
                    const Bytes data = MakeData(kind, size);
                    const Bytes stream = CompressBytes(codec, data, method);
                    SCOPED_TRACE(KindName(kind) + " " + std::to_string(size) + " key " + std::to_string(key));
                    EXPECT_EQ(ExpandBytes(codec, stream), data);
                    if (size == 0) {
                        EXPECT_TRUE(stream.empty()) << "a bare header would read as data";
                        continue;
                    }
                    const TVornHeader h = TVornHeader::Decode(stream.data());
                    EXPECT_EQ(h.UncompressedSize, static_cast<int32_t>(size));
                    EXPECT_EQ(h.Checksum, ByteSum(data) + static_cast<uint32_t>(key));
                    EXPECT_EQ(h.LockLevel, key ? 2 : 0);
                    EXPECT_LE(stream.size(), size + kHeaderSize);
                }
            }
        }
    }
}

TEST(CompressStream, StoresWhatDoesNotShrinkWithoutATrace) {
    TVornCodec codec;
    const Bytes data = MakeData(DataKind::Escapes, 50000);  // RLE nearly doubles it
    RecordingStream dest(Bytes(5, 0xEE));
    dest.Seek(5);
    TMemoryStream source(data);
    const TCompressResult done = codec.CompressStream(dest, source, kMethodRle);
    EXPECT_EQ(done.Method, kMethodStored);
    EXPECT_EQ(done.BytesWritten, static_cast<int64_t>(kHeaderSize + data.size()));
    const Bytes& out = dest.Bytes();
    ASSERT_EQ(out.size(), 5 + kHeaderSize + data.size());
    EXPECT_EQ(TVornHeader::Decode(out.data() + 5).Id(), "NON");
    EXPECT_EQ(Bytes(out.begin() + 5 + kHeaderSize, out.end()), data);
    EXPECT_EQ(dest.Position(), static_cast<int64_t>(out.size()));

    // A negative allowance lets the attempt grow past the stored copy: cut it.
    TMemoryStream source2(Bytes(50000, 0x94)), dest2;
    codec.HeaderAllowance = -40000;  // budget 90,000; the attempt needs 100,000
    EXPECT_EQ(codec.CompressStream(dest2, source2, kMethodRle).BytesWritten, kHeaderSize + 50000);
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
