// CompressStream: the whole stream, header and codec data, its store
// fallback and its cancel.
#include <gtest/gtest.h>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

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

}  // namespace
}  // namespace vorn::test
