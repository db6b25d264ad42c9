// LH5 round trips through TVornCodec, and the compressor's choices as the
// reference decoder reads them back: lazy matches, the window's reach,
// block boundaries and the 16-bit length limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "compress/lh5/lh5.h"
#include "compress/lh5/lh5_block_coder.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

constexpr DataKind kKinds[] = {DataKind::Text,   DataKind::Binary,  DataKind::Runs,
                               DataKind::Random, DataKind::OneByte, DataKind::Escapes};

Bytes Compressed(const Bytes& input) {
    TVornCodec codec;
    codec.HeaderAllowance = INT_MIN / 2;  // never fall back to stored
    return RunCodecBytes(codec, input, kMethodLh5, false);
}

TReferenceTrace Trace(const Bytes& input) {
    TReferenceTrace trace;
    EXPECT_EQ(ReferenceExpand(Compressed(input), static_cast<int32_t>(input.size()), &trace), input);
    return trace;
}

TEST(Lh5RoundTrip, EveryLengthAndKindThroughTheComponent) {
    // Around the slides (first after 7,936 positions, then every 8,192) and
    // the engine's 8 KB blocks.
    const size_t sizes[] = {0,    1,    2,    59,   60,   61,    4095,  4096,  7935,  7936, 7937,
                            8191, 8192, 8193, 16127, 16128, 16129, 16384, 24320, 24321, 100000};
    TVornCodec codec;
    for (DataKind kind : kKinds) {
        for (size_t size : sizes) {
            const Bytes input = MakeData(kind, size, static_cast<uint32_t>(size));
            const Bytes stream = CompressBytes(codec, input, kMethodLh5);
            ASSERT_EQ(ExpandBytes(codec, stream), input) << KindName(kind) << " " << size;
            ASSERT_EQ(CompressBytes(codec, input, kMethodLh5), stream) << KindName(kind) << " " << size;
        }
    }
}

TEST(Lh5RoundTrip, SeveralMebibytes) {
    TVornCodec codec;
    for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Runs}) {
        const Bytes input = MakeData(kind, 5u << 20, 9);
        const Bytes stream = CompressBytes(codec, input, kMethodLh5);
        EXPECT_EQ(stream[5], 'L') << KindName(kind);
        EXPECT_EQ(ExpandBytes(codec, stream), input) << KindName(kind);
    }
}

TEST(Lh5RoundTrip, FastExpanderMatchesTheReference) {
    for (DataKind kind : kKinds) {
        const Bytes input = MakeData(kind, 150000, 4);
        const Bytes codecData = Compressed(input);
        TVornCodec codec;
        const int32_t size = static_cast<int32_t>(input.size());
        EXPECT_EQ(RunCodecBytes(codec, codecData, kMethodLh5, true, size), input) << KindName(kind);
        EXPECT_EQ(ReferenceExpand(codecData, size), input) << KindName(kind);
    }
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Lh5Compressor, MatchChoices) {
    // A run of one byte: a literal, then matches at distance one of up to 256.
    const TReferenceTrace run = Trace(Bytes(1000, 'a'));
    ASSERT_EQ(run.Symbols.front().Distance, -1);
    int covered = 0;
    for (size_t i = 1; i < run.Symbols.size(); ++i) {
        EXPECT_EQ(run.Symbols[i].Distance, 0);
        covered += run.Symbols[i].Symbol - 253;
    }
    EXPECT_EQ(covered, 999);
    EXPECT_EQ(run.Symbols[1].Symbol - 253, 256);

    // "abc" matches at the 'a', but "bcdefgh" one later is longer: the 'a'
    // goes out as a literal and the longer match follows.
    const TReferenceTrace lazy = Trace(Text("abcZYbcdefghXabcdefghW"));
    const auto& s = lazy.Symbols;
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[s.size() - 3].Symbol, 'a');
    EXPECT_EQ(s[s.size() - 2].Symbol, 7 + 253);
    EXPECT_EQ(s[s.size() - 1].Symbol, 'W');

    // One or two bytes are literals only; so is "abab" (a 2-byte match is
    // never taken).
    for (const char* text : {"a", "ab", "abab"})
        for (const auto& symbol : Trace(Text(text)).Symbols) EXPECT_LT(symbol.Symbol, 256) << text;
}

// Two copies of 64 random bytes `gap` positions apart, random bytes between.
Bytes Repeat64(size_t gap) {
    Bytes data = MakeData(DataKind::Random, gap + 64, 21);
    std::copy_n(data.begin(), 64, data.begin() + static_cast<std::ptrdiff_t>(gap));
    return data;
}

int LongestMatchAt(const TReferenceTrace& trace, int distance) {
    int longest = 0;
    for (const auto& symbol : trace.Symbols)
        if (symbol.Distance == distance) longest = std::max(longest, symbol.Symbol - 253);
    return longest;
}

TEST(Lh5Compressor, TheWindowReaches8191BytesBack) {
    EXPECT_EQ(LongestMatchAt(Trace(Repeat64(8191)), 8190), 64);
    // The position 8,192 back leaves the trie just before the current one
    // goes in.
    for (const auto& symbol : Trace(Repeat64(8192)).Symbols) EXPECT_LE(symbol.Distance, 8190);
}

