#include "tools/vornpack/pe/stub_image.h"

#include <algorithm>
#include <iterator>

// The build passes each stub's and remover's path; the assembler embeds its bytes.
#define VORN_EMBED(name, path)                         \
    __asm__(".section .rodata\n"                       \
            ".balign 16\n"                             \
            ".globl " #name "_begin\n" #name "_begin:\n" \
            ".incbin \"" path "\"\n"                   \
            ".globl " #name "_end\n" #name "_end:\n"     \
            ".previous\n");                            \
    extern "C" const uint8_t name##_begin[];           \
    extern "C" const uint8_t name##_end[];

#ifdef VORN_STUB_PATH_x86
VORN_EMBED(vorn_stub_x86, VORN_STUB_PATH_x86)
#endif
#ifdef VORN_STUB_PATH_x64
VORN_EMBED(vorn_stub_x64, VORN_STUB_PATH_x64)
#endif
#ifdef VORN_OPTIONS_STUB_PATH_x86
VORN_EMBED(vorn_options_stub_x86, VORN_OPTIONS_STUB_PATH_x86)
#endif
#ifdef VORN_OPTIONS_STUB_PATH_x64
VORN_EMBED(vorn_options_stub_x64, VORN_OPTIONS_STUB_PATH_x64)
#endif
#ifdef VORN_REMOVER_PATH_x86
VORN_EMBED(vorn_remover_x86, VORN_REMOVER_PATH_x86)
#endif
#ifdef VORN_REMOVER_PATH_x64
VORN_EMBED(vorn_remover_x64, VORN_REMOVER_PATH_x64)
#endif

namespace vorn::pack {

const TArchitecture* ArchitectureNamed(const std::string& name) {
    const auto row = std::find_if(std::begin(kArchitectures), std::end(kArchitectures),
                                  [&](const TArchitecture* arch) { return name == arch->name; });
    return row == std::end(kArchitectures) ? nullptr : *row;
}

const TArchitecture* ArchitectureOfMachine(uint16_t machine) {
    const auto row = std::find_if(std::begin(kArchitectures), std::end(kArchitectures),
                                  [&](const TArchitecture* arch) { return machine == arch->machine; });
    return row == std::end(kArchitectures) ? nullptr : *row;
}

std::vector<uint8_t> CarriedStub([[maybe_unused]] const TArchitecture& arch, [[maybe_unused]] StubKind kind) {
#ifdef VORN_OPTIONS_STUB_PATH_x86
    if (&arch == &kX86 && kind == StubKind::Options)
        return std::vector<uint8_t>(vorn_options_stub_x86_begin, vorn_options_stub_x86_end);
#endif
#ifdef VORN_OPTIONS_STUB_PATH_x64
    if (&arch == &kX64 && kind == StubKind::Options)
        return std::vector<uint8_t>(vorn_options_stub_x64_begin, vorn_options_stub_x64_end);
#endif
#ifdef VORN_STUB_PATH_x86
    if (&arch == &kX86) return std::vector<uint8_t>(vorn_stub_x86_begin, vorn_stub_x86_end);
#endif
#ifdef VORN_STUB_PATH_x64
    if (&arch == &kX64) return std::vector<uint8_t>(vorn_stub_x64_begin, vorn_stub_x64_end);
#endif
    return {};
}

std::vector<uint8_t> CarriedRemover([[maybe_unused]] const TArchitecture& arch) {
#ifdef VORN_REMOVER_PATH_x86
    if (&arch == &kX86) return std::vector<uint8_t>(vorn_remover_x86_begin, vorn_remover_x86_end);
#endif
#ifdef VORN_REMOVER_PATH_x64
    if (&arch == &kX64) return std::vector<uint8_t>(vorn_remover_x64_begin, vorn_remover_x64_end);
#endif
    return {};
}

}  // namespace vorn::pack
