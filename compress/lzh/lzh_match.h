// The compressor's match finder: binary search trees over the 60-byte
// strings that start at the ring positions, spread over 4,096 trees by the
// first byte and a 4-bit hash of the next two. Each node records how many
// leading bytes it shares with its parent (SharedLen), so a descent never
// compares again bytes the path already proves equal.
//
// The ring must hold at 4,096..4,154 a copy of positions 0..58: a string is
// read as RingBuf[p] to RingBuf[p + 59] without wrapping.
#pragma once

#include <cstdint>

#include "compress/lzh/lzh_state.h"

namespace vorn {

// Empties every tree.
void LzhInitTree(TLzhState& z);
// Inserts position r and leaves its longest match among the positions in
// the trees in LzhMatchLen (0 below 3 bytes) and LzhMatchPos (a distance,
// the nearer one at equal length on the search path). An equal 60-byte
// string takes the place of the older one, which leaves the tree.
void LzhInsertNode(TLzhState& z, int r);
// Removes position p from its tree; nothing when it is in none.
void LzhDeleteNode(TLzhState& z, int p);
// SharedLen[node] against parent, comparing from index start on; the caller
// knows the bytes before start are equal.
void LzhMeasureShared(TLzhState& z, int start, int parent, int node);
// SharedLen[node] when node moves up from oldParent to oldParent's parent.
void LzhReparentShared(TLzhState& z, int newParent, int oldParent, int node);

}  // namespace vorn
