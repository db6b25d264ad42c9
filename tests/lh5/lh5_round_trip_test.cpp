// LH5 round trips, the compressor's output pinned and held against the
// bit-by-bit reference decoder, and damaged streams, where the fast
// expander always agrees with the reference.
#include <gtest/gtest.h>

#include <algorithm>

#include "compress/exceptions.h"
#include "compress/lh5/lh5.h"
#include "compress/lh5/lh5_block_coder.h"
#include "compress/lh5/lh5_constants.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Compress(const Bytes& input) { return CodecCompress(input, kMethodLh5); }

TEST(Lh5RoundTrip, EveryLengthAndKindAlsoThroughTheReference) {
    // Around the slides (first after 7,936 positions, then every 8,192) and
    // the engine's 8 KB blocks.
    const size_t sizes[] = {0,    1,    2,    59,   60,   61,    4095,  4096,  7935,  7936, 7937,
                            8191, 8192, 8193, 16127, 16128, 16129, 16384, 24320, 24321, 150000};
    for (DataKind kind : kAllKinds) {
        for (size_t size : sizes) {
            const Bytes input = MakeData(kind, size, static_cast<uint32_t>(size));
            EXPECT_EQ(RoundTripFault(input, kMethodLh5), "") << KindName(kind) << " " << size;
            EXPECT_EQ(ReferenceExpand(Compress(input), static_cast<int32_t>(size)), input) << KindName(kind) << size;
        }
    }
    for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Runs})
        EXPECT_EQ(RoundTripFault(MakeData(kind, 5u << 20, 9), kMethodLh5), "") << KindName(kind);
    // Literals whose neighbours in the character table lie 1, 2, 3, 18, 19
    // and 20 symbols apart: every kind of zero run in the table.
    const Bytes used = {0x20, 0x22, 0x25, 0x29, 0x3C, 0x50, 0x65};
    Bytes gaps;
    for (size_t i = 0; gaps.size() < 3000; ++i) gaps.push_back(used[i * 5 % 7]);
    EXPECT_EQ(ReferenceExpand(Compress(gaps), 3000), gaps);
}

TEST(Lh5Compressor, CodeLengthsAreLimitedTo16BitsAndStayComplete) {
    // 22 Fibonacci weights would need a tree 21 levels deep.
    using lh5::kCharAlphabet;
    TCodecState s;
    TLh5Arrays arrays(s, true);
    uint16_t freq[2 * kCharAlphabet - 1] = {};
    uint8_t len[kCharAlphabet];
    uint16_t code[kCharAlphabet];
    for (int i = 0, a = 1, b = 1; i < 22; ++i, b = a + b, a = b - a) freq[i] = static_cast<uint16_t>(a);
    ASSERT_GE(Lh5MakeTree(s, kCharAlphabet, freq, len, code), kCharAlphabet);
    uint32_t kraft = 0;
    for (int i = 0; i < 22; ++i) {
        ASSERT_TRUE(len[i] >= 1 && len[i] <= 16) << i;
        EXPECT_TRUE(i == 0 || len[i] <= len[i - 1]) << "a heavier symbol never gets a longer code";
        kraft += 1u << (16 - len[i]);
        for (int j = 0; j < i; ++j)  // canonical codes: none is a prefix of another
            EXPECT_NE(code[j] >> (16 - len[i]) << (16 - len[i]), code[i]) << j << " " << i;
    }
    EXPECT_EQ(kraft, 1u << 16) << "the limited code is still complete";
    EXPECT_EQ(len[0], 16);
    EXPECT_EQ(std::count(len + 22, len + kCharAlphabet, 0), kCharAlphabet - 22);
}

TEST(Lh5Compressor, MatchesReachBack8191Bytes) {
    // 64 random bytes repeated 8,191 bytes later are one match; a byte
    // later they are 64 literals.
    size_t sizes[2];
    for (int far : {0, 1}) {
        Bytes input = MakeData(DataKind::Random, 8191 + far, 21);
        input.insert(input.end(), input.begin(), input.begin() + 64);
        const Bytes codecData = Compress(input);
        ASSERT_EQ(ReferenceExpand(codecData, static_cast<int32_t>(input.size())), input);
        sizes[far] = codecData.size();
    }
    EXPECT_GT(sizes[1], sizes[0] + 40);
}

