// Slow paths of the engine's byte operations, the percentage rule and the
// stored method.
#include <algorithm>
#include <cstring>

#include "compress/clock.h"
#include "compress/codec_state.h"
#include "compress/exceptions.h"

namespace vorn {

bool RefillInBuffer(TCodecState& s) {
    s.SourceExhausted = true;
    if (s.SourceRemaining <= 0) return false;
    if (s.SourceRemaining < s.ReadChunk) s.ReadChunk = s.SourceRemaining;
    size_t n = s.SourceStream->Read(s.InBuffer.get(), static_cast<size_t>(s.ReadChunk));
    s.SourceRemaining -= static_cast<int32_t>(n);
    if (n == 0) return false;
    s.InPos = s.InBuffer.get();
    s.InEnd = s.InPos + n;
    if (s.ProgressHandler) {
        s.BytesRead += static_cast<int32_t>(n);
        int32_t percent = PercentDone(s.BytesRead, s.BytesRead + s.SourceRemaining);
        s.ProgressHandler(percent);
        // A cancel leaves the block in place and SourceExhausted set.
        if (percent == -1) return false;
    }
    YieldToOthers();
    s.SourceExhausted = false;
    return true;
}

void FlushFullOutBuffer(TCodecState& s) {
    YieldToOthers();
    s.DestStream->Write(s.OutBuffer.get(), kEngineBlockSize);
    s.OutPos = s.OutBuffer.get();
}

void RaiseUnableToCompress() { throw EUnableToCompress(); }

int32_t PercentDone(int32_t done, int32_t total) {
    if (total <= 0) return 100;
    if (total > 100000) return done / (total / 100);
    return static_cast<int32_t>(static_cast<int64_t>(done) * 100 / total);
}

namespace {

uint32_t ByteSum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

// Moves what is left of the current input block into the output buffer in
// one piece, with the same sums, counts and budget as byte by byte. Only
// without a key: scrambling goes byte by byte.
void MoveBlockRest(TCodecState& s) {
    size_t n = std::min<size_t>(static_cast<size_t>(s.InEnd - s.InPos),
                                static_cast<size_t>(s.OutEnd - s.OutPos));
    n = std::min<size_t>(n, static_cast<size_t>(s.OutputBudget));
    if (n == 0) return;
    uint32_t sum = ByteSum(s.InPos, n);
    std::memcpy(s.OutPos, s.InPos, n);
    s.InPos += n;
    s.OutPos += n;
    s.ReadChecksum += sum;
    s.WriteChecksum += sum;
    s.OutCount += static_cast<int32_t>(n);
    s.OutputBudget -= static_cast<int32_t>(n);
}

}  // namespace

void StoreCopy(TCodecState& s) {
    const bool plain = !s.UnscrambleInput && !s.ScrambleOutput;
    for (;;) {
        uint8_t b = ReadSourceByte(s);
        if (s.SourceExhausted) return;
        WriteDestByte(s, b);
        if (plain) MoveBlockRest(s);
    }
}

}  // namespace vorn
