// The LZM expander against liblzma's encoder and x86 converter, and damaged
// LZM streams.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <functional>
#include <random>
#include <stdexcept>

#include "compress/exceptions.h"
#include "compress/lzma/crc32.h"
#include "compress/lzma/lzma_format.h"
#include "compress/custom_methods.h"
#include "compress/lzma/x86_filter.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

struct TLzmaCase {
    uint8_t Lc = 3, Lp = 0, Pb = 2;
    uint32_t Dictionary = 1u << 20;
    bool EndMarker = true;
    bool X86 = false;
};

// Room for the worst case either way: the cases here expand to under 1 MiB
// and LZMA adds a little to data it cannot shrink.
Bytes RawCode(const Bytes& input, const lzma_filter* filters, bool encoding) {
    return LzmaRawCode(input, filters, encoding, input.size() * 2 + (1 << 20));
}

// Raw LZMA1 data (after the x86 converter when asked).
Bytes ReferenceEncode(const Bytes& input, const TLzmaCase& c) {
    lzma_options_lzma options = LzmaOptions(6, c.Lc, c.Lp, c.Pb, c.Dictionary);
    options.ext_flags = c.EndMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    options.ext_size_low = static_cast<uint32_t>(input.size());
    options.ext_size_high = 0;
    lzma_filter filters[3] = {};
    int n = 0;
    if (c.X86) filters[n++] = {LZMA_FILTER_X86, nullptr};
    filters[n++] = {c.EndMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    return RawCode(input, filters, true);
}

// liblzma's x86 converter over the whole input, in either direction.
Bytes ReferenceX86(const Bytes& input, lzma::X86Direction direction) {
    // The converter cannot end a chain of its own: the input goes through
    // LZMA with the converter on one side and without it on the other.
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 0);
    const lzma_filter filters[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    const bool encoding = direction == lzma::X86Direction::Encode;
    return RawCode(RawCode(input, encoding ? filters : filters + 1, true), encoding ? filters + 1 : filters, false);
}

// Our converter over the input fed in pieces of the given size.
template <lzma::X86Direction kDirection>
Bytes OurX86(const Bytes& input, size_t piece) {
    lzma::TX86Converter<kDirection> filter;
    Bytes out = input;
    size_t done = 0;
    for (size_t end = std::min(piece, out.size());; end = std::min(end + piece, out.size())) {
        done += filter.Convert(out.data() + done, end - done);
        if (end == out.size()) break;
    }
    EXPECT_GE(done + 4, out.size());
    return out;
}

// VORN header, head and the reference data: a stream ExpandStream reads.
Bytes LzmStream(const Bytes& input, const TLzmaCase& c) {
    lzma::TLzmaHead head;
    head.Lc = c.Lc;
    head.Lp = c.Lp;
    head.Pb = c.Pb;
    head.DictionarySize = c.Dictionary;
    head.Filter = c.X86 ? lzma::LzmaFilter::X86 : lzma::LzmaFilter::None;
    head.Crc32 = static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size())));
    const auto opening = lzma::StreamOpening(head, static_cast<int32_t>(input.size()), ByteSum(input));
    Bytes out(opening.begin(), opening.end());
    const Bytes data = ReferenceEncode(input, c);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes ExpandLzm(const Bytes& stream, int32_t key = 0) {
    TVornCodec codec;
    codec.Key = key;
    UseCustomMethods(codec);
    return ExpandBytes(codec, stream);
}

// Corpus cuts x properties x dictionaries x end marker x filter, one row
// each; the 1 MiB cuts cross the expander's batches and, with the 4 KB
// dictionary, its wrap.
TEST(LzmaExpand, MatchesLiblzmaEncoder) {
    struct Props { uint8_t Lc, Lp, Pb; };
    const Props props[] = {{3, 0, 2}, {0, 2, 0}, {4, 0, 4}, {1, 3, 1}};
    const size_t sizes[] = {0, 1, 8191, 8192, 8193, 1u << 20};
    int row = 0;
    for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Runs, DataKind::Random})
        for (size_t size : sizes) {
            const Bytes input = MakeData(kind, size);
            for (const Props& p : props)
                for (uint32_t dictionary : {4096u, 1u << 22})
                    for (bool marker : {true, false})
                        for (bool x86 : {false, true}) {
                            // The largest cuts take two rows per kind of data.
                            if (size > 65536 && (&p != props || marker != x86 || dictionary > 4096)) continue;
                            const TLzmaCase c{p.Lc, p.Lp, p.Pb, dictionary, marker, x86};
                            SCOPED_TRACE(KindName(kind) + " " + std::to_string(size) + " row " + std::to_string(row++));
                            ASSERT_EQ(ExpandLzm(LzmStream(input, c)), input);
                        }
        }
}

