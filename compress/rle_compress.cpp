// The run-length compressor; the expander is in rle.cpp.
#include "compress/rle.h"

namespace vorn {

namespace {

// Writes a run item for n > 2, the escaped escape for n = 0, and for n of 1
// or 2 the n - 1 literals still owed (the run's first byte is out already).
void EmitRun(TCodecState& s, int32_t n, uint8_t c) {
    if (n > 2 || n == 0) {
        WriteDestByte(s, RleEscape);
        WriteDestByte(s, static_cast<uint8_t>(n));
    } else if (n == 2) {
        WriteDestByte(s, c);
    }
}

// A byte that does not continue a run: the escape is escaped, all else is a
// literal that may open the next run.
void EmitItem(TCodecState& s, uint8_t b) {
    if (b == RleEscape) {
        EmitRun(s, 0, b);
    } else {
        WriteDestByte(s, b);
    }
}

}  // namespace

void RleCompress(TCodecState& s) {
    for (;;) {
        uint8_t b = ReadSourceByte(s);
        if (s.SourceExhausted) {
            if (s.InRun) EmitRun(s, s.RunCount, s.RunByte);
            return;
        }
        if (s.InRun) {
            if (b == s.RunByte && s.RunCount < 255) {
                ++s.RunCount;
            } else {
                EmitRun(s, s.RunCount, s.RunByte);
                s.RunByte = b;
                EmitItem(s, b);
                s.InRun = false;
            }
        } else {
            // FirstByte keeps the initial RunByte of 0 from counting as written.
            if (b != RleEscape && b == s.RunByte && !s.FirstByte) {
                s.RunCount = 2;
                s.InRun = true;
            } else {
                EmitItem(s, b);
            }
            s.RunByte = b;
        }
        s.FirstByte = false;
    }
}

}  // namespace vorn
