#include "compress/lzh/lzh_model.h"

#include "compress/codec_state.h"

namespace vorn {

using namespace lzh;

namespace {

// Weights of a pair of slots; sums stay below 0x10000 because the root's
// weight is capped at kMaxFreq.
uint16_t PairWeight(const uint16_t* freq, int first) {
    return static_cast<uint16_t>(freq[first] + freq[first + 1]);
}

// Points every node's parent entry (and every leaf's symbol entry) at the
// slot that names it as a child.
void ReconnectParents(TLzhState& z) {
    const int16_t* child = z.HuffChild.get();
    int16_t* parent = z.HuffParent.get();
    for (int k = 0; k < kNodes; ++k) {
        const int c = child[k];
        parent[c] = static_cast<int16_t>(k);
        if (c < kLeafBase) parent[c + 1] = static_cast<int16_t>(k);
    }
}

}  // namespace

void LzhAllocState(TLzhState& z, Direction direction) {
    const bool compressing = direction == Direction::Compress;
    LzhFreeState(z);
    if (compressing) {
        Obtain(z.MatchRight, kMatchRightSize);
        Obtain(z.MatchLeft, kMatchLeftSize);
        Obtain(z.MatchParent, kMatchParentSize);
        Obtain(z.SharedLen, kSharedLenSize);
        Obtain(z.RingBuf, kRingBufSize);
    } else {
        Obtain(z.TextBuf, kExpandBufSize);
    }
    Obtain(z.HuffChild, kHuffChildSize);
    Obtain(z.HuffParent, kHuffParentSize);
    Obtain(z.HuffFreq, kHuffFreqSize);
}

void LzhFreeState(TLzhState& z) {
    z.MatchRight.reset();
    z.MatchLeft.reset();
    z.MatchParent.reset();
    z.SharedLen.reset();
    z.RingBuf.reset();
    z.TextBuf.reset();
    z.HuffChild.reset();
    z.HuffParent.reset();
    z.HuffFreq.reset();
}

TLzhArrays::TLzhArrays(TLzhState& z, Direction direction) : z_(z) {
    try {
        LzhAllocState(z, direction);
    } catch (...) {
        LzhFreeState(z);
        throw;
    }
}

TLzhArrays::~TLzhArrays() { LzhFreeState(z_); }

void LzhStartModel(TLzhState& z) {
    uint16_t* freq = z.HuffFreq.get();
    int16_t* parent = z.HuffParent.get();
    int16_t* child = z.HuffChild.get();
    for (int s = 0; s < kSymbols; ++s) {
        freq[s] = 1;
        child[s] = static_cast<int16_t>(s + kLeafBase);
        parent[s + kLeafBase] = static_cast<int16_t>(s);
    }
    for (int j = 0, k = kSymbols; k < kNodes; ++k, j += 2) {
        freq[k] = PairWeight(freq, j);
        child[k] = static_cast<int16_t>(j);
        parent[j] = parent[j + 1] = static_cast<int16_t>(k);
    }
    freq[kNodes] = kFreqStop;
    parent[kRoot] = 0;
    z.PutBuf = 0;
    z.PutLen = 0;
}

void LzhRebuildModel(TLzhState& z) {
    uint16_t* freq = z.HuffFreq.get();
    int16_t* child = z.HuffChild.get();
    // The leaves in their order, their weights halved: still ordered.
    uint16_t leafFreq[kSymbols];
    int16_t leafChild[kSymbols];
    int n = 0;
    for (int k = 0; k < kNodes; ++k) {
        if (child[k] >= kLeafBase) {
            leafFreq[n] = static_cast<uint16_t>((freq[k] + 1) / 2);
            leafChild[n] = child[k];
            ++n;
        }
    }
    // Each new node joins the next pair and goes after every node of equal
    // weight. The new nodes come in order of weight, and a pair lies wholly
    // below any later node, so the slots fill in one pass, merging the
    // leaves with the new nodes, a leaf first on equal weight.
    int leaf = 0, node = 0;  // the next leaf, and the next node, which joins slots 2 * node and 2 * node + 1
    for (int k = 0; k < kNodes; ++k) {
        const bool nodeReady = 2 * node + 1 < k;
        if (leaf < kSymbols && (!nodeReady || leafFreq[leaf] <= PairWeight(freq, 2 * node))) {
            freq[k] = leafFreq[leaf];
            child[k] = leafChild[leaf];
            ++leaf;
        } else {
            freq[k] = PairWeight(freq, 2 * node);
            child[k] = static_cast<int16_t>(2 * node);
            ++node;
        }
    }
    ReconnectParents(z);
}

}  // namespace vorn
