#include "compress/lzh/lzh_prefix_table.h"

namespace vorn {

using namespace lzh;

void TLzhPrefixTable::Build(const TLzhState& z) {
    for (Place& place : places_) place = {0, -1};
    for (TLzhPrefixEntry& entry : entries_) entry.Path[0] = kRoot;
    places_[kRoot] = {0, 0};
    Walk(z, kRoot);
}

void TLzhPrefixTable::Rewalk(const TLzhState& z, int a, int b) {
    // Both places are cleared before either is walked again: the node that
    // arrives in one slot brings along slots still marked with the other's
    // place.
    const Place placeA = places_[a];
    const Place placeB = places_[b];
    if (placeA.Depth >= 0) Forget(a);
    if (placeB.Depth >= 0) Forget(b);
    if (placeA.Depth >= 0) {
        places_[a] = placeA;
        Walk(z, a);
    }
    if (placeB.Depth >= 0) {
        places_[b] = placeB;
        Walk(z, b);
    }
}

// Unmarks every slot the entries below slot's place pass at or under it.
void TLzhPrefixTable::Forget(int slot) {
    const Place place = places_[slot];
    const int first = place.Prefix << (kPrefixBits - place.Depth);
    const int last = first + (1 << (kPrefixBits - place.Depth));
    for (int e = first; e < last; ++e) {
        const TLzhPrefixEntry& entry = entries_[e];
        for (int d = place.Depth; d <= entry.Used && d < kPrefixBits; ++d) places_[entry.Path[d]] = {0, -1};
    }
}

// Walks again every entry below slot, which keeps its place.
void TLzhPrefixTable::Walk(const TLzhState& z, int slot) {
    const int16_t* child = z.HuffChild.get();
    const Place place = places_[slot];
    const int first = place.Prefix << (kPrefixBits - place.Depth);
    const int last = first + (1 << (kPrefixBits - place.Depth));
    for (int e = first; e < last; ++e) {
        TLzhPrefixEntry& entry = entries_[e];
        int at = slot;
        int depth = place.Depth;
        while (depth < kPrefixBits) {
            places_[at] = {static_cast<int16_t>(e >> (kPrefixBits - depth)), static_cast<int8_t>(depth)};
            if (child[at] >= kLeafBase) break;
            at = child[at] + ((e >> (kPrefixBits - 1 - depth)) & 1);
            entry.Path[++depth] = static_cast<int16_t>(at);
        }
        entry.Used = static_cast<uint8_t>(depth);
    }
}

}  // namespace vorn
