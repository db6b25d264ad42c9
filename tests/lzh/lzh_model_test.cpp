// The adaptive code tree: initial codes, the rebuild and its weights, and
// the coders' shortcuts held against the plain model.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_prefix_table.h"
#include "tests/lzh/lzh_test_support.h"

namespace vorn::test {
namespace {

// Every property the coders rely on: ordered weights ending in the stop
// value, sums, children in pairs below their parents that point back,
// every symbol's leaf found through its entry.
void ExpectTreeInvariants(const TLzhState& z) {
    for (int k = 0; k < LzhRoot; ++k) ASSERT_LE(z.HuffFreq[k], z.HuffFreq[k + 1]) << "slot " << k;
    ASSERT_EQ(z.HuffFreq[LzhNodes], 0xFFFF);
    int leaves = 0;
    for (int k = 0; k < LzhNodes; ++k) {
        const int c = z.HuffChild[k];
        if (c >= LzhLeafBase) {
            ASSERT_TRUE(c - LzhLeafBase < LzhSymbols && z.HuffParent[c] == k) << "slot " << k;
            ++leaves;
            continue;
        }
        ASSERT_TRUE(c % 2 == 0 && c + 1 < k) << "slot " << k;
        ASSERT_TRUE(z.HuffParent[c] == k && z.HuffParent[c + 1] == k) << "slot " << k;
        ASSERT_EQ(z.HuffFreq[k], z.HuffFreq[c] + z.HuffFreq[c + 1]) << "slot " << k;
    }
    ASSERT_EQ(leaves, LzhSymbols);
}

std::vector<int> LeafWeights(const TLzhState& z) {
    std::vector<int> weights(LzhSymbols);
    for (int s = 0; s < LzhSymbols; ++s) weights[s] = z.HuffFreq[z.HuffParent[LzhLeafBase + s]];
    return weights;
}

TEST(LzhModel, InitialCodesAndTheFirstRebuild) {
    LzhModel m;
    ExpectTreeInvariants(m.z);
    EXPECT_EQ(SymbolCode(m.z, 0), "110001100");
    EXPECT_EQ(SymbolCode(m.z, 'a'), "111101101");
    EXPECT_EQ(SymbolCode(m.z, 255), "10001011");
    for (int s = 0; s < LzhSymbols; ++s) EXPECT_EQ(SymbolCode(m.z, s).size(), s < 116 ? 9u : 8u) << s;

    // The root reaches 0x8000 after 32,454 updates; the next one halves
    // every weight, rounding up, before it counts.
    for (int n = 0; n < 32454; ++n) LzhUpdateModel(m.z, 'e');
    EXPECT_EQ(m.z.HuffFreq[LzhRoot], LzhMaxFreq);
    LzhUpdateModel(m.z, 'e');
    ExpectTreeInvariants(m.z);
    EXPECT_EQ(LeafWeights(m.z)['e'], 16228 + 1);
    EXPECT_EQ(LeafWeights(m.z)['f'], 1);
    EXPECT_EQ(m.z.HuffFreq[LzhRoot], 313 + 16229);
}

// The slots from the root to symbol's leaf; returns how many.
int PathTo(const TLzhState& z, int symbol, int16_t* path) {
    const int leaf = z.HuffParent[LzhLeafBase + symbol];
    int depth = 1;
    for (int k = leaf; k != LzhRoot; k = z.HuffParent[k]) ++depth;
    for (int j = depth - 1, k = leaf; j >= 0; --j, k = z.HuffParent[k]) path[j] = static_cast<int16_t>(k);
    return depth;
}

template <typename T>
bool SameArray(const std::unique_ptr<T[]>& a, const std::unique_ptr<T[]>& b, int n) {
    return std::equal(a.get(), a.get() + n, b.get());
}

// The plain update keeps the tree in order and halves the weights at each
// rebuild; the coders' shortcuts (the update along the walked path, the
// expander's prefix table told of every exchange) follow it exactly.
TEST(LzhModel, ShortcutsFollowThePlainModelThroughExchangesAndRebuilds) {
    LzhModel plain, along;
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
        ASSERT_TRUE(SameArray(plain.z.HuffFreq, along.z.HuffFreq, LzhHuffFreqSize));
        ASSERT_TRUE(SameArray(plain.z.HuffChild, along.z.HuffChild, LzhNodes));
        ASSERT_TRUE(SameArray(plain.z.HuffParent, along.z.HuffParent, LzhNodes + LzhSymbols));
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

}  // namespace
}  // namespace vorn::test
