// The LZM writer: streams that expand back with the head they promise, and
// the stored, empty, key and cancel paths. (The filter choice is in vorn_cli.)
#include <gtest/gtest.h>

#include <lzma.h>

#include <bit>

#include "compress/exceptions.h"
#include "compress/byte_order.h"
#include "compress/lzma/lzma_chain.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/lzma/lzma_method.h"
#include "compress/lzma/x86_filter.h"
#include "compress/custom_methods.h"
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
                    UseCustomMethods(codec);
                    EXPECT_EQ(ExpandBytes(codec, stream), data) << KindName(kind) << size << " " << level;
                    const bool stored = kind == DataKind::Random || size == 1;
                    EXPECT_EQ(stream[5], stored ? 'N' : 'L') << "NON or LZM";
                    if (stored) continue;
                    const auto head = TLzmaHead::Decode(&stream[kHeaderSize], stream.size() - kHeaderSize);
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

// A PE32 program's first bytes ahead of code-like data with near calls,
// or a PE32+ one's (x64) whose code also loads and calls through RIP. Its
// section table names code from 0x100 over three quarters of the rest.
Bytes X86Program(size_t size, bool x64 = false) {
    Bytes b = MakeData(DataKind::Binary, size, 5);
    for (size_t i = 0x100; i + 12 < size; i += 37) {
        b[i] = 0xE8;
        StoreLe32(&b[i + 1], 0x1000u - static_cast<uint32_t>(i));
        if (!x64) continue;
        const Bytes rip = Hex(i % 2 ? "48 8B 05" : "FF 15");
        std::copy(rip.begin(), rip.end(), b.begin() + static_cast<std::ptrdiff_t>(i + 5));
        StoreLe32(&b[i + 5 + rip.size()], 0x2000u - static_cast<uint32_t>(i));
    }
    const Bytes mz = Hex("4D 5A"), peAt = Hex("80 00 00 00");
    const Bytes pe = Hex(x64 ? "50 45 00 00 64 86" : "50 45 00 00 4C 01");  // PE32+ amd64, PE32 i386
    std::copy(mz.begin(), mz.end(), b.begin());
    std::copy(peAt.begin(), peAt.end(), b.begin() + 0x3C);
    std::copy(pe.begin(), pe.end(), b.begin() + 0x80);
    std::fill(b.begin() + 0x86, b.begin() + 0x100, 0);
    b[0x86] = 2;  // sections, right after a file header with no optional header
    const auto code = static_cast<uint32_t>((size - 0x100) / 4 * 3);
    const uint32_t table[2][3] = {{code, 0x100, 0x60000020}, {0x200, 0x100 + code, 0xC0000040}};
    for (size_t i = 0, section = 0x98; i < 2; ++i, section += 40) {  // size, place and kind of each
        StoreLe32(&b[section + 16], table[i][0]);
        StoreLe32(&b[section + 20], table[i][1]);
        StoreLe32(&b[section + 36], table[i][2]);
    }
    return b;
}