// Runs symbols straight through the block coder, as the compressor hands
// them over.
Bytes CodeSymbols(const std::vector<TSymbolTrace>& symbols) {
    TCodecState s;
    TMemoryStream dest;
    s.OutBuffer = std::make_unique<uint8_t[]>(kEngineBlockSize);
    s.OutPos = s.OutBuffer.get();
    s.OutEnd = s.OutPos + kEngineBlockSize;
    s.DestStream = &dest;
    s.OutputBudget = INT32_MAX;
    {
        TLh5Arrays arrays(s, true);
        Lh5ResetBlock(s);
        for (const auto& symbol : symbols)
            Lh5Output(s, static_cast<uint32_t>(symbol.Symbol), static_cast<uint32_t>(std::max(symbol.Distance, 0)));
        Lh5SendBlock(s);
        Lh5PutBits(s, 7, 0);
    }
    dest.Write(s.OutBuffer.get(), static_cast<size_t>(s.OutPos - s.OutBuffer.get()));
    return dest.Bytes();
}

TReferenceTrace TraceSymbols(const std::vector<TSymbolTrace>& symbols) {
    int32_t size = 0;
    for (const auto& symbol : symbols) size += symbol.Symbol < 256 ? 1 : symbol.Symbol - 253;
    TReferenceTrace trace;
    ReferenceExpand(CodeSymbols(symbols), size, &trace);
    EXPECT_EQ(trace.Symbols.size(), symbols.size());
    for (size_t i = 0; i < std::min(symbols.size(), trace.Symbols.size()); ++i) {
        EXPECT_EQ(trace.Symbols[i].Symbol, symbols[i].Symbol) << i;
        EXPECT_EQ(trace.Symbols[i].Distance, symbols[i].Distance) << i;
    }
    return trace;
}

TEST(Lh5BlockCoder, BlocksEndOnlyBetweenGroupsOfEight) {
    // Literals take 9 bytes per group: the block goes out when group 1,819
    // begins with 16,362 bytes in use, after 14,544 symbols.
    std::vector<TSymbolTrace> literals;
    for (int i = 0; i < 30000; ++i) literals.push_back({i * 7 % 256, -1});
    const TReferenceTrace a = TraceSymbols(literals);
    ASSERT_EQ(a.Blocks.size(), 3u);
    EXPECT_EQ(a.Blocks[0].Count, 14544u);
    EXPECT_EQ(a.Blocks[1].Count, 14544u);
    EXPECT_EQ(a.Blocks[2].Count, 30000u - 2 * 14544);
    // A distance table of one class 0, as for every block without matches.
    EXPECT_EQ(a.Blocks[0].DistLengths, std::vector<int>(14, 0));

    // Matches take 25 bytes per group: 655 groups, 5,240 symbols.
    std::vector<TSymbolTrace> matches;
    for (int i = 0; i < 6000; ++i) matches.push_back({256 + i % 254, i % 8192});
    const TReferenceTrace b = TraceSymbols(matches);
    ASSERT_EQ(b.Blocks.size(), 2u);
    EXPECT_EQ(b.Blocks[0].Count, 5240u);
}

TEST(Lh5BlockCoder, CodeLengthsAreLimitedTo16Bits) {
    // Fibonacci frequencies make a tree 18 levels deep.
    std::vector<TSymbolTrace> symbols;
    int a = 1, b = 1;
    for (int symbol = 0; symbol < 19; ++symbol) {
        for (int k = 0; k < a; ++k) symbols.push_back({symbol, -1});
        std::tie(a, b) = std::make_pair(b, a + b);
    }
    const TReferenceTrace trace = TraceSymbols(symbols);
    ASSERT_EQ(trace.Blocks.size(), 1u);
    const auto& lengths = trace.Blocks[0].CharLengths;
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 16);
}

TEST(Lh5BlockCoder, ZeroRunsOfTheCharacterTable) {
    // Literals 'A' and 'A' + 1 + run, with exactly `run` unused symbols
    // between them (and a long run before 'A' and after the last).
    const struct {
        int run;
        std::vector<int> items;  // code-length symbols sent for the gap
    } cases[] = {
        {1, {0}}, {2, {0, 0}}, {3, {1}}, {18, {1}}, {19, {0, 1}}, {20, {2}},
    };
    for (const auto& c : cases) {
        const int second = 'A' + 1 + c.run;
        std::vector<TSymbolTrace> symbols;
        for (int i = 0; i < 10; ++i) symbols.push_back({i % 3 ? 'A' : second, -1});
        symbols.push_back({300, 5});  // a match, so the table reaches past the literals
        const TReferenceTrace trace = TraceSymbols(symbols);
        const auto& items = trace.Blocks[0].LenItems;
        // Items: the run before 'A', 'A', the gap, the second literal, ...
        ASSERT_GE(items.size(), 3 + c.items.size()) << c.run;
        const std::vector<int> gap(items.begin() + 2, items.begin() + 2 + static_cast<std::ptrdiff_t>(c.items.size()));
        EXPECT_EQ(gap, c.items) << "run " << c.run;
    }
}

}  // namespace
}  // namespace vorn::test
