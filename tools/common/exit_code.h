// The exit codes of both tools.
#pragma once

namespace vorn::tools {

enum ExitCode { kExitOk = 0, kExitBadInput = 1, kExitUsage = 2 };

}  // namespace vorn::tools
