// Slow paths of the engine's byte operations, the percentage rule and the
// stored method.
#include <algorithm>
#include <cstring>

#include "compress/clock.h"
#include "compress/codec_state.h"
#include "compress/exceptions.h"

namespace vorn {

namespace {

uint32_t ByteSum(const TOctet* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += static_cast<uint8_t>(p[i]);
    return sum;
}

void SettleInput(TCodecState& s) {
    s.ReadChecksum += ByteSum(s.InSettled, static_cast<size_t>(s.InPos - s.InSettled));
    s.InSettled = s.InPos;
}

void SettleOutput(TCodecState& s) {
    const int64_t n = s.OutPos - s.OutSettled;
    s.WriteChecksum += ByteSum(s.OutSettled, static_cast<size_t>(n));
    s.OutCount += n;
    s.OutputBudget -= n;
    s.OutSettled = s.OutPos;
}

// Reads the next block; false when there is none, or on a cancel (which
// leaves the block in place with SourceExhausted set).
bool RefillInBuffer(TCodecState& s) {
    SettleInput(s);
    s.SourceExhausted = true;
    if (s.SourceRemaining <= 0) return false;
    if (s.SourceRemaining < s.ReadChunk) s.ReadChunk = s.SourceRemaining;
    size_t n = s.SourceStream->Read(s.InBuffer.get(), static_cast<size_t>(s.ReadChunk));
    s.SourceRemaining -= static_cast<int32_t>(n);
    if (n == 0) return false;
    s.InPos = s.InSettled = s.InBuffer.get();
    s.InEnd = s.InPos + n;
    if (s.ProgressHandler) {
        s.BytesRead += static_cast<int32_t>(n);
        int32_t percent = PercentDone(s.BytesRead, s.BytesRead + s.SourceRemaining);
        s.ProgressHandler(percent);
        if (percent == -1) return false;
    }
    YieldToOthers();
    s.SourceExhausted = false;
    return true;
}

// Settles the counts; raises EUnableToCompress when the budget is spent and
// writes out a full buffer, so that there is room for one more byte.
void MakeRoomForOutput(TCodecState& s) {
    SettleOutput(s);
    if (s.OutputBudget <= 0) throw EUnableToCompress();
    if (s.OutPos == s.OutEnd) {
        YieldToOthers();
        s.DestStream->Write(s.OutBuffer.get(), kEngineBlockSize);
        s.OutPos = s.OutSettled = s.OutBuffer.get();
    }
}

}  // namespace

void SettleCounts(TCodecState& s) {
    SettleInput(s);
    SettleOutput(s);
}

uint8_t ReadSourceByteSlow(TCodecState& s) {
    if (s.InPos == s.InEnd && !RefillInBuffer(s)) {
        s.InLimit = s.InPos;  // after a cancel, the block just read is handed out from here
        return 0;
    }
    uint8_t b = static_cast<uint8_t>(*s.InPos++);
    if (s.UnscrambleInput) b = ApplyKey(s, b);
    s.InLimit = s.UnscrambleInput ? s.InPos : s.InEnd;
    return b;
}

void WriteDestByteSlow(TCodecState& s, uint8_t b) {
    MakeRoomForOutput(s);
    if (s.ScrambleOutput) {
        *s.OutPos++ = TOctet{ApplyKey(s, b)};
        s.OutLimit = s.OutPos;
        return;
    }
    // The fast path may go on to the end of the buffer or of the budget,
    // whichever comes first; the budget counts from OutSettled (= OutPos).
    s.OutLimit = s.OutSettled + std::min<int64_t>(s.OutEnd - s.OutSettled, s.OutputBudget);
    *s.OutPos++ = TOctet{b};
}

int32_t PercentDone(int32_t done, int32_t total) {
    if (total <= 0) return 100;
    if (total > 100000) return done / (total / 100);
    return static_cast<int32_t>(static_cast<int64_t>(done) * 100 / total);
}

namespace {

// Moves what is left of the current input block into the output buffer in
// one piece, as far as the buffer and the budget allow; the counts settle
// as for single bytes. Only without a key: scrambling goes byte by byte.
void MoveBlockRest(TCodecState& s) {
    const size_t n = std::min<size_t>(static_cast<size_t>(s.InEnd - s.InPos),
                                      static_cast<size_t>(s.OutLimit - s.OutPos));
    std::memcpy(s.OutPos, s.InPos, n);
    s.InPos += n;
    s.OutPos += n;
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