// x86-64 operands relative to RIP turn absolute (counted from the end of
// the displacement) when their top byte is near, only with ripRelative;
// FF 15 and REX.W 8B ModRM 05 count, a far one and one without REX.W do
// not, nor one whose displacement holds the top byte of a jmp left alone
// (a library's "89 E9", mov ecx, ebp, decoded wrongly before). The last
// six bytes (four without) wait for more; decoding gives the bytes back,
// and a program converted in pieces comes out as converted whole.
TEST(X86Filter, RipRelativeOperandsTurnAbsoluteAndBack) {
    const struct {
        Bytes code, absolute;
    } cases[] = {
        {Hex("48 8B 05 10 00 00 00  FF 15 F0 FF FF FF  48 8D 0D 00 00 00 7F  8B 05 10 00 00 00  00 00 00 00 00 00"),
         Hex("48 8B 05 17 00 00 00  FF 15 FD FF FF FF  48 8D 0D 00 00 00 7F  8B 05 10 00 00 00  00 00 00 00 00 00")},
        {Hex("89 E9 48 8D 15 C7 B5 05 00 BF 03 00 00 00 31 C0"), Hex("89 E9 48 8D 15 C7 B5 05 00 BF 03 00 00 00 31 C0")},
    };
    for (const auto& c : cases)
        for (const bool rip : {false, true}) {
            Bytes bytes = c.code;
            EXPECT_EQ(TX86Encoder({.RipRelative = rip}).Convert(bytes.data(), bytes.size()), c.code.size() - (rip ? 6 : 4)) << rip;
            EXPECT_EQ(bytes, rip ? c.absolute : c.code);
            TX86Decoder({.RipRelative = rip}).Convert(bytes.data(), bytes.size());
            EXPECT_EQ(bytes, c.code) << rip;
        }
    // Bytes only of what the filter looks at, so that candidates overlap
    // everywhere (this found the fault above), still decode.
    constexpr uint8_t kAlphabet[] = {0xE8, 0xE9, 0xFF, 0x15, 0x25, 0x48, 0x4C, 0x8B, 0x8D, 0x05, 0x00, 0x0D, 0x7F};
    Bytes dense(200000);
    uint32_t seed = 1;
    for (uint8_t& b : dense) b = kAlphabet[((seed = seed * 1103515245u + 12345u) >> 16) % std::size(kAlphabet)];
    // Confined to code, with code that ends inside a batch and one that does not.
    for (const TX86Scope scope : {TX86Scope{.RipRelative = true}, TX86Scope{true, true, 3001, 150000},
                                  TX86Scope{false, true, 65536, 300000}}) {
        Bytes round = dense;
        TX86Encoder(scope).Convert(round.data(), round.size());
        TX86Decoder(scope).Convert(round.data(), round.size());
        EXPECT_EQ(round, dense) << scope.CodeStart;
        Bytes whole = dense, pieces = dense;
        TX86Encoder(scope).Convert(whole.data(), whole.size());
        TX86Encoder inPieces(scope);
        for (size_t done = 0, end = 0, n = 7; end < pieces.size(); n += 1000) {  // the held bytes come again
            end = std::min(pieces.size(), done + n);
            done += inPieces.Convert(&pieces[done], end - done);
        }
        EXPECT_EQ(pieces, whole) << scope.CodeStart;
    }
    const Bytes program = X86Program(100001, true);
    TVornCodec codec;
    UseCustomMethods(codec);
    EXPECT_EQ(ExpandBytes(codec, CompressLzm(codec, program, {6, LzmaFilter::X64})), program);
    TMemoryStream source(program);
    EXPECT_EQ(FilterSuitedTo(source), LzmaFilter::X86);
    EXPECT_EQ(FilterSuitedTo(source, true), LzmaFilter::X64);
}

// Confined to code, a call's operand turns absolute from the code's start;
// calls before and after the code stay as they are.
TEST(X86Filter, ConfinedToCodeOnlyTheCodeTurnsAbsolute) {
    const Bytes plain = Hex("E8 10 00 00 00  90 E8 10 00 00 00 E8 F0 FF FF FF  E8 20 00 00 00  E8 00 00");
    const Bytes absolute = Hex("E8 10 00 00 00  90 E8 16 00 00 00 E8 FB FF FF FF  E8 20 00 00 00  E8 00 00");
    for (const size_t piece : {plain.size(), size_t{9}}) {
        Bytes bytes = plain;
        TX86Encoder encoder({.CodeOnly = true, .CodeStart = 5, .CodeEnd = 16});
        for (size_t done = 0; done < bytes.size();)
            done += encoder.Convert(&bytes[done], std::min(piece, bytes.size() - done));
        EXPECT_EQ(bytes, absolute) << piece;
    }
    Bytes bytes = absolute;
    TX86Decoder({.CodeOnly = true, .CodeStart = 5, .CodeEnd = 16}).Convert(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, plain);
}

