// The LZM data around the symbols: a lone stream's one stretch of LZMA
// data, or a chain link's LZMA2 chunks, each with its own range coder.
#include <algorithm>

#include "compress/lzma/lzma_decoder.h"

namespace vorn::lzma {

namespace {

// A chain's LZMA2 chunks. The control byte: 0x00 ends the whole stream,
// which a link never does (its size is its header's); 0x01 and 0x02 open a
// chunk stored as it is, with and without a dictionary reset, followed by
// its size less one (16 bits); from 0x80 an LZMA chunk, bits 5 and 6 saying
// what it resets, bits 0 to 4 the top of its unpacked size less one (21
// bits), followed by the rest of that, its packed size less one (16 bits,
// all big-endian) and, when it sets them, the properties byte.
constexpr uint32_t kStoredWithReset = 0x01;
constexpr uint32_t kStored = 0x02;
constexpr uint32_t kLzmaChunk = 0x80;
constexpr int kResetShift = 5;
constexpr uint32_t kUnpackedTopMask = 0x1F;
enum ChunkReset : uint32_t { kResetNothing, kResetState, kResetProperties, kResetDictionary };
static_assert(kBatchBytes >= 0x10000, "a stored chunk is emitted in one batch at most");

}  // namespace

void TDecoder::Run(TChainState* chain) {
    chain_ = chain;
    if (chain) regs_ = chain->Registers;
    rc_.Attach();  // a chain's chunk headers and stored chunks come through it too
    // A lone stream's range coder starts even for no bytes at all.
    for (bool lone = !chain; (lone || linkDone_ < size_) && !Stopped(); lone = false) {
        uint32_t end = size_, reset = kResetState, packed = 0;
        if (chain && !NextChunk(end, reset, packed)) continue;
        if (reset >= kResetState) {
            ResetProbabilities();
            regs_.State = regs_.Rep0 = regs_.Rep1 = regs_.Rep2 = regs_.Rep3 = 0;
        }
        // Each chunk's range coder starts afresh, takes exactly its packed
        // size and ends on a symbol, with no end marker.
        const uint32_t before = Untaken();
        if (!rc_.Start()) {
            Refuse();
            break;
        }
        while (linkDone_ < end && !Stopped())
            DecodeBatch(std::min({cycle_ - regs_.At, end - linkDone_, kBatchBytes}));
        if (chain && (ended_ || (!Stopped() && (pending_ > 0 || rc_.Code != 0 || before - Untaken() != packed))))
            Refuse();
    }
    if (chain && !Stopped() && Untaken() != 0) Refuse();
    Finish();
    if (chain && !Stopped()) {  // the registers go back to the chain, for its next link
        chain->Registers = regs_;
        chain->Expanded += size_;
        chain->Intact = true;
    }
}

// After the last byte: nothing, or an end marker; then the filter's last
// bytes and the CRC-32.
void TDecoder::Finish() {
    if (!Stopped()) {
        if (pending_ > 0)
            Refuse();  // a match runs past the size
        else if (rc_.Code != 0)
            ReadEndMarker();
    }
    if (rc_.Overran) s_.ReadPastEnd = true;
    rc_.Detach();
    if (st_.Staging) Hand(st_.Staging.get(), kept_);  // the filter leaves the last bytes alone
    if (!Stopped() && linkDone_ == size_ && crc_ != head_.Crc32) Refuse(LzmaFault::CrcDiffers);
}

// n bytes of codec data as they are; false, the link stopped, when they run
// out.
bool TDecoder::Take(uint8_t* to, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) to[i] = static_cast<uint8_t>(rc_.NextByte());
    return !rc_.Overran;
}

// Codec data the range decoder has not taken, modulo 2^32, which keeps
// differences exact.
uint32_t TDecoder::Untaken() const {
    return static_cast<uint32_t>(s_.SourceRemaining) + static_cast<uint32_t>(s_.InEnd - rc_.InPos);
}

// A chunk's header, behind a dictionary reset and inside the link; a stored
// chunk goes on at once. For an LZMA chunk: true, with where its bytes end,
// what it resets and its packed size.
bool TDecoder::NextChunk(uint32_t& end, uint32_t& reset, uint32_t& packed) {
    uint8_t header[6];  // control, sizes less one, properties
    if (!Take(header, 1)) return false;
    const uint32_t control = header[0];
    const bool lzma = control >= kLzmaChunk;
    if (!lzma && control != kStoredWithReset && control != kStored) {
        Refuse();  // the end of the stream, or no chunk at all
        return false;
    }
    reset = lzma ? control >> kResetShift & 3 : control == kStoredWithReset ? kResetDictionary : kResetNothing;
    if (!Take(header + 1, lzma ? 4 + (reset >= kResetProperties) : 2)) return false;
    const uint32_t unpacked = (lzma ? (control & kUnpackedTopMask) << 16 : 0) + (header[1] << 8 | header[2]) + 1;
    TChainState& chain = *chain_;
    if (reset == kResetDictionary) {
        regs_.At = 0;
        regs_.Wrapped = false;
        regs_.Position = 0;
        chain.HasDictionary = true;
        chain.HasProperties = false;
    }
    if (lzma && reset >= kResetProperties) chain.HasProperties = header[5] == head_.Properties();
    if (!chain.HasDictionary || (lzma && !chain.HasProperties) || unpacked > size_ - linkDone_) {
        Refuse();
        return false;
    }
    end = linkDone_ + unpacked;
    packed = (header[3] << 8 | header[4]) + 1;
    if (lzma) return true;
    while (linkDone_ < end) {  // stored chunks are rare: byte by byte
        const uint32_t room = std::min(cycle_ - regs_.At, end - linkDone_);
        TOctet* const start = st_.Dictionary.get() + regs_.At;
        if (!Take(reinterpret_cast<uint8_t*>(start), room)) break;
        Advance(start, room);
    }
    return false;
}

}  // namespace vorn::lzma
