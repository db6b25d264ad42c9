// The working state of one codec run and the engine's byte operations.
// Codecs touch their source and destination only through ReadSourceByte and
// WriteDestByte. Both are inline and cost a compare, a load or store and an
// increment on the common path: the byte sums, the output count and the
// output budget are settled a stretch at a time (at each refill, full
// buffer, budget limit and at the end of the run) rather than per byte, and
// a run with a key sends every byte down the slow path, which applies it.
// The slow paths live out of line in engine.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "compress/events.h"
#include "compress/lh5/lh5_state.h"
#include "compress/lzma/lzma_state.h"
#include "compress/octet.h"
#include "compress/lzh/lzh_state.h"
#include "compress/stream.h"

namespace vorn {

inline constexpr int32_t kEngineBlockSize = 8192;

struct TCodecState {
    // Run-length codec state, set up by every run.
    bool FirstByte = false;
    bool SourceExhausted = false;
    bool InRun = false;

    std::unique_ptr<TOctet[]> InBuffer;   // allocated per run
    std::unique_ptr<TOctet[]> OutBuffer;  // allocated per run
    const TOctet* InEnd = nullptr;
    const TOctet* InPos = nullptr;
    const TOctet* InLimit = nullptr;    // InEnd; InPos when each byte needs the key
    TOctet* OutEnd = nullptr;
    TOctet* OutPos = nullptr;
    // Where the next stretch of work for the slow paths begins and ends.
    const TOctet* InSettled = nullptr;  // bytes before it are in ReadChecksum
    TOctet* OutSettled = nullptr;       // bytes before it are counted and summed
    TOctet* OutLimit = nullptr;         // OutEnd, or sooner where the budget ends;
                                        // OutPos when each byte needs the key

    TStream* SourceStream = nullptr;  // borrowed
    TStream* DestStream = nullptr;    // borrowed

    uint8_t RunByte = 0;
    int32_t RunCount = 0;

    // Settled up to InSettled and OutSettled; SettleCounts brings them up to date.
    uint32_t ReadChecksum = 0;   // bytes as stored in the source, before unscrambling
    uint32_t WriteChecksum = 0;  // bytes as written, after scrambling
    int32_t SourceRemaining = 0;
    int32_t ReadChunk = 0;
    int32_t BytesRead = 0;  // kept only while a progress handler is assigned
    // 64 bits: an expanding run has no budget, and damaged data may make it
    // write more than any header can claim.
    int64_t OutCount = 0;

    bool UnscrambleInput = false;
    bool ScrambleOutput = false;
    uint8_t KeyBytes[4] = {0, 0, 0, 0};
    int16_t KeyIndex = 0;
    int64_t OutputBudget = 0;
    // Set by an expander that took bits or bytes from beyond the end of its
    // codec data (missing data read as zeros): what it wrote is not the
    // stream's, whatever the byte sum says.
    bool ReadPastEnd = false;
    // Set by an expander whose data contradict themselves (a distance
    // before the start, a check value that differs): what it wrote is not
    // the stream's.
    bool Damaged = false;
    // Whether codec data were left unread when the codec returned.
    bool DataLeft = false;
    TShowProgressEvent ProgressHandler;

    TLzhState Lzh;
    TLh5State Lh5;
    TLzmaState Lzma;
};

// A codec's working array for one run, obtained without being cleared.
template <typename T>
void Obtain(std::unique_ptr<T[]>& array, int size) {
    array = std::make_unique_for_overwrite<T[]>(static_cast<size_t>(size));
}

// Slow paths of the byte operations: at the end of a block, of the output
// buffer or of the budget, and for every byte of a run with a key.
uint8_t ReadSourceByteSlow(TCodecState& s);
void WriteDestByteSlow(TCodecState& s, uint8_t b);
// Brings ReadChecksum, WriteChecksum, OutCount and OutputBudget up to date.
void SettleCounts(TCodecState& s);

inline uint8_t ApplyKey(TCodecState& s, uint8_t b) {
    b ^= s.KeyBytes[s.KeyIndex];
    s.KeyIndex = static_cast<int16_t>((s.KeyIndex + 1) & 3);
    return b;
}

// The next source byte, or 0 with SourceExhausted set at the end of the
// source or on a cancel from the progress handler.
inline uint8_t ReadSourceByte(TCodecState& s) {
    if (s.InPos == s.InLimit) [[unlikely]]
        return ReadSourceByteSlow(s);
    return static_cast<uint8_t>(*s.InPos++);
}

// Raises EUnableToCompress once the run's output budget is spent.
inline void WriteDestByte(TCodecState& s, uint8_t b) {
    if (s.OutPos == s.OutLimit) [[unlikely]] {
        WriteDestByteSlow(s, b);
        return;
    }
    *s.OutPos++ = TOctet{b};
}

// Stretch access, for codecs that can take or give many bytes at once.
// The readable stretch is the rest of the current input block, the writable
// one the rest of the output buffer (or of the budget, whichever is
// sooner); with a key both are empty, so every byte takes the slow path
// that applies it. Sums and counts settle at the block edges exactly as for
// single bytes. When a stretch is too short, the byte operations go on.
inline size_t InputStretch(const TCodecState& s) { return static_cast<size_t>(s.InLimit - s.InPos); }
inline void TakeInput(TCodecState& s, size_t n) { s.InPos += n; }
inline size_t OutputStretch(const TCodecState& s) { return static_cast<size_t>(s.OutLimit - s.OutPos); }
inline void CommitOutput(TCodecState& s, size_t n) { s.OutPos += n; }

// The stored method, both directions.
void StoreCopy(TCodecState& s);

}  // namespace vorn
