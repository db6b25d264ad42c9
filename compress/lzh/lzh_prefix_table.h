// The expander's shortcut through the top of the code tree: for every value
// of the next lzh::kPrefixBits bits, the slots a walk from the root passes on
// those bits, up to a leaf or to that depth. The tree changes after every
// symbol, so the table follows it: each slot above that depth on some walk
// carries its place (prefix and depth), and when an exchange moves an
// internal node into or out of such a slot, only the entries below that
// place are walked again. A rebuild of the tree rebuilds the whole table.
//
// Only internal slots above the table's depth decide a walk; a slot where a
// walk ends is read afresh by the caller, so its node may change freely.
// Seven bits: an eighth level saves little walking and costs many more
// walks again, most exchanges of internal nodes being that deep.
#pragma once

#include <cstdint>

#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_state.h"

namespace vorn {

namespace lzh {
inline constexpr int kPrefixBits = 7;
}  // namespace lzh

struct TLzhPrefixEntry {
    int16_t Path[lzh::kPrefixBits + 1];  // slots from the root, Path[Used] the last
    uint8_t Used;                     // bits the walk takes, 0 to lzh::kPrefixBits
};

class TLzhPrefixTable {
public:
    // Walks the whole top of the tree.
    void Build(const TLzhState& z);

    // After the nodes in slots a and b changed places. Only internal nodes
    // direct a walk: two leaves that change places leave every walk as it
    // was, and so does an exchange below the table's depth.
    void Exchanged(const TLzhState& z, int a, int b) {
        if (z.HuffChild[a] >= lzh::kLeafBase && z.HuffChild[b] >= lzh::kLeafBase) return;
        if (places_[a].Depth >= 0 || places_[b].Depth >= 0) Rewalk(z, a, b);
    }

    const TLzhPrefixEntry& Lookup(int nextBits) const { return entries_[nextBits]; }

private:
    struct Place {
        int16_t Prefix;
        int8_t Depth;  // -1: the slot is on no walk above the table's depth
    };
    static constexpr int kEntries = 1 << lzh::kPrefixBits;

    void Rewalk(const TLzhState& z, int a, int b);
    void Forget(int slot);
    void Walk(const TLzhState& z, int slot);

    TLzhPrefixEntry entries_[kEntries];
    Place places_[lzh::kNodes];
};

}  // namespace vorn
