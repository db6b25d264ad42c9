// The adaptive code tree and the position code: initial codes, the order
// invariants under updates, the rebuild and its weights, the coders'
// shortcuts, codes longer than 16 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "compress/lzh/lzh.h"
#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_prefix_table.h"
#include "compress/vorn_header.h"
#include "tests/lzh/lzh_test_support.h"

namespace vorn::test {
namespace {

// Every property the coders rely on: ordered weights ending in the stop
// value, sums, children in pairs, parents that point back, every symbol's
// leaf found through its entry.
void ExpectTreeInvariants(const TLzhState& z) {
    for (int k = 0; k < LzhRoot; ++k) ASSERT_LE(z.HuffFreq[k], z.HuffFreq[k + 1]) << "slot " << k;
    ASSERT_EQ(z.HuffFreq[LzhNodes], 0xFFFF);
    ASSERT_EQ(z.HuffParent[LzhRoot], 0);
    int leaves = 0;
    for (int k = 0; k < LzhNodes; ++k) {
        const int c = z.HuffChild[k];
        if (c >= LzhLeafBase) {
            ASSERT_LT(c - LzhLeafBase, LzhSymbols);
            ASSERT_EQ(z.HuffParent[c], k);
            ++leaves;
            continue;
        }
        ASSERT_EQ(c % 2, 0) << "slot " << k;
        ASSERT_LT(c + 1, k) << "a child stands below its parent";
        ASSERT_EQ(z.HuffParent[c], k);
        ASSERT_EQ(z.HuffParent[c + 1], k);
        ASSERT_EQ(z.HuffFreq[k], z.HuffFreq[c] + z.HuffFreq[c + 1]) << "slot " << k;
    }
    ASSERT_EQ(leaves, LzhSymbols);
}

std::vector<int> LeafWeights(const TLzhState& z) {
    std::vector<int> weights(LzhSymbols);
    for (int s = 0; s < LzhSymbols; ++s) weights[s] = z.HuffFreq[z.HuffParent[LzhLeafBase + s]];
    return weights;
}

TEST(LzhModel, InitialCodesAreNineBitsUpTo115AndEightAfter) {
    LzhModel m;
    ExpectTreeInvariants(m.z);
    EXPECT_EQ(SymbolCode(m.z, 0), "110001100");
    EXPECT_EQ(SymbolCode(m.z, 255), "10001011");
    EXPECT_EQ(SymbolCode(m.z, 'a'), "111101101");
    for (int s = 0; s < LzhSymbols; ++s)
        EXPECT_EQ(SymbolCode(m.z, s).size(), s < 116 ? 9u : 8u) << "symbol " << s;
}

TEST(LzhModel, FirstRebuildComesAtThe32455thSymbolAndHalvesTheWeights) {
    LzhModel m;
    for (int n = 0; n < 32454; ++n) LzhUpdateModel(m.z, 'e');
    EXPECT_EQ(m.z.HuffFreq[LzhRoot], LzhMaxFreq);
    EXPECT_EQ(LeafWeights(m.z)['e'], 32455);
    EXPECT_EQ(LeafWeights(m.z)['f'], 1);

    LzhUpdateModel(m.z, 'e');
    ExpectTreeInvariants(m.z);
    EXPECT_EQ(LeafWeights(m.z)['e'], 16228 + 1);
    EXPECT_EQ(LeafWeights(m.z)['f'], 1);
    EXPECT_EQ(m.z.HuffFreq[LzhRoot], 313 + 16229);
}

// The slots from the root to symbol's leaf; returns how many.
int PathTo(const TLzhState& z, int symbol, int16_t* path) {
    // The leaf may stand in slot 0; only the root's parent entry is 0.
    const int leaf = z.HuffParent[LzhLeafBase + symbol];
    int depth = 1;
    for (int k = leaf; k != LzhRoot; k = z.HuffParent[k]) ++depth;
    for (int j = depth - 1, k = leaf; j >= 0; --j, k = z.HuffParent[k]) path[j] = static_cast<int16_t>(k);
    return depth;
}

// The plain update keeps the tree in order and halves the weights at each
// rebuild; the coders' shortcuts (the update along the walked path, the
// expander's prefix table told of every exchange) follow it exactly.
TEST(LzhModel, ShortcutsFollowThePlainModelThroughExchangesAndRebuilds) {
    LzhModel plain;
    LzhModel along;
    auto kept = std::make_unique<LzhPrefixTable>();
    auto fresh = std::make_unique<LzhPrefixTable>();
    kept->Build(along.z);
    std::mt19937 rng(5);
    std::geometric_distribution<int> skewed(0.03);
    int16_t path[LzhMaxPath];
    int rebuilds = 0;
    for (int n = 0; n < 120000; ++n) {
        const auto symbol = static_cast<uint16_t>(skewed(rng) % LzhSymbols);
        std::vector<int> halved = LeafWeights(plain.z);
        for (int& w : halved) w = (w + 1) / 2;
        ++halved[symbol];
        const bool rebuilding = plain.z.HuffFreq[LzhRoot] == LzhMaxFreq;
        LzhUpdateModel(plain.z, symbol);
        if (rebuilding) {
            ASSERT_EQ(LeafWeights(plain.z), halved);
            ++rebuilds;
        }
        const int depth = PathTo(along.z, symbol, path);
        if (LzhUpdateModelAlong(along.z, symbol, path, depth, [&](int a, int b) { kept->Exchanged(along.z, a, b); }))
            kept->Build(along.z);
        ASSERT_TRUE(std::equal(plain.z.HuffFreq.get(), plain.z.HuffFreq.get() + LzhHuffFreqSize, along.z.HuffFreq.get()));
        ASSERT_TRUE(std::equal(plain.z.HuffChild.get(), plain.z.HuffChild.get() + LzhNodes, along.z.HuffChild.get()));
        ASSERT_TRUE(std::equal(plain.z.HuffParent.get(), plain.z.HuffParent.get() + LzhNodes + LzhSymbols,
                               along.z.HuffParent.get()));
        if (n % 101 != 0 && !rebuilding) continue;
        ASSERT_NO_FATAL_FAILURE(ExpectTreeInvariants(plain.z)) << "after " << n;
        fresh->Build(along.z);
        for (int e = 0; e < (1 << LzhPrefixBits); ++e) {
            const LzhPrefixEntry& want = fresh->Lookup(e);
            const LzhPrefixEntry& got = kept->Lookup(e);
            ASSERT_EQ(got.Used, want.Used) << "entry " << e << " after " << n;
            ASSERT_TRUE(std::equal(want.Path, want.Path + want.Used + 1, got.Path)) << "entry " << e;
        }
    }
    EXPECT_GE(rebuilds, 5);
}

// Nine heavy symbols whose weights grow like Fibonacci numbers stack the
// 305 symbols of weight 1 nine levels under the root; inside their own
// subtree those sit 9 levels deep, so their codes reach 18 bits.
std::vector<uint16_t> LongCodeSymbols() {
    std::vector<uint16_t> out;
    const int light = LzhSymbols - 9;
    int chain = light;       // weight of the subtree that holds the light ones
    int weight = light + 1;  // the next heavy symbol's, just above the chain's previous step
    for (uint16_t heavy = 'a'; heavy < 'a' + 9; ++heavy) {
        out.insert(out.end(), static_cast<size_t>(weight - 1), heavy);
        std::tie(chain, weight) = std::pair(chain + weight, chain + 1);
    }
    return out;
}

TEST(LzhModel, EncoderWritesLongCodesWholeInTwoPieces) {
    // Light symbols after the heavy ones, at several bit offsets.
    std::vector<uint16_t> symbols = LongCodeSymbols();
    symbols.insert(symbols.end(), {200, 300, 201, 202, 203, 299, 204});
    LzhTokenWriter reference;
    LzhEngine engine;
    LzhAllocateState(engine.s.Lzh, false);
    LzhStartModel(engine.s.Lzh);
    size_t longest = 0;
    for (uint16_t symbol : symbols) {
        longest = std::max(longest, SymbolCode(reference.Model().z, symbol).size());
        reference.PutSymbol(symbol);
        LzhEncodeSymbol(engine.s, symbol);
    }
    LzhFlushBits(engine.s);
    EXPECT_GE(longest, 17u);
    EXPECT_EQ(UnpackBits(engine.Written()), UnpackBits(reference.Data()));
    LzhFreeState(engine.s.Lzh);
}

TEST(LzhPositionCode, TablesFormOneCompletePrefixCode) {
    EXPECT_EQ(PositionCode(0 << 6).substr(0, 3), "000");
    EXPECT_EQ(PositionCode(1 << 6).substr(0, 4), "0010");
    EXPECT_EQ(PositionCode(4 << 6).substr(0, 5), "01010");
    EXPECT_EQ(PositionCode(63 << 6).substr(0, 8), "11111111");
    int space = 0;
    for (int u = 0; u < 64; ++u) space += 1 << (8 - LzhPosLen[u]);
    EXPECT_EQ(space, 256);
    // Each byte value starts with the code of the u it maps to.
    for (int b = 0; b < 256; ++b) {
        const int u = LzhBytePos[b];
        ASSERT_EQ(LzhByteLen[b], LzhPosLen[u]);
        ASSERT_EQ(b >> (8 - LzhPosLen[u]), LzhPosCode[u] >> (8 - LzhPosLen[u])) << "byte " << b;
    }
}

}  // namespace
}  // namespace vorn::test
