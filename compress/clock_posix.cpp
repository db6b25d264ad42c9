#include <sched.h>
#include <time.h>

#include "compress/clock.h"

namespace vorn {

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void YieldToOthers() { sched_yield(); }

}  // namespace vorn
