// The expander's shortcut through the top of the code tree: for every value
// of the next 8 bits, the slots a walk from the root passes on those bits,
// up to a leaf or to depth 8. The tree changes after every symbol, so the
// table follows it: each slot above depth 8 on some walk carries its place
// (prefix and depth), and when an exchange moves the node in such a slot,
// only the entries below that place are walked again. A rebuild of the
// tree rebuilds the whole table.
//
// Only internal slots above depth 8 decide a walk; a slot where a walk ends
// is read afresh by the caller, so its node may change without harm.
#pragma once

#include <cstdint>

#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_state.h"

namespace vorn {

inline constexpr int LzhPrefixBits = 8;

struct LzhPrefixEntry {
    int16_t Path[LzhPrefixBits + 1];  // slots from the root, Path[Used] the last
    uint8_t Used;                     // bits the walk takes, 0 to 8
};

class LzhPrefixTable {
public:
    // Walks the whole top of the tree.
    void Build(const TLzhState& z);

    // After the nodes in slots a and b changed places.
    void Exchanged(const TLzhState& z, int a, int b);

    const LzhPrefixEntry& Lookup(int nextBits) const { return entries_[nextBits]; }

private:
    struct Place {
        int16_t Prefix;
        int8_t Depth;  // -1: the slot is on no walk above depth 8
    };
    static constexpr int kEntries = 1 << LzhPrefixBits;

    void Forget(int slot);
    void Walk(const TLzhState& z, int slot);

    LzhPrefixEntry entries_[kEntries];
    Place places_[LzhNodes];
};

}  // namespace vorn
