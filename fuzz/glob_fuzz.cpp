// The [[folder]] glob matcher over arbitrary globs and paths (the input is
// the glob, a newline, the path). Matching must end quickly whatever the
// glob: libFuzzer's time limit catches one that does not. A path's own
// text, when it holds no glob character, is a glob that matches it, and
// "**" matches every path that names something.
#include <algorithm>
#include <cstdint>
#include <string>

#include "tools/vornpack/manifest/folder_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string glob = input.substr(0, newline);
    const std::string path = newline == std::string::npos ? "" : input.substr(newline + 1);
    vorn::pack::GlobMatches(glob, path);
    const bool names = path.find_first_not_of('/') != std::string::npos;
    if (names && path.find_first_of("*?[") == std::string::npos && !vorn::pack::GlobMatches(path, path)) __builtin_trap();
    if (names != vorn::pack::GlobMatches("**", path)) __builtin_trap();
    return 0;
}
