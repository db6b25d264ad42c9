// The part of the LZH codec both directions share: the working arrays of a
// run and the adaptive code tree over the 314 symbols.
//
// The tree's nodes stand in slots 0..626 ordered by weight (HuffFreq never
// decreases from slot to slot); the two children of an internal node stand
// in neighbouring slots 2m and 2m + 1, bit 0 leading to the even one; the
// root stays in slot 626. Encoder and decoder make the same update after
// every symbol, so the code is never sent.
#pragma once

#include <cstdint>

#include "compress/direction.h"
#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_state.h"

namespace vorn {

// Obtains the arrays of one run: the text and the code tree when expanding,
// the ring, the match trees and the code tree when compressing. Contents
// are left as they come.
void LzhAllocState(TLzhState& z, Direction direction);
// Frees every array present and empties its reference.
void LzhFreeState(TLzhState& z);

// Holds a run's arrays from construction to destruction, so that they are
// released on every path out of the run.
class TLzhArrays {
public:
    TLzhArrays(TLzhState& z, Direction direction);
    ~TLzhArrays();
    TLzhArrays(const TLzhArrays&) = delete;
    TLzhArrays& operator=(const TLzhArrays&) = delete;

private:
    TLzhState& z_;
};

// The initial tree (9-bit codes for symbols 0..115, 8-bit for the rest);
// also clears the compressor's bit buffer.
void LzhStartModel(TLzhState& z);
// Halves every leaf weight (rounding up) and builds the internal nodes anew.
void LzhRebuildModel(TLzhState& z);

// Exchanges the node in slot c, whose weight has just grown to k and passed
// its right neighbour's, with the last node lighter than k; returns that
// node's slot, where the grown node now stands.
inline int LzhExchangeNodes(TLzhState& z, int c, uint16_t k) {
    uint16_t* const freq = z.HuffFreq.get();
    int16_t* const parent = z.HuffParent.get();
    int16_t* const child = z.HuffChild.get();
    // The stop weight in slot 627 ends the scan.
    int l = c + 2;
    while (k > freq[l]) ++l;
    --l;
    freq[c] = freq[l];
    freq[l] = k;
    const int i = child[c];
    parent[i] = static_cast<int16_t>(l);
    if (i < lzh::kLeafBase) parent[i + 1] = static_cast<int16_t>(l);
    const int j = child[l];
    child[l] = static_cast<int16_t>(i);
    parent[j] = static_cast<int16_t>(c);
    if (j < lzh::kLeafBase) parent[j + 1] = static_cast<int16_t>(c);
    child[c] = static_cast<int16_t>(j);
    return l;
}

// Told after every exchange which two slots changed their nodes; a coder
// that caches part of the tree listens, the others pass this.
struct TLzhIgnoreExchanges {
    void operator()(int, int) const {}
};

// Counts one occurrence in slot c and every slot above it, up to the root.
template <typename OnExchange = TLzhIgnoreExchanges>
inline void LzhCountUpFrom(TLzhState& z, int c, OnExchange&& onExchange = {}) {
    uint16_t* const freq = z.HuffFreq.get();
    const int16_t* const parent = z.HuffParent.get();
    do {
        const uint16_t k = ++freq[c];
        if (k > freq[c + 1]) {
            const int l = LzhExchangeNodes(z, c, k);
            onExchange(c, l);
            c = l;
        }
        c = parent[c];
    } while (c != 0);
}

// Counts one occurrence of symbol and restores the slot order, exchanging
// a node that outgrew its right neighbour with the last node lighter than
// it. Rebuilds first once the root weight has reached lzh::kMaxFreq.
inline void LzhUpdateModel(TLzhState& z, uint16_t symbol) {
    if (z.HuffFreq[lzh::kRoot] == lzh::kMaxFreq) [[unlikely]]
        LzhRebuildModel(z);
    LzhCountUpFrom(z, z.HuffParent[lzh::kLeafBase + symbol]);
}

// A path from the root to a leaf holds at most every internal node and the leaf.
namespace lzh {
inline constexpr int kMaxPath = kSymbols;
}  // namespace lzh

// The same update for a coder that has just been along the symbol's path:
// path[0] is the root's slot, path[depth - 1] the leaf's. Until the first
// exchange the parents are known from the path, so the climb need not wait
// for each parent to load; after it the climb leaves the path. Returns true
// when the tree was rebuilt first, which onExchange is not told about.
template <typename OnExchange = TLzhIgnoreExchanges>
inline bool LzhUpdateModelAlong(TLzhState& z, uint16_t symbol, const int16_t* path, int depth,
                                OnExchange&& onExchange = {}) {
    uint16_t* const freq = z.HuffFreq.get();
    if (freq[lzh::kRoot] == lzh::kMaxFreq) [[unlikely]] {
        LzhUpdateModel(z, symbol);
        return true;
    }
    for (int j = depth - 1; j >= 0; --j) {
        const int c = path[j];
        const uint16_t k = ++freq[c];
        if (k > freq[c + 1]) [[unlikely]] {
            // Never the root, whose weight is still at least k.
            const int l = LzhExchangeNodes(z, c, k);
            onExchange(c, l);
            LzhCountUpFrom(z, z.HuffParent[l], onExchange);
            return false;
        }
    }
    return false;
}

}  // namespace vorn
