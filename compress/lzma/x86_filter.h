// The x86 branch converter, decoding direction. An encoder turned the
// relative 32-bit operands of E8 (call) and E9 (jmp) into absolute
// addresses, which repeat more often in code; this turns them back. An
// operand counts only when its top byte is 00 or FF (a near target), and
// an opcode byte shortly after an opcode that was left alone is judged by
// the pattern of such bytes before it. Positions count from 0 at the first
// byte of the data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn::lzma {

class TX86Decoder {
public:
    // Converts data[0, size) in place, the bytes that follow those of the
    // earlier calls, and returns how many at the front are final. The rest
    // (at most four: an opcode needs its operand in view) must come again at
    // the front of the next call; at the end of the data they stay as they
    // are.
    size_t Convert(uint8_t* data, size_t size);

private:
    uint32_t position_ = 0;  // of data[0]
    // Opcodes at the positions just before the last one looked at that were
    // left alone (bits 0 to 2, the nearest lowest), and whether the operand
    // of such an opcode had a near top byte (bit 4); kept as the operand
    // bytes that follow move it on.
    uint32_t recent_ = 0;
    uint32_t lastOpcode_ = 0u - kOperandEnd;  // long enough ago to forget

    static constexpr uint32_t kOperandEnd = 5;  // opcode and 32-bit operand
};

}  // namespace vorn::lzma
