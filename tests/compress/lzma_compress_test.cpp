// The LZM writer: streams that expand back with the head they promise, and
// the stored, empty, key and cancel paths. (The filter choice is in vorn_cli.)
#include <gtest/gtest.h>

#include <bit>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/lzma/lzma_method.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

using namespace vorn::lzma;

Bytes CompressLzm(TVornCodec& codec, const Bytes& data, const TLzmaSettings& settings) {
    TMemoryStream source(data), dest;
    dest.Write("keep", 4);  // the stream goes from dest's position on
    source.Seek(0);
    CompressLzmaStream(codec, dest, source, settings);
    return Bytes(dest.Bytes().begin() + 4, dest.Bytes().end());
}

TEST(LzmaCompress, StreamsExpandBackWithADictionaryNoLargerThanTheData) {
    for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Random})
        for (size_t size : {1u, 4095u, 300001u})
            for (LzmaFilter filter : {LzmaFilter::None, LzmaFilter::X86})
                for (int level : {0, 6}) {
                    const Bytes data = MakeData(kind, size);
                    TVornCodec codec;
                    const Bytes stream = CompressLzm(codec, data, {level, filter});
                    UseLzmaMethod(codec);
                    EXPECT_EQ(ExpandBytes(codec, stream), data) << KindName(kind) << size << " " << level;
                    const bool stored = kind == DataKind::Random || size == 1;
                    EXPECT_EQ(stream[5], stored ? 'N' : 'L') << "NON or LZM";
                    if (stored) continue;
                    const auto head = TLzmaHead::Decode(&stream[kHeaderSize]);
                    EXPECT_EQ(head->Filter, filter);
                    EXPECT_LE(head->DictionarySize, std::max<uint32_t>(4096, std::bit_ceil(size)));
                    EXPECT_EQ(CompressLzm(codec, data, {level, filter}), stream) << "not deterministic";
                }
}

TEST(LzmaCompress, EmptyKeyLevelAndCancelAreHandledBeforeAnythingIsLeftBehind) {
    TVornCodec codec;
    EXPECT_TRUE(CompressLzm(codec, {}, {}).empty());
    const Bytes text = MakeData(DataKind::Text, 200000);
    EXPECT_THROW(CompressLzm(codec, text, {10, LzmaFilter::None}), EVornError);
    codec.Key = 0x1234;
    EXPECT_THROW(CompressLzm(codec, text, {}), EVornError);
    codec.Key = 0;
    codec.OnShowProgress = [](int32_t& percent) { percent = percent >= 50 ? -1 : percent; };
    TMemoryStream source(text), dest;
    dest.Write("keep", 4);
    EXPECT_THROW(CompressLzmaStream(codec, dest, source, {}), EOperationCancelled);
    EXPECT_EQ(dest.Size(), 4);
}

}  // namespace
}  // namespace vorn::test
