// The LH5 method (index 4): LZ77 over an 8 KB window, coded with static
// Huffman codes sent at the head of each block.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"
#include "compress/direction.h"

namespace vorn {

// Obtains the arrays one direction needs and resets the bit state; the
// arrays' contents are not cleared.
void Lh5AllocState(TCodecState& s, Direction direction);
// Frees whatever arrays are present; safe after a partial allocation.
void Lh5FreeState(TCodecState& s);

// Expands codec data until uncompressedSize bytes are written (the last
// match may carry a few bytes past it). Missing source reads as 0 bits, but
// once the decoder has taken one it stops soon after, with ReadPastEnd set.
void Lh5Expand(TCodecState& s, int32_t uncompressedSize);
// Compresses the whole source.
void Lh5Compress(TCodecState& s);

// Holds the arrays of one run and frees them on every way out of it.
class TLh5Arrays {
public:
    TLh5Arrays(TCodecState& s, Direction direction) : s_(s) { Lh5AllocState(s, direction); }
    ~TLh5Arrays() { Lh5FreeState(s_); }
    TLh5Arrays(const TLh5Arrays&) = delete;
    TLh5Arrays& operator=(const TLh5Arrays&) = delete;

private:
    TCodecState& s_;
};

}  // namespace vorn
