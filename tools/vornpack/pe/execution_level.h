// The execution level that the stub's application manifest asks Windows
// for. The stub carries one requestedExecutionLevel element whose
// attributes fill a slot of fixed length; vornpack rewrites that slot in
// place, so the resource keeps its size and nothing else in the image moves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compress/stream.h"

namespace vorn::pack {

enum class Elevation { Admin, User };

// "admin" or "user", as the manifest key spells them.
const char* ElevationName(Elevation level);
std::optional<Elevation> ElevationNamed(const std::string& name);

// The file offset of the slot in an image; empty when there is none.
std::optional<size_t> ElevationSlotAt(const std::vector<uint8_t>& image);

// Sets the level in a stub image; raises EVornError when the stub has no
// slot, or more than one execution level.
void SetElevation(std::vector<uint8_t>& stub, Elevation level);

// The level an installer asks for, read from its PE image only (never from
// the package or a signature behind it); empty when it carries no slot.
std::optional<Elevation> ReadElevation(TStream& installer);

}  // namespace vorn::pack