// A seeded stream leans on its seed, a stretch of its installer (at an odd
// place and of an odd size, so that positions count it: the level's preset
// has pb 2). It expands where the reader names an installer that holds the
// seed, whose position it puts back, and is refused, in words that say so,
// where the reader names none or one that ends inside the seed; another
// seed fails the check.
TEST(LzmaCompress, SeededStreamsExpandOnlyWithTheirInstaller) {
    const Bytes seed = X86Program(70001);
    Bytes data = X86Program(50000);
    for (size_t i = 0; i + 1000 < data.size(); i += 997) data[i] ^= 0x5A;
    Bytes installer(333 + seed.size() + 4096, 0x33);
    std::copy(seed.begin(), seed.end(), installer.begin() + 333);
    TVornCodec codec;
    const Bytes lone = CompressLzm(codec, data, {9, LzmaFilter::X86});
    const Bytes seeded = CompressLzm(codec, data, {9, LzmaFilter::X86, {seed, 333}});
    EXPECT_LT(seeded.size() * 4, lone.size()) << "the seed was not used";
    const auto head = TLzmaHead::Decode(&seeded[kHeaderSize], seeded.size() - kHeaderSize);
    ASSERT_TRUE(head && head->Seeded());
    EXPECT_EQ(head->SeedStart, 333u);
    EXPECT_EQ(head->SeedSize, seed.size());
    EXPECT_GE(head->DictionarySize, seed.size() + data.size());

    auto refusal = [&](TVornCodec& reader) {
        try {
            ExpandBytes(reader, seeded);
        } catch (const EVornError& error) {
            return error.Message;
        }
        return std::string("expanded");
    };
    UseCustomMethods(codec);
    EXPECT_NE(refusal(codec).find("seeded"), std::string::npos) << "no installer named";
    TMemoryStream whole(installer);
    whole.Seek(77);
    SetSeed(codec, whole);
    EXPECT_EQ(ExpandBytes(codec, seeded), data);
    EXPECT_EQ(whole.Position(), 77);
    TMemoryStream cut(Bytes(installer.begin(), installer.begin() + 333 + 70000));
    SetSeed(codec, cut);
    EXPECT_NE(refusal(codec).find("seeded"), std::string::npos) << refusal(codec);
    for (size_t i = 333; i < 333 + seed.size(); i += 101) installer[i] ^= 1;
    TMemoryStream other(installer);
    SetSeed(codec, other);
    EXPECT_THROW(ExpandBytes(codec, seeded), EVornError);

    Bytes wide = seeded;  // a seed larger than its dictionary
    StoreLe32(&wide[kHeaderSize + kChainedHeadSize], head->DictionarySize + 1);
    EXPECT_EQ(TLzmaHead::Problem(&wide[kHeaderSize], kSeededHeadSize), LzmaFault::BadSeed);
    EXPECT_FALSE(TLzmaHead::Decode(&wide[kHeaderSize], kSeededHeadSize));
}

Bytes AddLink(TChainEncoder& chain, TVornCodec& codec, const Bytes& data, TMemoryStream& dest) {
    TMemoryStream source(data);
    dest.SetSize(0);
    dest.Write("keep", 4);  // the link goes from dest's position on
    const TCompressResult result = chain.AddLink(codec, dest, source);
    EXPECT_EQ(result.BytesWritten + 4, dest.Size());
    return Bytes(dest.Bytes().begin() + 4, dest.Bytes().end());
}

