#include "tools/vornpack/stub_image.h"

// The build passes the stub's path; the assembler embeds its bytes.
#ifdef VORN_STUB_PATH
__asm__(".section .rodata\n"
        ".balign 16\n"
        ".globl vorn_stub_begin\n"
        "vorn_stub_begin:\n"
        ".incbin \"" VORN_STUB_PATH "\"\n"
        ".globl vorn_stub_end\n"
        "vorn_stub_end:\n"
        ".previous\n");
extern "C" const uint8_t vorn_stub_begin[];
extern "C" const uint8_t vorn_stub_end[];
#endif

namespace vorn::pack {

std::vector<uint8_t> CarriedStub() {
#ifdef VORN_STUB_PATH
    return std::vector<uint8_t>(vorn_stub_begin, vorn_stub_end);
#else
    return {};
#endif
}

}  // namespace vorn::pack