// The CRC fed in pieces against zlib's on the whole, both ways: the
// carry-less fold takes the 16-byte blocks of long pieces, from any
// alignment, and the tables their tails.
TEST(LzmaCrc32, MatchesZlibInPieces) {
    Bytes data(4096);
    std::mt19937 rng(7);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint32_t> table(lzma::kCrcTableSize);
    lzma::BuildCrcTable(table.data());
    for (bool carryless : {false, lzma::HasCarrylessMultiply()})
        for (size_t piece : {1, 15, 16, 63, 64, 65, 200, 4096}) {
            uint32_t crc = 0;
            for (size_t at = 0; at < data.size(); at += piece)
                crc = lzma::UpdateCrc32(table.data(), crc, data.data() + at, std::min(piece, data.size() - at),
                                        carryless);
            EXPECT_EQ(crc, crc32(0, data.data(), static_cast<uInt>(data.size()))) << piece << carryless;
        }
}

// Our converter, both ways, fed in pieces of every awkward size against
// liblzma's on the whole data: opcodes at piece edges, in the last four
// bytes, after other opcodes, operands whose conversion wraps round 2^32;
// and decoding undoes encoding.
TEST(LzmaX86Filter, MatchesLiblzma) {
    std::mt19937 rng(7);
    std::vector<Bytes> inputs = {
        Hex("E8 00 00 00 00"), Hex("E8 FB FF FF FF 90"), Hex("90 E8 01 00 00 FF E9 FF FF FF 00"),
        Hex("E8 E8 E8 E8 E8 00 00 00 00 E9 FF"), Hex("00 00 00 E8 10 00 00"),
        Hex("E8 12 34 56 00 E8 78 9A BC FF E9 00 00 80 00 E8 FF FF 7F FF"),
    };
    for (size_t size : {40, 1000, 70000}) {
        Bytes b(size);
        const uint8_t alphabet[] = {0xE8, 0xE9, 0x00, 0xFF, 0x12, 0x80, 0x7F, 0x01};
        for (uint8_t& x : b) x = alphabet[rng() % 8];
        inputs.push_back(b);
    }
    for (const Bytes& input : inputs)
        for (size_t piece : {1, 3, 5, 6, 7, 4096, 1 << 20}) {
            using enum lzma::X86Direction;
            const std::string what = ToHex(input).substr(0, 60) + " in pieces of " + std::to_string(piece);
            const Bytes encoded = OurX86<Encode>(input, piece);
            ASSERT_EQ(OurX86<Decode>(input, piece), ReferenceX86(input, Decode)) << what;
            ASSERT_EQ(encoded, ReferenceX86(input, Encode)) << what;
            ASSERT_EQ(OurX86<Decode>(encoded, piece), input) << what;
        }
}

// The words a refusal gives; "" when the stream expands.
std::string Refusal(const std::function<void()>& expand) {
    try {
        expand();
    } catch (const EVornError& error) {
        return error.Message;
    }
    return "";
}

std::string Damaged(lzma::LzmaFault fault) { return EDamagedStream(lzma::LzmaFaultWords(fault)).Message; }