// A group's links, joined and ended by LZMA2's end byte, are one raw LZMA2
// stream of the files, each x86-converted from its own first byte; heads
// tell sizes, sums, places and the properties that suit the content. A
// link that does not shrink stays a link.
TEST(LzmaChain, LinksJoinIntoOneLzma2StreamOfTheFilteredFiles) {
    const std::vector<Bytes> files = {MakeData(DataKind::Text, 100000), X86Program(150001),
                                      MakeData(DataKind::Random, 70000), Bytes{0x41},
                                      MakeData(DataKind::Binary, 300001), X86Program(90001, true)};
    int64_t total = 0;
    for (const Bytes& file : files) total += static_cast<int64_t>(file.size());
    const std::pair<int, ChainContent> kinds[] = {
        {0, ChainContent::General}, {6, ChainContent::General}, {6, ChainContent::WindowsPrograms}};
    for (const auto& [level, content] : kinds) {
        lzma_options_lzma preset{};
        lzma_lzma_preset(&preset, static_cast<uint32_t>(level));
        if (content == ChainContent::WindowsPrograms) preset.lc = 2, preset.pb = 0;
        TChainEncoder chain(level, total, content);
        TVornCodec codec;
        TMemoryStream dest;
        Bytes joined, filtered;
        uint32_t offset = 0;
        for (const Bytes& file : files) {
            const Bytes link = AddLink(chain, codec, file, dest);
            const TVornHeader header = TVornHeader::Decode(link.data());
            EXPECT_EQ(header.Id(), kMethodId);
            EXPECT_EQ(header.UncompressedSize, static_cast<int32_t>(file.size()));
            EXPECT_EQ(header.Checksum, ByteSum(file));
            const auto head = TLzmaHead::Decode(&link[kHeaderSize], link.size() - kHeaderSize);
            ASSERT_TRUE(head && head->Chained);
            EXPECT_EQ(head->ChainOffset, offset);
            EXPECT_EQ(head->Properties(), (preset.pb * 5 + preset.lp) * 9 + preset.lc);
            EXPECT_EQ(head->Crc32, lzma_crc32(file.data(), file.size(), 0));
            // The whole group, whatever the level's preset: a chain is compressed as one file.
            EXPECT_GE(head->DictionarySize, total);
            EXPECT_LE(head->DictionarySize, std::max<uint64_t>(preset.dict_size, total));
            preset.dict_size = head->DictionarySize;
            // A chain converts a program's code only, and x86-64 code as
            // such; a lone stream (above) the whole program, as x86 code.
            const bool program = file[0] == 'M', x64 = program && file[0x84] == 0x64;
            EXPECT_EQ(head->Filter, x64 ? LzmaFilter::X64Code : program ? LzmaFilter::X86Code : LzmaFilter::None);
            EXPECT_EQ(head->CodeStart, program ? 0x100u : 0u);
            EXPECT_EQ(head->CodeSize, program ? (file.size() - 0x100) / 4 * 3 : 0u);
            joined.insert(joined.end(), link.begin() + kHeaderSize + head->Size(), link.end());
            Bytes converted = file;
            if (program) TX86Encoder(head->X86Scope()).Convert(converted.data(), converted.size());
            filtered.insert(filtered.end(), converted.begin(), converted.end());
            offset += static_cast<uint32_t>(file.size());
        }
        joined.push_back(0x00);
        const lzma_filter lzma2[] = {{LZMA_FILTER_LZMA2, &preset}, {LZMA_VLI_UNKNOWN, nullptr}};
        Bytes decoded(filtered.size());
        size_t inPos = 0, outPos = 0;
        ASSERT_EQ(lzma_raw_buffer_decode(lzma2, nullptr, joined.data(), &inPos, joined.size(), decoded.data(),
                                         &outPos, decoded.size()),
                  LZMA_OK);
        EXPECT_EQ(inPos, joined.size());
        EXPECT_EQ(decoded, filtered) << "level " << level;
    }
}

// A cancel leaves dest as it was and ends the chain (its dictionary is lost).
TEST(LzmaChain, EmptyLinksAndLinksAfterACancelAreRefused) {
    TChainEncoder chain(6, 1 << 20);
    TVornCodec codec;
    TMemoryStream dest;
    EXPECT_THROW(AddLink(chain, codec, {}, dest), EVornError);
    codec.OnShowProgress = [](int32_t& percent) { percent = percent >= 50 ? -1 : percent; };
    EXPECT_THROW(AddLink(chain, codec, MakeData(DataKind::Text, 300000), dest), EOperationCancelled);
    EXPECT_EQ(dest.Size(), 4);
    codec.OnShowProgress = nullptr;
    EXPECT_THROW(AddLink(chain, codec, Bytes(100, 1), dest), EVornError);
}

}  // namespace
}  // namespace vorn::test
