// The LZH codec through the engine: exact codec data both ways, the
// tokens the compressor picks, round trips of every length and kind, and
// data that is cut short or damaged.
#include <gtest/gtest.h>

#include <tuple>

#include "compress/exceptions.h"
#include "compress/lzh/lzh_constants.h"
#include "compress/vorn_header.h"
#include "tests/lzh/lzh_test_support.h"

namespace vorn::test {
namespace {

Bytes Compress(const Bytes& input) { return CodecCompress(input, kMethodLzh); }
Bytes Expand(const Bytes& codecData, int64_t size) { return CodecExpand(codecData, kMethodLzh, size); }

TEST(LzhCodec, VectorsBothWays) {
    const struct {
        Bytes input;
        const char* codecData;
    } cases[] = {
        {{}, ""},
        {Text("abc"), "F6 FB BD E0"},                     // three 9-bit literals
        {Hex("78"), "04"},                                 // an 8-bit literal
        {Hex("20"), "D6 00"},                              // a 9-bit literal
        {Bytes(10, 0x61), "F6 C9 00 00"},                  // literal, match of 9 at distance 0
        {Hex("20 20 20 61 62 63"), "8C 00 7B 7D DE F0"},  // match into the spaces, three literals
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(Compress(c.input)), ToHex(Hex(c.codecData))) << ToHex(c.input);
        EXPECT_EQ(Expand(Hex(c.codecData), c.input.size()), c.input);
    }
}

TEST(LzhCodec, CompressorPicksTheTokensItShould) {
    const struct {
        const char* input;
        std::vector<LzhToken> tokens;
    } cases[] = {
        // Two equal bytes stay literals; three make a match.
        {"ab1ab2abc3abc", {Lit('a'), Lit('b'), Lit('1'), Lit('a'), Lit('b'), Lit('2'), Lit('a'),
                           Lit('b'), Lit('c'), Lit('3'), Match(3, 3)}},
        // "abc" at distances 7 and 3 share three bytes with the last one: the nearer wins.
        {"xabc1abc2abc3", {Lit('x'), Lit('a'), Lit('b'), Lit('c'), Lit('1'), Match(3, 3), Lit('2'),
                           Match(3, 3), Lit('3')}},
        // The last match stops at the end of the input.
        {"qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq",
         {Lit('q'), Match(60, 0), Match(11, 0)}},
    };
    for (const auto& c : cases) {
        const Bytes input = Text(c.input);
        EXPECT_EQ(ReadTokens(Compress(input), static_cast<int>(input.size())), c.tokens) << c.input;
    }
    // "ABCDEFGH" again 4,035 back is the farthest match; one byte farther is out of reach.
    for (int gap : {4028, 4029}) {
        Bytes input = Text("ABCDEFGH");
        for (uint8_t b : MakeData(DataKind::Random, static_cast<size_t>(gap), 3)) input.push_back('a' + b % 26);
        for (char c : std::string("ABCDEFGH")) input.push_back(static_cast<uint8_t>(c));
        const Bytes codecData = Compress(input);
        EXPECT_EQ(ReadTokens(codecData, static_cast<int>(input.size())).back(),
                  gap == 4028 ? Match(8, 4035) : Lit('H'));
        EXPECT_EQ(Expand(codecData, input.size()), input);
    }
}

// Streams the compressor never writes, as tokens, and what they expand to.
TEST(LzhCodec, ExpanderTakesMatchesFromAnywhereAndStopsByTheSize) {
    const Bytes history = MakeData(DataKind::Random, 4096, 9);
    Bytes afterHistory = history;
    afterHistory.insert(afterHistory.end(), history.begin(), history.begin() + 5);
    afterHistory.insert(afterHistory.end(), 60, history[4]);
    std::vector<LzhToken> historyTokens;
    for (uint8_t b : history) historyTokens.push_back(Lit(b));
    historyTokens.push_back(Match(5, 4095));  // reads each position just before overwriting it
    historyTokens.push_back(Match(60, 0));    // repeats the last byte
    const struct {
        std::vector<LzhToken> tokens;
        int32_t size;
        Bytes expected;
    } cases[] = {
        {historyTokens, static_cast<int32_t>(afterHistory.size()), afterHistory},
        // Two spaces of the initial ring, then the two just copied; then
        // the look-ahead positions no byte has been written to: fixed 0.
        {{Match(4, 1), Match(3, 4095)}, 7, Hex("20 20 20 20 00 00 00")},
        // The size is checked before each symbol only: a match is written whole.
        {{Lit('z'), Match(60, 0)}, 2, Bytes(61, 'z')},
    };
    for (const auto& c : cases) {
        LzhTokenWriter writer;
        for (const LzhToken& token : c.tokens) writer.Put(token);
        EXPECT_EQ(Expand(writer.Data(), c.size), c.expected) << c.size;
    }
    TVornCodec codec;
    EXPECT_TRUE(RunCodecBytes(codec, Hex("FF FF FF"), kMethodLzh, true, 0).empty());
    EXPECT_EQ(codec.Engine().ReadChecksum, 0u) << "a size of 0 reads nothing";
    EXPECT_TRUE(RunCodecBytes(codec, Hex("FF FF FF"), kMethodLzh, true, -5).empty());
}

TEST(LzhRoundTrip, EveryLengthClassAndKind) {
    const size_t sizes[] = {0, 1, 2, 3, 59, 60, 61, 100, 4095, 4096, 4097, 8191, 8192, 8193, 12288, 16384, 70000};
    TVornCodec codec;
    for (DataKind kind : kAllKinds) {
        for (size_t size : sizes) {
            const Bytes input = MakeData(kind, size, static_cast<uint32_t>(size));
            SCOPED_TRACE(KindName(kind) + " " + std::to_string(size));
            // Through the component, with the header and the store fallback.
            const Bytes stream = CompressBytes(codec, input, kMethodLzh);
            ASSERT_EQ(ExpandBytes(codec, stream), input);
            EXPECT_EQ(CompressBytes(codec, input, kMethodLzh), stream);
            // The codec alone, also where storing would win.
            ASSERT_EQ(Expand(Compress(input), size), input);
        }
        const Bytes large = MakeData(kind, 3 << 20, 77);
        ASSERT_EQ(Expand(Compress(large), large.size()), large) << KindName(kind);
    }
}

// Runs of 13 letters, each coded as one match of its length: every
// letter's previous run lies within the window, and the pair of letters at
// each boundary is new there. Nine lengths whose counts grow like Fibonacci
// numbers stack the unused symbols nine levels under the root, so the
// bytes 200..255 at the end take codes of 17 and 18 bits.
Bytes LongCodeData() {
    std::vector<int> counts;
    for (int chain = 345, weight = 346; counts.size() < 9;) {
        counts.push_back(weight - 1);
        std::tie(chain, weight) = std::pair(chain + weight, chain + 1);
    }
    Bytes out;
    int letter = 0, step = 1, inBlock = 0;
    for (int h = 8; h >= 0; --h) {
        for (int n = 0; n < counts[static_cast<size_t>(h)]; ++n) {
            out.insert(out.end(), static_cast<size_t>(52 + h), static_cast<uint8_t>('A' + letter));
            letter = (letter + step) % 13;
            if (++inBlock == 13) inBlock = 0, step = step % 12 + 1;
        }
    }
    for (int b = 200; b < 256; ++b) out.push_back(static_cast<uint8_t>(b));
    return out;
}

TEST(LzhCodec, CodesLongerThan16BitsGoOutWhole) {
    const Bytes input = LongCodeData();
    const Bytes codecData = Compress(input);
    ASSERT_EQ(Expand(codecData, input.size()), input);
    LzhModel model;
    size_t longest = 0;
    for (const LzhToken& t : ReadTokens(codecData, static_cast<int>(input.size()))) {
        const auto symbol = static_cast<uint16_t>(t.length == 1 ? t.value : t.length + LzhMatchSymbolBase);
        longest = std::max(longest, SymbolCode(model.z, symbol).size());
        LzhUpdateModel(model.z, symbol);
    }
    EXPECT_EQ(longest, 18u);
}

TEST(LzhCodec, CompressibleDataIsStoredAsLzhAndRandomDataFallsBackToStored) {
    TVornCodec codec;
    const Bytes stream = CompressBytes(codec, MakeData(DataKind::Text, 20000), kMethodLzh);
    EXPECT_EQ(std::string(stream.begin() + 5, stream.begin() + 8), "LZH");
    const Bytes noise = MakeData(DataKind::Random, 20000);
    TMemoryStream source(noise), dest;
    EXPECT_EQ(codec.CompressStream(dest, source, kMethodLzh), kMethodStored);
    EXPECT_EQ(ExpandBytes(codec, dest.Bytes()), noise);
    EXPECT_EQ(codec.Engine().Lzh.RingBuf, nullptr) << "arrays released after the failed attempt";
}

// Missing bits read as 0 and the expander stops at the first symbol that
// took one: a cut stream expands as the start of the same stream padded
// with zero bytes.
TEST(LzhCodec, TruncatedDataReadsZeroBits) {
    const Bytes input = MakeData(DataKind::Text, 30000, 4);
    const Bytes full = Compress(input);
    for (size_t cut : {size_t{0}, size_t{1}, full.size() / 3, full.size() - 1}) {
        const Bytes truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        Bytes padded = truncated;
        padded.resize(full.size() + 64, 0);
        const Bytes out = Expand(truncated, input.size());
        const Bytes whole = Expand(padded, input.size());
        EXPECT_LE(out.size(), input.size() + 59) << cut;
        EXPECT_TRUE(out.size() <= whole.size() && std::equal(out.begin(), out.end(), whole.begin())) << cut;
    }
}

TEST(LzhCodec, DamagedDataStaysInBoundsAndFailsTheChecksum) {
    const Bytes input = MakeData(DataKind::Binary, 20000, 6);
    TVornCodec codec;
    const Bytes stream = CompressBytes(codec, input, kMethodLzh);
    for (size_t at : {size_t{kHeaderSize}, stream.size() / 2, stream.size() - 1}) {
        Bytes damaged = stream;
        damaged[at] ^= 0x5A;
        EXPECT_THROW(ExpandBytes(codec, damaged), EBadChecksum) << at;
    }
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes out = Expand(MakeData(DataKind::Random, 1 + seed * 97, seed), 50000);
        EXPECT_LE(out.size(), 50000u + 59);
    }
}

}  // namespace
}  // namespace vorn::test
