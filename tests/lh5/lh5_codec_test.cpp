// The LH5 codec: known, hand-built and refused streams, round trips, the
// compressor's output pinned, damaged streams; the reference agrees on each.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/lh5/lh5.h"
#include "compress/lh5/lh5_block_coder.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Compress(const Bytes& input) { return CodecCompress(input, kMethodLh5); }
Bytes Expand(const Bytes& codecData, int64_t size) { return CodecExpand(codecData, kMethodLh5, size); }

// Codec data written as fields "width:value", most significant bit first,
// and "Ln", a length in the code-length or distance table: 3 bits, or
// 7 + unary. The last byte is padded with 0 bits.
Bytes Bits(const std::string& fields) {
    Bytes out;
    size_t at = 0;
    auto put = [&](int n, uint32_t v) {
        for (int i = n - 1; i >= 0; --i, ++at) out.resize(at / 8 + 1), out.back() |= ((v >> i) & 1) << (7 - at % 8);
    };
    std::istringstream in(fields);
    for (std::string f; in >> f;) {
        const int n = std::stoi(f.substr(f[0] == 'L'));
        if (f[0] != 'L') put(n, static_cast<uint32_t>(std::stoul(f.substr(f.find(':') + 1), nullptr, 0)));
        else if (n < 7) put(3, static_cast<uint32_t>(n));
        else put(n - 3, ((1u << (n - 4)) - 1) << 1);
    }
    return out;
}

// One block of count symbols, padded with ones so that a reader running
// on never sees a tidy end.
Bytes Block(int count, const std::string& fields) {
    return Bits("16:" + std::to_string(count) + " " + fields + " 32:0xFFFFFFFF");
}

// Tables of one symbol, read without any bits: code length 0, 'x', class 0.
const std::string kLen0 = "5:0 5:0 ", kCharX = "9:0 9:120 ", kDist0 = " 4:0 4:0 ";
// Code-length code of four 2-bit codes: 0 = 00 (one zero), 1 = 01 (3..18
// zeros), 2 = 10 (20..531 zeros), 3 = 11 (length 1).
const std::string kFourLenCodes = "5:4 L2 L2 L2 2:0 L2 ";
// Code-length code: 0 for symbol 2 (20..531 zeros), 1 for symbol 3 (length 1).
const std::string kTwoLenCodes = "5:4 L0 L0 L1 2:0 L1 ";

// Character lengths 1 for 'a' (code 0) and for symbol match (code 1).
std::string LiteralAndMatch(int m) {
    return kFourLenCodes + "9:" + std::to_string(m + 1) + " 2:2 9:77 2:3 2:2 9:" + std::to_string(m - 118) + " 2:3 ";
}

// What expand gives, or kRefused for the tables the codec rejects.
const Bytes kRefused = Text("refused: Bad decode table in archive!");
template <typename F>
Bytes Outcome(F expand) {
    try {
        return expand();
    } catch (const ELZHBadDecodeTable& e) {
        return Text(std::string("refused: ") + e.what());
    }
}