// A damaged stream is refused, never expanded, with words that say what is
// wrong: "Bad checksum" only when the check is what fails.
TEST(LzmaExpand, RefusesDamagedStreamsSayingWhy) {
    const Bytes input = MakeData(DataKind::Binary, 20000);
    const Bytes good = LzmStream(input, {3, 0, 2, 1u << 16, true, true});
    ASSERT_EQ(ExpandLzm(good), input);
    const size_t head = kHeaderSize, data = head + lzma::kHeadSize;
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    auto withSize = [&](int32_t delta) {
        TVornHeader h = TVornHeader::Decode(good.data());
        h.UncompressedSize += delta;
        Bytes b = good;
        const auto bytes = h.Encode();
        std::copy(bytes.begin(), bytes.end(), b.begin());
        return b;
    };
    const std::string bad = kBadChecksumMessage;
    const struct {
        std::string name;
        Bytes stream;
        std::string refusal;
    } cases[] = {
        {"version", with(data - 11, 4), Damaged(lzma::LzmaFault::UnknownVersion)},
        {"properties", with(data - 10, 225), Damaged(lzma::LzmaFault::BadProperties)},
        {"filter", with(data - 5, 5), Damaged(lzma::LzmaFault::UnknownFilter)},
        {"huge dictionary", with(data - 6, 0x04), Damaged(lzma::LzmaFault::DictionaryTooLarge)},  // 64 MiB + 64 KB
        {"crc", with(data - 1, good[data - 1] ^ 1), bad},
        {"first range byte", with(data, 1), Damaged(lzma::LzmaFault::DataDamaged)},
        {"size one less", withSize(-1), Damaged(lzma::LzmaFault::DataDamaged)},
        {"size one more", withSize(1), bad},
        {"size zero", withSize(-20000), Damaged(lzma::LzmaFault::DataDamaged)},
        {"size negative", withSize(-20001), Damaged(lzma::LzmaFault::NegativeSize)},
        {"a byte left over", [&] { Bytes b = good; b.push_back(0); return b; }(), Damaged(lzma::LzmaFault::DataLeftOver)},
        {"head cut", Bytes(good.begin(), good.begin() + data - 3), Damaged(lzma::LzmaFault::HeadCutShort)},
        {"cut 1", Bytes(good.begin(), good.end() - 1), Damaged(lzma::LzmaFault::DataCutShort)},
    };
    for (const auto& c : cases) EXPECT_EQ(Refusal([&] { ExpandLzm(c.stream); }), c.refusal) << c.name;
    std::mt19937 rng(3);
    for (int i = 0; i < 300; ++i) {
        const size_t at = data + rng() % (good.size() - data);
        const Bytes flipped = with(at, good[at] ^ (1 << rng() % 8));
        EXPECT_THROW(ExpandLzm(flipped), EVornError) << "flip at " << at;
    }
    // LZM streams are never locked: a locked one is not believed, key or none.
    TVornHeader locked = TVornHeader::Decode(good.data());
    locked.LockLevel = 1;
    locked.Checksum += 77;
    Bytes b = good;
    const auto bytes = locked.Encode();
    std::copy(bytes.begin(), bytes.end(), b.begin());
    EXPECT_THROW(ExpandLzm(b), EInvalidKey);
    EXPECT_THROW(ExpandLzm(b, 77), EInvalidKey);
}

// Chains expand link by link through one codec, in every kind of chunk:
// stored (random data), several per link (over 2 MiB), none (an empty
// link), with positions for lp and pb running on across links, a 4 KB
// dictionary that wraps, the x86 filter anew in each link, and a lone
// stream in between that leaves the chain alone.
TEST(LzmaChain, ExpandsLinksInOrder) {
    const Bytes first = MakeData(DataKind::Binary, 5003);
    const std::vector<Bytes> pieces = {first, {}, Bytes(1, 'x'), MakeData(DataKind::Random, 70000),
                                       MakeData(DataKind::Text, (2 << 20) + 999), first, MakeData(DataKind::Runs, 8193)};
    const Bytes lone = LzmStream(first, {});
    for (const TChainCase& c : {TChainCase{}, TChainCase{0, 2, 1, 4096, true}, TChainCase{1, 3, 2, 1u << 16, false}}) {
        const std::vector<Bytes> links = LzmaChain(pieces, c);
        TVornCodec codec;
        UseCustomMethods(codec);
        for (size_t i = 0; i < links.size(); ++i) {
            ASSERT_EQ(ExpandBytes(codec, links[i]), pieces[i]) << "link " << i << " lp " << int{c.Lp};
            if (i == 2) {
                ASSERT_EQ(ExpandBytes(codec, lone), first);
            }
        }
        ASSERT_EQ(ExpandBytes(codec, links[0]), first);  // a new chain
    }
}

