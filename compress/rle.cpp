// The run-length expander; the compressor is in rle_compress.cpp.
#include "compress/rle.h"

namespace vorn {

void RleExpand(TCodecState& s) {
    for (;;) {
        uint8_t b = ReadSourceByte(s);
        if (s.SourceExhausted) return;
        if (b != RleEscape) {
            WriteDestByte(s, b);
        } else {
            // A count cut off by the end of the data reads as 0: one escape
            // byte, made up rather than read.
            uint8_t count = ReadSourceByte(s);
            if (s.SourceExhausted) s.ReadPastEnd = true;
            if (count == 0) {
                WriteDestByte(s, RleEscape);
            } else {
                for (int i = 1; i < count; ++i) WriteDestByte(s, s.RunByte);
            }
        }
        s.RunByte = b;
    }
}

}  // namespace vorn
