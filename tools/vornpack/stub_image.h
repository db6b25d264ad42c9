// The installer stub that vornpack was built with.
#pragma once

#include <cstdint>
#include <vector>

namespace vorn::pack {

// Empty when this vornpack carries no stub.
std::vector<uint8_t> CarriedStub();

}  // namespace vorn::pack
