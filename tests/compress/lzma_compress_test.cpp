// The LZM writer: its streams read back by liblzma's raw decoder told only
// what the head says, the header and head fields they promise, the filter
// choice, and the stored, empty, key and cancel paths.
#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <bit>

#include "compress/byte_order.h"
#include "compress/exceptions.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

using namespace vorn::lzma;

Bytes DecodeWithLiblzma(const TLzmaHead& head, const Bytes& data, size_t size) {
    lzma_options_lzma options{};
    options.dict_size = head.DictionarySize;
    options.lc = head.Lc;
    options.lp = head.Lp;
    options.pb = head.Pb;
    lzma_filter filters[3];
    size_t n = 0;
    if (head.Filter == LzmaFilter::X86) filters[n++] = {LZMA_FILTER_X86, nullptr};
    filters[n++] = {LZMA_FILTER_LZMA1, &options};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    lzma_stream s = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_raw_decoder(&s, filters), LZMA_OK);
    Bytes out(size + 1);
    s.next_in = data.data() + kHeaderSize + kHeadSize;
    s.avail_in = data.size() - kHeaderSize - kHeadSize;
    s.next_out = out.data();
    s.avail_out = out.size();
    const lzma_ret result = lzma_code(&s, LZMA_FINISH);
    EXPECT_TRUE(result == LZMA_STREAM_END || result == LZMA_OK) << result;
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    return out;
}

struct Written {
    TCompressResult result;
    Bytes stream;
};

Written Compress(TVornCodec& codec, const Bytes& data, const TLzmaSettings& settings) {
    TMemoryStream source(data), dest;
    const TCompressResult result = CompressLzmaStream(codec, dest, source, settings);
    return {result, dest.Bytes()};
}

Written Compress(const Bytes& data, const TLzmaSettings& settings) {
    TVornCodec codec;
    return Compress(codec, data, settings);
}

TEST(LzmaCompress, StreamsReadBackWithTheirHeadsPropertiesAndChecks) {
    for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Runs, DataKind::OneByte})
        for (size_t size : {1u, 4095u, 70000u, 300001u})
            for (LzmaFilter filter : {LzmaFilter::None, LzmaFilter::X86})
                for (int level : {0, 6, 9}) {
                    SCOPED_TRACE(KindName(kind) + " " + std::to_string(size) + " level " + std::to_string(level) +
                                 (filter == LzmaFilter::X86 ? " x86" : ""));
                    const Bytes data = MakeData(kind, size);
                    const Written w = Compress(data, {level, filter});
                    if (size == 1) {  // nothing to gain: stored
                        EXPECT_EQ(w.result.Method, kMethodStored);
                        continue;
                    }
                    ASSERT_EQ(w.result.Method, kMethodCustom);
                    const TVornHeader header = TVornHeader::Decode(w.stream.data());
                    EXPECT_EQ(header.Id(), "LZM");
                    EXPECT_EQ(header.UncompressedSize, static_cast<int32_t>(size));
                    EXPECT_EQ(header.Checksum, ByteSum(data));
                    EXPECT_EQ(w.result.Checksum, header.Checksum);
                    EXPECT_EQ(w.result.BytesWritten, static_cast<int64_t>(w.stream.size()));
                    const std::optional<TLzmaHead> head = TLzmaHead::Decode(&w.stream[kHeaderSize]);
                    ASSERT_TRUE(head);
                    EXPECT_EQ(head->Filter, filter);
                    EXPECT_LE(head->DictionarySize, std::max<uint32_t>(LZMA_DICT_SIZE_MIN, std::bit_ceil(size)));
                    EXPECT_EQ(head->Crc32, lzma_crc32(data.data(), data.size(), 0));
                    EXPECT_EQ(DecodeWithLiblzma(*head, w.stream, size), data);
                    if (level == 6) {
                        EXPECT_EQ(Compress(data, {level, filter}).stream, w.stream) << "not deterministic";
                    }
                }
}

TEST(LzmaCompress, StoresEmptiesRefusesAndCancelsLikeTheComponent) {
    const Bytes random = MakeData(DataKind::Random, 5000);
    const Written stored = Compress(random, {});
    EXPECT_EQ(stored.result.Method, kMethodStored);
    EXPECT_EQ(stored.stream, WithHeader("NON", 5000, ByteSum(random), 0, random));

    const Written empty = Compress({}, {});
    EXPECT_EQ(empty.result.BytesWritten, 0);
    EXPECT_TRUE(empty.stream.empty());

    const Bytes text = MakeData(DataKind::Text, 200000);
    for (const int32_t key : {0x1234, 0}) {
        TVornCodec codec;
        codec.Key = key;
        const int level = key ? 6 : 10;
        try {
            Compress(codec, text, {level, LzmaFilter::None});
            ADD_FAILURE() << "accepted";
        } catch (const EVornError& e) {
            EXPECT_EQ(e.Message, key ? kKeyRefusedMessage : "LZMA level 10 is not between 0 and 9");
        }
    }

    // Progress climbs to 100; a cancel leaves what was in dest before.
    for (const bool cancel : {false, true}) {
        TVornCodec codec;
        std::vector<int32_t> seen;
        codec.OnShowProgress = [&](int32_t& percent) {
            seen.push_back(percent);
            if (cancel && percent >= 50) percent = -1;
        };
        TMemoryStream source(text), dest;
        dest.Write("keep", 4);
        if (cancel) {
            EXPECT_THROW(CompressLzmaStream(codec, dest, source, {}), EOperationCancelled);
            EXPECT_EQ(dest.Bytes(), Text("keep"));
        } else {
            CompressLzmaStream(codec, dest, source, {});
            EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
            EXPECT_EQ(seen.back(), 100);
            EXPECT_GT(seen.size(), 2u);
        }
    }
}

TEST(LzmaCompress, TheX86FilterSuitsX86ProgramsOnly) {
    auto pe = [](uint16_t machine) {
        Bytes b(0x100, 0);
        b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x80;
        b[0x80] = 'P', b[0x81] = 'E', b[0x84] = static_cast<uint8_t>(machine), b[0x85] = machine >> 8;
        return b;
    };
    auto elf = [](uint8_t machine) {
        Bytes b = Text("\x7F" "ELF\2\1\1");
        b.resize(64, 0);
        b[18] = machine;
        return b;
    };
    Bytes lost = pe(0x14C);
    lost[0x3C] = 0xF0;  // the PE header would lie past the end
    const struct {
        Bytes data;
        LzmaFilter expected;
    } cases[] = {{pe(0x14C), LzmaFilter::X86}, {pe(0x8664), LzmaFilter::X86}, {pe(0x1C0), LzmaFilter::None},
                 {elf(62), LzmaFilter::X86},   {elf(3), LzmaFilter::X86},     {elf(183), LzmaFilter::None},
                 {lost, LzmaFilter::None},     {Text("MZ"), LzmaFilter::None}, {Text("plain text"), LzmaFilter::None}};
    for (const auto& c : cases) {
        Bytes data = Text("abc");  // the data starts at the position, not at 0
        data.insert(data.end(), c.data.begin(), c.data.end());
        TMemoryStream source(data);
        source.Seek(3);
        EXPECT_EQ(FilterSuitedTo(source), c.expected) << ToHex(Bytes(c.data.begin(), c.data.begin() + 4));
        EXPECT_EQ(source.Position(), 3);
    }
}

}  // namespace
}  // namespace vorn::test
