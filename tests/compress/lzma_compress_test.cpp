// The LZM writer: streams that expand back with the head they promise, the
// filter choice, and the stored, empty, key and cancel paths.
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
                    if (kind == DataKind::Random || size == 1) continue;  // stored
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

// PE: "MZ", the offset of "PE\0\0" at 0x3C, the machine behind it; ELF: the machine at 18.
TEST(LzmaCompress, TheX86FilterSuitsX86ProgramsOnly) {
    const struct {
        const char* magic;
        size_t at;
        uint16_t machine;
        LzmaFilter expected;
    } cases[] = {{"MZ", 0x84, 0x14C, LzmaFilter::X86}, {"MZ", 0x84, 0x8664, LzmaFilter::X86},
                 {"MZ", 0x84, 0x1C0, LzmaFilter::None}, {"MZ", 0x90, 0x14C, LzmaFilter::None},  // "P\0"
                 {"\x7F" "ELF", 18, 62, LzmaFilter::X86},  {"\x7F" "ELF", 18, 183, LzmaFilter::None}};
    for (const auto& c : cases) {
        Bytes data = Text(std::string("xx") + c.magic);  // the data starts at the position
        data.resize(0x100, 0);
        data[2 + 0x3C] = 0x80, data[2 + 0x80] = 'P', data[2 + 0x81] = c.at == 0x84 ? 'E' : 0;
        data[2 + c.at] = static_cast<uint8_t>(c.machine), data[3 + c.at] = static_cast<uint8_t>(c.machine >> 8);
        TMemoryStream source(data);
        source.Seek(2);
        EXPECT_EQ(FilterSuitedTo(source), c.expected) << c.magic << " " << c.machine;
        EXPECT_EQ(source.Position(), 2);
    }
}

}  // namespace
}  // namespace vorn::test