// A link that does not follow, or whose chunks are damaged, is refused, and
// so is every link after it; a new chain then starts as ever.
TEST(LzmaChain, RefusesLinksThatDoNotFollow) {
    const std::vector<Bytes> pieces = {MakeData(DataKind::Text, 30000), MakeData(DataKind::Binary, 20000),
                                       MakeData(DataKind::Text, 10000, 2)};
    const std::vector<Bytes> links = LzmaChain(pieces, {.X86 = true});
    const size_t head = kHeaderSize, chunk = head + lzma::kChainedHeadSize;
    auto with = [&](size_t at, int delta, size_t link = 0) {
        std::vector<Bytes> b = links;
        b[link][at] = static_cast<uint8_t>(b[link][at] + delta);
        return b;
    };
    auto plus = [&](const Bytes& tail) {
        std::vector<Bytes> b = links;
        b[0].insert(b[0].end(), tail.begin(), tail.end());
        return b;
    };
    const std::string data = Damaged(lzma::LzmaFault::DataDamaged);
    const struct {
        std::string name;
        std::vector<Bytes> streams;
        std::string refusal;  // of the first link refused
    } cases[] = {
        {"a link skipped", {links[0], links[2]}, Damaged(lzma::LzmaFault::OffsetPastChain)},
        {"the chain offset one more", with(head + lzma::kHeadSize, 1, 1), Damaged(lzma::LzmaFault::OffsetPastChain)},
        {"a link twice", {links[0], links[1], links[1]}, Damaged(lzma::LzmaFault::OffsetInsideChain)},
        {"a later link first", {links[1]}, Damaged(lzma::LzmaFault::NoChain)},
        {"the dictionary differs", with(head + 2, 1, 1), Damaged(lzma::LzmaFault::ChainMismatch)},
        {"the properties differ", with(head + 1, 1, 1), Damaged(lzma::LzmaFault::ChainMismatch)},
        {"lc + lp over 4", with(head + 1, 10), Damaged(lzma::LzmaFault::ChainLiteralBits)},  // 3, 0, 2 becomes 4, 1, 2
        {"damage breaks the chain", with(links[1].size() - 100, 1, 1), Damaged(lzma::LzmaFault::DataCutShort)},
        {"the first chunk keeps the dictionary", with(chunk, -0x20), data},
        {"the end of the stream", with(chunk, -links[0][chunk]), data},
        {"control 03", with(chunk, 3 - links[0][chunk]), data},
        {"the chunk's properties differ", with(chunk + 5, 1), data},
        {"packed size one more", with(chunk + 4, 1), data},
        {"unpacked size one less", with(chunk + 2, -1), data},
        {"the range coder's first byte", with(chunk + 6, 1), data},
        {"cut", {Bytes(links[0].begin(), links[0].end() - 1)}, Damaged(lzma::LzmaFault::DataCutShort)},
        {"a byte left over", plus({0}), data},
        {"a stored chunk after the size", plus({2, 0, 0, 'x'}), data},
    };
    for (const auto& c : cases) {
        TVornCodec codec;
        UseCustomMethods(codec);
        std::vector<std::string> refusals;
        for (const Bytes& stream : c.streams) {
            const std::string refusal = Refusal([&] { ExpandBytes(codec, stream); });
            EXPECT_TRUE(refusals.empty() || refusal == Damaged(lzma::LzmaFault::NoChain)) << c.name << ": a link after a refused one";
            if (!refusal.empty()) refusals.push_back(refusal);
        }
        ASSERT_FALSE(refusals.empty()) << c.name;
        EXPECT_EQ(refusals[0], c.refusal) << c.name;
        EXPECT_EQ(ExpandBytes(codec, links[0]), pieces[0]) << c.name;
    }
}

}  // namespace
}  // namespace vorn::test
