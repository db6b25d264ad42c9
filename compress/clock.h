// The two timing services the engine needs: a millisecond tick counter that
// wraps at 32 bits, and a yield of the processor to other threads.
#pragma once

#include <cstdint>

namespace vorn {

uint32_t TickCount();
void YieldToOthers();

}  // namespace vorn
