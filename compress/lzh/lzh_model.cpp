#include "compress/lzh/lzh_model.h"

#include <algorithm>

#include "compress/codec_state.h"

namespace vorn {

namespace {

// Weights of a pair of slots; sums stay below 0x10000 because the root's
// weight is capped at LzhMaxFreq.
uint16_t PairWeight(const uint16_t* freq, int first) {
    return static_cast<uint16_t>(freq[first] + freq[first + 1]);
}

// Points every node's parent entry (and every leaf's symbol entry) at the
// slot that names it as a child.
void ReconnectParents(TLzhState& z) {
    const int16_t* child = z.HuffChild.get();
    int16_t* parent = z.HuffParent.get();
    for (int k = 0; k < LzhNodes; ++k) {
        const int c = child[k];
        parent[c] = static_cast<int16_t>(k);
        if (c < LzhLeafBase) parent[c + 1] = static_cast<int16_t>(k);
    }
}

}  // namespace

void LzhAllocateState(TLzhState& z, bool compressing) {
    LzhFreeState(z);
    if (compressing) {
        Obtain(z.MatchRight, LzhMatchRightSize);
        Obtain(z.MatchLeft, LzhMatchLeftSize);
        Obtain(z.MatchParent, LzhMatchParentSize);
        Obtain(z.SharedLen, LzhSharedLenSize);
        Obtain(z.RingBuf, LzhRingBufSize);
    } else {
        Obtain(z.TextBuf, LzhExpandBufSize);
    }
    Obtain(z.HuffChild, LzhHuffChildSize);
    Obtain(z.HuffParent, LzhHuffParentSize);
    Obtain(z.HuffFreq, LzhHuffFreqSize);
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

LzhRunArrays::LzhRunArrays(TLzhState& z, bool compressing) : z_(z) {
    try {
        LzhAllocateState(z, compressing);
    } catch (...) {
        LzhFreeState(z);
        throw;
    }
}

LzhRunArrays::~LzhRunArrays() { LzhFreeState(z_); }

void LzhStartModel(TLzhState& z) {
    uint16_t* freq = z.HuffFreq.get();
    int16_t* parent = z.HuffParent.get();
    int16_t* child = z.HuffChild.get();
    for (int s = 0; s < LzhSymbols; ++s) {
        freq[s] = 1;
        child[s] = static_cast<int16_t>(s + LzhLeafBase);
        parent[s + LzhLeafBase] = static_cast<int16_t>(s);
    }
    for (int j = 0, k = LzhSymbols; k < LzhNodes; ++k, j += 2) {
        freq[k] = PairWeight(freq, j);
        child[k] = static_cast<int16_t>(j);
        parent[j] = parent[j + 1] = static_cast<int16_t>(k);
    }
    freq[LzhNodes] = LzhFreqStop;
    parent[LzhRoot] = 0;
    z.PutBuf = 0;
    z.PutLen = 0;
}

void LzhRebuildModel(TLzhState& z) {
    uint16_t* freq = z.HuffFreq.get();
    int16_t* child = z.HuffChild.get();
    // The leaves move to slots 0..313 in their order, their weights halved.
    int j = 0;
    for (int k = 0; k < LzhNodes; ++k) {
        if (child[k] >= LzhLeafBase) {
            freq[j] = static_cast<uint16_t>((freq[k] + 1) / 2);
            child[j] = child[k];
            ++j;
        }
    }
    // Each new node joins the next pair and goes after every node of equal
    // weight, which keeps the slots ordered.
    for (int i = 0, k = LzhSymbols; k < LzhNodes; ++k, i += 2) {
        const uint16_t f = PairWeight(freq, i);
        int l = k - 1;
        while (freq[l] > f) --l;
        ++l;
        std::copy_backward(freq + l, freq + k, freq + k + 1);
        std::copy_backward(child + l, child + k, child + k + 1);
        freq[l] = f;
        child[l] = static_cast<int16_t>(i);
    }
    ReconnectParents(z);
}

}  // namespace vorn
