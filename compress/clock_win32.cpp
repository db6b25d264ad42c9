#include <windows.h>

#include "compress/clock.h"

namespace vorn {

uint32_t TickCount() { return ::GetTickCount(); }

void YieldToOthers() { ::Sleep(0); }

}  // namespace vorn
