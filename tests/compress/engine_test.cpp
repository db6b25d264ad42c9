// The engine frame (buffering, byte sums, key scrambling, progress and
// cancel, the output budget), the compressing front operation, the
// run-length codec and the streams.
#include <gtest/gtest.h>

#include <filesystem>

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
        EXPECT_EQ(RunCodecBytes(codec, text, kMethodStored, false).size(), 20000u) << key;
        EXPECT_THROW(RunCodecBytes(codec, Hex("94"), kMethodRle, false), EUnableToCompress) << "94 becomes 94 00";
        EXPECT_EQ(codec.Engine().OutBuffer, nullptr);
        codec.HeaderAllowance = 1;
        EXPECT_THROW(RunCodecBytes(codec, text, kMethodStored, false), EUnableToCompress) << key;
        EXPECT_EQ(codec.Engine().OutCount, 19999) << "the byte over budget is not counted";
    }
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

// Storing what does not shrink, mid-stream, is vornpack_test's (BuiltEntries) and vorn_cli_test's.
TEST(CompressStream, ANegativeAllowanceLetsTheAttemptGrowPastTheStoredCopyAndCutsIt) {
    TVornCodec codec;
    TMemoryStream source(Bytes(50000, 0x94)), dest;
    codec.HeaderAllowance = -40000;  // budget 90,000; the attempt needs 100,000
    EXPECT_EQ(codec.CompressStream(dest, source, kMethodRle).BytesWritten, kHeaderSize + 50000);
    EXPECT_EQ(dest.Size(), static_cast<int64_t>(kHeaderSize + 50000));
}

TEST(CompressStream, CancelLeavesNothingBehind) {
    TVornCodec codec;
    codec.OnShowProgress = [](int32_t& p) { p = p == 40 ? -1 : p; };
    TMemoryStream source(MakeData(DataKind::Text, 20000)), dest(Hex("01 02"));
    dest.Seek(2);
    EXPECT_THROW(codec.CompressStream(dest, source, kMethodRle), EOperationCancelled);
    EXPECT_EQ(dest.Bytes(), Hex("01 02"));
    EXPECT_TRUE(codec.OnShowProgress) << "the caller's handler is put back";
}

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
        const Bytes encoded = RunCodecBytes(codec, c.input, kMethodRle, false);
        EXPECT_EQ(ToHex(encoded), ToHex(Hex(c.codecData))) << "input of " << c.input.size();
        EXPECT_EQ(RunCodecBytes(codec, encoded, kMethodRle, true), c.input);
    }
}

TEST(Rle, DecoderHandlesItemsTheEncoderNeverWrites) {
    TVornCodec codec;
    for (auto [codecData, out] : {std::pair{"94 05", "00 00 00 00"},  // a leading run repeats RunByte 0
                                  {"41 94", "41 94"},  // a count cut off by the end reads as 0
                                  {"41 94 01", "41"}, {"41 94 02", "41 41"},  // counts 1 and 2
                                  {"41 94 02 94 03", "41 41 94 94"}})  // after a run, RunByte is the escape
        EXPECT_EQ(RunCodecBytes(codec, Hex(codecData), kMethodRle, true), Hex(out)) << codecData;
}

TEST(FileStream, CreateTruncatesReadCountsSetSizeAndCopy) {
    const std::string path = (std::filesystem::temp_directory_path() / "vorn_stream_test_a").string();
    TFileStream(path, FileMode::Create).Write("0123456789", 10);
    TFileStream(path, FileMode::Create).Write("abc", 3);  // truncates
    TFileStream f(path, FileMode::OpenRead);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf) + f.Read(buf + 3, sizeof buf - 3), 3u);
    EXPECT_STREQ(buf, "abc");
    f.Seek(-2, SeekOrigin::End);
    EXPECT_EQ(f.Position(), 1);
    EXPECT_THROW(f.Write("x", 1), EStreamError) << "opened read-only";

    TFileStream g(path, FileMode::Create);
    TMemoryStream source(MakeData(DataKind::Random, 100000));
    g.CopyFrom(source, 100000);
    g.SetSize(10);
    EXPECT_EQ(g.Size() + g.Position(), 20);
    source.Seek(0);
    EXPECT_THROW(g.CopyFrom(source, 100001), EStreamError) << "the source ends first";
    std::filesystem::remove(path);
}

TEST(MemoryStream, WritingPastTheEndGrowsAndSetSizeClampsThePosition) {
    TMemoryStream m;
    m.Seek(3);
    m.Write("x", 1);
    EXPECT_EQ(m.Bytes(), Hex("00 00 00 78"));
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2);
    char c;
    EXPECT_EQ(m.Read(&c, 1), 0u);
    EXPECT_THROW(m.Seek(-3, SeekOrigin::End), EStreamError);
}

}  // namespace
}  // namespace vorn::test
