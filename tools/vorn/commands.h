// The subcommands of `vorn`, each an options struct and a run function
// returning the exit code.
#pragma once

#include <cstdint>
#include <string>

#include "compress/lzma/lzma_compress.h"
#include "tools/common/exit_code.h"

namespace vorn::tools {

struct TCompressOptions {
    std::string method = "lh5";
    int level = lzma::kDefaultLevel;  // for lzma only
    int32_t key = 0;
    bool quiet = false;
    std::string input;
    std::string output;
};

struct TExpandOptions {
    int32_t key = 0;
    bool quiet = false;
    std::string input;
    std::string output;
};

struct TInfoOptions {
    std::string input;
};

int RunCompress(const TCompressOptions& options);
int RunExpand(const TExpandOptions& options);
int RunInfo(const TInfoOptions& options);

// A key as decimal or 0x-prefixed hexadecimal, anything that fits 32 bits
// (signed or unsigned). Throws std::invalid_argument otherwise.
int32_t ParseKey(const std::string& text);

}  // namespace vorn::tools
