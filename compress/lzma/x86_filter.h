// The x86 branch converter. The encoder turns the relative 32-bit operands
// of E8 (call) and E9 (jmp) into absolute addresses, which repeat more often
// in code; the decoder turns them back. An operand counts only when its top
// byte is 00 or FF (a near target), and an opcode byte shortly after an
// opcode that was left alone is judged by the pattern of such bytes before
// it. Positions count from 0 at the first byte of the data. For x86-64
// code the converter also turns the 32-bit displacements of RIP-relative
// operands absolute (the same way, without the pattern, which judges call
// and jmp opcodes only): FF 15 and FF 25 (call and jmp through memory),
// and REX.W with an opcode that moves, loads the address of, compares or
// adds memory, whose ModRM byte names RIP (mod 00, r/m 101). The two
// directions differ only in adding or subtracting the position
// (x86_convert.h); each is built on the side that uses it.
//
// Confined to a program's code, the converter leaves the bytes around it
// alone (their E8 and E9 bytes are data, whose false conversions cost more
// than they save) and counts positions from the code's start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn::lzma {

enum class X86Direction { Encode, Decode };

inline constexpr uint32_t kX86OperandEnd = 5;  // an opcode and its 32-bit operand
inline constexpr uint32_t kX64OperandEnd = 7;  // REX, opcode, ModRM and the displacement
// The most bytes a call leaves for the next: an opcode needs its operand in view.
inline constexpr uint32_t kX86HeldBack = kX64OperandEnd - 1;

// What a converter works on: the whole data, or only its code, the data's
// positions [CodeStart, CodeEnd).
struct TX86Scope {
    bool RipRelative = false;  // x86-64's RIP-relative operands too
    bool CodeOnly = false;
    uint32_t CodeStart = 0;
    uint32_t CodeEnd = 0;
};

template <X86Direction kDirection>
class TX86Converter {
public:
    explicit TX86Converter(TX86Scope scope = {}) : scope_(scope), ripRelative_(scope.RipRelative) {}

    // Converts data[0, size) in place, the bytes that follow those of the
    // earlier calls, and returns how many at the front are final. The rest
    // (kX86HeldBack at most) must come again at the front of the next call;
    // at the end of the data, or of its code, they stay as they are.
    size_t Convert(uint8_t* data, size_t size);

private:
    // Convert, for code that is all of data (positions from its start).
    size_t ConvertCode(uint8_t* data, size_t size);

    const TX86Scope scope_;
    const bool ripRelative_;
    uint32_t at_ = 0;        // the data's position of data[0] (CodeOnly)
    uint32_t position_ = 0;  // the code's position of data[0]
    // Opcodes at the positions just before the last one looked at that were
    // left alone (bits 0 to 2, the nearest lowest), and whether the operand
    // of such an opcode had a near top byte (bit 4); kept as the operand
    // bytes that follow move it on.
    uint32_t recent_ = 0;
    uint32_t lastOpcode_ = 0u - kX86OperandEnd;  // long enough ago to forget
    // With ripRelative: the last operand top byte that decided to leave an
    // operand alone. No later operand that reaches it is converted, or the
    // decoder, which sees that byte converted, would decide otherwise (the
    // pattern above guards calls against calls only).
    uint32_t settled_ = 0;
    void Settle(uint32_t top) {
        if (ripRelative_ && top > settled_) settled_ = top;
    }
};

// x86_filter.cpp, with the expanders.
extern template class TX86Converter<X86Direction::Decode>;
// x86_encode.cpp, with the compressors.
extern template class TX86Converter<X86Direction::Encode>;

using TX86Decoder = TX86Converter<X86Direction::Decode>;
using TX86Encoder = TX86Converter<X86Direction::Encode>;

}  // namespace vorn::lzma