// Text with binary in the middle: several tables, literals and matches.
Bytes Sample(size_t size) {
    Bytes data = MakeData(DataKind::Text, size, 5);
    const Bytes binary = MakeData(DataKind::Binary, size / 2, 6);
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(size / 3), binary.begin(), binary.end());
    return data;
}

// 64-bit FNV-1a, to pin a stream without spelling out its bytes.
uint64_t Digest(const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325u;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3u;
    return h;
}

TEST(Lh5Compressor, OutputIsPinnedBitForBit) {
    // Which earlier position the trie reports, its ties and its percolation,
    // the lazy match and the 256-byte limit decide every bit of the output.
    // Inputs of 70,000 bytes cross eight slides; runs reach the 256-byte
    // matches that replace a leaf.
    const std::pair<DataKind, uint64_t> cases[] = {
        {DataKind::Text, 0x9168394d126fdca1u},    {DataKind::Binary, 0x3b2121a3d36f4086u},
        {DataKind::Runs, 0x9cd2d6f587ad9089u},    {DataKind::Random, 0xb2902c55e7bfcb74u},
        {DataKind::OneByte, 0xf44c1d496837809cu}, {DataKind::Escapes, 0x2a332218f88a15d0u},
    };
    for (const auto& [kind, digest] : cases) {
        const Bytes codecData = Compress(MakeData(kind, 70000, 13));
        EXPECT_EQ(Digest(codecData), digest) << KindName(kind) << " 0x" << std::hex << Digest(codecData);
    }
    EXPECT_EQ(Digest(Compress(Sample(70000))), 0xe2c4801b9ea5b466u);
}

// Both decoders give the same bytes, or both refuse the tables.
void ExpectSameAsReference(const Bytes& codecData, int32_t size, const std::string& what) {
    auto run = [&](auto expand) -> std::pair<bool, Bytes> {
        try {
            return {false, expand()};
        } catch (const ELZHBadDecodeTable&) {
            return {true, {}};
        }
    };
    const auto fast = run([&] { return CodecExpand(codecData, kMethodLh5, size); });
    const auto slow = run([&] { return ReferenceExpand(codecData, size); });
    ASSERT_EQ(fast, slow) << what;
    if (fast.first) return;
    // Never short, and at most the tail of one match past the size.
    ASSERT_GE(fast.second.size(), static_cast<size_t>(size)) << what;
    ASSERT_LE(fast.second.size(), static_cast<size_t>(size) + 255) << what;
}

TEST(Lh5BadInput, FlippedTruncatedAndRandomStreamsAgreeWithTheReference) {
    const Bytes small = Compress(Sample(3000));
    for (size_t bit = 0; bit < small.size() * 8; ++bit) {
        Bytes damaged = small;
        damaged[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
        ExpectSameAsReference(damaged, 4500, "bit " + std::to_string(bit));
    }
    const Bytes large = Compress(Sample(20000));
    for (size_t cut = 0; cut < large.size(); cut += 1 + cut / 8)
        ExpectSameAsReference(Bytes(large.begin(), large.begin() + static_cast<std::ptrdiff_t>(cut)), 30000,
                              "cut at " + std::to_string(cut));
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        Bytes random = MakeData(DataKind::Random, 64 + seed * 7, seed);
        random[0] = 0;  // small blocks get further into the header
        ExpectSameAsReference(random, 5000, "random seed " + std::to_string(seed));
    }
}

TEST(Lh5BadInput, DamagedStreamsFailThroughTheComponent) {
    TVornCodec codec;
    const Bytes stream = CompressBytes(codec, Sample(6000), kMethodLh5);
    ASSERT_EQ(stream[5], 'L');
    for (size_t at : {stream.size() / 4, stream.size() / 2, stream.size() * 3 / 4}) {
        Bytes damaged = stream;
        damaged[at] ^= 0x10;
        try {
            ExpandBytes(codec, damaged);
            ADD_FAILURE() << "damage at " << at << " passed";
        } catch (const EBadChecksum&) {
        } catch (const ELZHBadDecodeTable&) {
        }
    }
}

}  // namespace
}  // namespace vorn::test
