// The LZM expander's decoder, in three layers over the range decoder
// (range_decoder.h), each in a file of its own:
//   lzma_symbols.cpp  the symbols, written into the circular dictionary
//   lzma_chunks.cpp   a lone stream's data, or a chain link's LZMA2 chunks
//   lzma_expand.cpp   the head, the arrays, and the output through the
//                     branch filter and the CRC-32 to the engine
// Included by those files only.
#pragma once

#include <cstdint>

#include "compress/codec_state.h"
#include "compress/lzma/lzma_format.h"
#include "compress/lzma/range_decoder.h"
#include "compress/lzma/x86_filter.h"

namespace vorn::lzma {

// Decoded bytes go to the engine a batch at a time; the branch filter's
// staging buffer holds one batch behind the bytes it keeps back.
inline constexpr uint32_t kBatchBytes = 1u << 16;

// The one way the expander refuses a run: the engine sees damaged data,
// and a build that names faults learns which where the engine's own flags
// (data cut short, damaged) do not tell it.
inline void Refuse(TCodecState& s, LzmaFault fault = LzmaFault::None) {
    s.Damaged = true;
    if (LzmaFaultsNamed()) s.Lzma.Fault = fault;
}

inline uint32_t LiteralProbabilities(const TLzmaHead& head) {
    return uint32_t{kLiteralCoderSize} << (head.Lc + head.Lp);
}

class TDecoder {
public:
    // The dictionary reaches as far as the data reach, or for a chain's
    // link as far as the head says, whatever the link's size.
    TDecoder(TCodecState& s, const TLzmaHead& head, uint32_t size, uint32_t reach);

    // The arrays of the run: all of them, or for a link that goes on in a
    // chain only its own (the filter's and the CRC's).
    void Obtain(bool models);
    // A seeded stream's seed from its installer, after Obtain and before
    // Run; false when the installer does not hold it.
    bool Seed(TStream& installer);

    // A lone stream is one stretch of LZMA data up to the size. A link of
    // a chain (whose arrays the run has borrowed) goes on where the last
    // link stopped, with chunks up to its size and nothing after them, and
    // leaves the chain intact only when it comes out whole.
    void Run(TChainState* chain);

private:
    // Out of the hot loop's way.
    [[gnu::cold, gnu::noinline]] void Refuse(LzmaFault fault = LzmaFault::None) { lzma::Refuse(s_, fault); }
    bool Stopped() const { return rc_.Overran || ended_ || s_.Damaged; }

    // lzma_symbols.cpp
    void ResetProbabilities();
    void DecodeBatch(uint32_t room);
    template <class TCoder>
    TOctet* Decode(TOctet* out, TOctet* limit);
    uint32_t Reach(const TOctet* out) const;
    TOctet ByteAt(const TOctet* out, uint32_t distance) const;
    VORN_LZMA_HOT TOctet* Copy(TOctet* out, TOctet* limit, uint32_t distance, uint32_t length);
    void ReadEndMarker();

    // lzma_chunks.cpp
    bool NextChunk(uint32_t& end, uint32_t& reset, uint32_t& packed);
    bool Take(uint8_t* to, uint32_t n);
    uint32_t Untaken() const;
    void Finish();

    // lzma_expand.cpp
    void Advance(TOctet* start, uint32_t n);
    void Emit(uint8_t* bytes, uint32_t n);
    void Hand(const uint8_t* bytes, uint32_t n);

    TCodecState& s_;
    TLzmaState& st_;
    const TLzmaHead head_;
    const uint32_t size_;
    TRangeDecoder rc_;
    TLzmaRegisters regs_;
    uint32_t lc_ = 0, lpMask_ = 0, pbMask_ = 0;
    uint32_t pending_ = 0;  // bytes of the last match still to copy
    uint32_t reach_ = 0;    // the dictionary: distances less one stay below it
    uint32_t cycle_ = 0;    // where the dictionary's writing wraps round
    bool ended_ = false;    // an end marker came
    TChainState* chain_ = nullptr;  // a link's chain
    uint32_t linkDone_ = 0;         // a link's bytes so far
    TX86Decoder filter_;
    uint32_t kept_ = 0;  // bytes at the front of the staging buffer the filter holds back
    uint32_t crc_ = 0;
    bool carryless_ = false;  // the CRC may use carry-less multiplication
};

}  // namespace vorn::lzma