TEST(Lh5Streams, KnownHandBuiltAndRefusedStreams) {
    const std::string x = kLen0 + kCharX;
    const struct {
        const char* what;
        Bytes stream;
        Bytes expected;
        bool written = false;  // by the compressor from expected
    } cases[] = {
        {"nothing", {}, {}, true},
        {"one literal, single-symbol tables", Hex("00 01 00 00 04 10 00"), Hex("41"), true},
        {"three literals", Hex("00 03 28 08 44 C9 13 58 02 60"), Text("abc"), true},
        {"literal, 9-byte match at distance one", Hex("00 02 20 04 30 71 36 48 40 10"), Bytes(10, 'a'), true},
        {"two single-symbol blocks back to back",
         Bits("16:3 5:0 5:0 9:0 9:97 4:0 4:0 16:2 5:0 5:0 9:0 9:98 4:0 4:0"), Text("aaabb")},
        {"count 0 means 65,536 symbols", Bits("16:0 5:0 5:0 9:0 9:120 4:0 4:0 16:1 5:0 5:0 9:0 9:121 4:0 4:0"),
         Text(std::string(65536, 'x') + "y")},
        {"single distance class 0", Block(2, LiteralAndMatch(263) + kDist0 + "2:1"), Bytes(11, 'a')},
        {"single code-length symbol 3: all 510 lengths 1", Block(3, "5:0 5:3 9:2" + kDist0 + "3:5"), Hex("01 00 01")},
        {"distance lengths past the 8-bit table; 'a', 20 initial spaces, 10 bytes from distance 20",
         Block(4, LiteralAndMatch(263) + "4:14 L1 L2 L3 L4 L5 L6 L7 L8 L9 L10 L11 L12 L13 L13 " +
                      "1:0  1:1 13:0x1FFF 12:0  1:1 1:0  1:1 6:0x3E 4:4"),
         Text("a" + std::string(20, ' ') + "a" + std::string(9, ' '))},
        {"a first match of 256 copies the initial spaces", Block(2, LiteralAndMatch(509) + kDist0 + "2:2"),
         Text(std::string(256, ' ') + "a")},
        // After the third code length a 2-bit zero run follows even when
        // n = 3, not when n = 2; a run may carry the index past n.
        {"n 3, run 3", Block(1, "5:3 L1 L1 L0 2:3 " + kCharX + kDist0), Text("x")},
        {"n 2", Block(1, "5:2 L1 L1 " + kCharX + kDist0), Text("x")},
        {"n 4, run 3", Block(1, "5:4 L1 L2 L2 2:3 " + kCharX + kDist0), Text("x")},
        {"n 5, run 1", Block(1, "5:5 L1 L2 L0 2:1 L2 " + kCharX + kDist0), Text("x")},
        // Character lengths: zero runs between 'a' and the next literal.
        {"run of 18", Block(2, kFourLenCodes + "9:117 2:2 9:77 2:3 2:1 4:15 2:3" + kDist0 + "2:2"), Hex("74 61")},
        {"run of 19", Block(2, kFourLenCodes + "9:118 2:2 9:77 2:3 2:0 2:1 4:15 2:3" + kDist0 + "2:2"), Hex("75 61")},
        {"run of 20", Block(2, kFourLenCodes + "9:119 2:2 9:77 2:3 2:2 9:0 2:3" + kDist0 + "2:2"), Hex("76 61")},
        {"zero run ending at entry 511", Block(1, kTwoLenCodes + "9:511 3:6 9:489" + kDist0), Hex("01")},
        {"spare 15th distance length of 20", Block(1, x + "4:15 L1 L1 L0 L0 L0 L0 L0 L0 L0 L0 L0 L0 L0 L0 L20"), Text("x")},
        {"code lengths all zero", Block(1, "5:4 L0 L0 L0 2:0 L0"), kRefused},
        {"incomplete code", Block(1, "5:3 L2 L2 L2 2:0"), kRefused},
        {"over-full code that wraps to 0", Block(1, "5:4 L1 L1 L1 2:0 L1"), kRefused},
        {"length 17 in the code-length table", Block(1, "5:5 L1 L2 L17 2:0 L17 L16"), kRefused},
        {"length 20 in the distance table", Block(1, x + "4:2 L1 L20"), kRefused},
        {"single code-length symbol 19", Block(1, "5:0 5:19"), kRefused},
        {"single character 510", Block(1, kLen0 + "9:0 9:510"), kRefused},
        {"single distance class 14", Block(1, x + "4:0 4:14"), kRefused},
        {"character lengths all zero", Block(1, kLen0 + "9:300"), kRefused},
        {"zero run past the 511 entries", Block(1, kTwoLenCodes + "9:511 3:6 9:490"), kRefused},
    };
    for (const auto& c : cases) {
        const auto size = static_cast<int32_t>(c.expected == kRefused ? 1 : c.expected.size());
        EXPECT_EQ(Outcome([&] { return Expand(c.stream, size); }), c.expected) << c.what;
        EXPECT_EQ(Outcome([&] { return ReferenceExpand(c.stream, size); }), c.expected) << c.what;
        EXPECT_TRUE(!c.written || Compress(c.expected) == c.stream) << c.what;
    }
    // A match is written whole: the last one ends 255 bytes past the size.
    EXPECT_EQ(Expand(Block(3, LiteralAndMatch(509) + kDist0 + "3:5"), 300),
              Text(std::string(256, ' ') + "a" + std::string(256, 'a')));
    TVornCodec codec;  // size 0 reads nothing
    EXPECT_TRUE(RunCodecBytes(codec, Hex("00 01 00 00 04 10 00"), kMethodLh5, Direction::Expand, 0).empty());
    EXPECT_EQ(EngineOf(codec).ReadChecksum, 0u);
    // Through the component a refusal passes unchanged.
    EXPECT_THROW(ExpandBytes(codec, WithHeader("LH5", 1, 0x78, 0, Block(1, "5:0 5:19"))), ELZHBadDecodeTable);
}

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
}

TEST(Lh5Compressor, CodeLengthsAreLimitedTo16BitsAndStayComplete) {
    // 22 Fibonacci weights would need a tree 21 levels deep.
    using lh5::kCharAlphabet;
    TCodecState s;
    TLh5Arrays arrays(s, Direction::Compress);
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
}

TEST(Lh5Compressor, MatchesReachBack8191Bytes) {
    // 64 random bytes repeated 8,191 bytes later are one match; a byte
    // later they are 64 literals.
    auto size = [](size_t gap) {
        Bytes input = MakeData(DataKind::Random, gap + 64, 21);
        std::copy_n(input.begin(), 64, input.begin() + static_cast<std::ptrdiff_t>(gap));
        return Compress(input).size();
    };
    EXPECT_GT(size(8192), size(8191) + 40);
}

// Text with binary in the middle: several tables, literals and matches.
Bytes Sample(size_t size) {
    Bytes data = MakeData(DataKind::Text, size, 5);
    const Bytes binary = MakeData(DataKind::Binary, size / 2, 6);
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(size / 3), binary.begin(), binary.end());
    return data;
}

TEST(Lh5Compressor, OutputIsPinnedBitForBit) {
    // The trie's choices, its ties and percolation, the lazy match and the
    // 256-byte limit decide every bit; 70,000 bytes cross eight slides.
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

// Both decoders give the same bytes, or both refuse the tables; past the
// end of its data the codec stops early, at most the tail of one match past
// the size.
void ExpectSameAsReference(const Bytes& codecData, int32_t size, const std::string& what) {
    const Bytes fast = Outcome([&] { return Expand(codecData, size); });
    const Bytes slow = Outcome([&] { return ReferenceExpand(codecData, size); });
    ASSERT_TRUE(fast == kRefused ? slow == kRefused
                                 : fast.size() <= slow.size() && std::equal(fast.begin(), fast.end(), slow.begin()))
        << what;
    ASSERT_LE(fast.size(), static_cast<size_t>(size) + 255) << what;
}

TEST(Lh5Expander, BlockStretchesTakeAndWriteWhatTheBytePathDoes) {
    EXPECT_EQ(BytePathFault(kMethodLh5, 70000), "");
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

}  // namespace
}  // namespace vorn::test
