// The installer stubs and removers that vornpack was built with, one per architecture a
// manifest may name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/pe_image.h"

namespace vorn::pack {

// What a stub of an architecture is: its PE machine and optional-header
// magic, and the names the manifest and the messages use.
struct TArchitecture {
    const char* name;       // as the manifest's arch key and list spell it
    uint16_t machine;       // the COFF header's machine
    uint16_t optionalMagic; // PE32 or PE32+
    const char* format;     // for messages
};
inline constexpr TArchitecture kX86{"x86", setup::pe::kMachineI386, setup::pe::kOptionalMagicPe32,
                                    "a PE32 program for i386 (machine 0x014C)"};
inline constexpr TArchitecture kX64{"x64", setup::pe::kMachineAmd64, setup::pe::kOptionalMagicPe32Plus,
                                    "a PE32+ program for x64 (machine 0x8664)"};
inline constexpr const TArchitecture* kArchitectures[] = {&kX86, &kX64};

// The row of an arch name, or null; the row of a PE machine, or null.
const TArchitecture* ArchitectureNamed(const std::string& name);
const TArchitecture* ArchitectureOfMachine(uint16_t machine);

// The stub and the remover carried for the architecture; empty when this
// vornpack carries none. The options stub is the one that reads [install]
// settings.
enum class StubKind { Plain, Options };
std::vector<uint8_t> CarriedStub(const TArchitecture& arch, StubKind kind = StubKind::Plain);
std::vector<uint8_t> CarriedRemover(const TArchitecture& arch);

}  // namespace vorn::pack
