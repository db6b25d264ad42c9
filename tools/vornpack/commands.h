// The subcommands of `vornpack`, each an options struct and a run function
// returning the exit code: 0 ok, 1 bad input, 2 usage.
#pragma once

#include <string>

#include "tools/common/exit_code.h"

namespace vorn::pack {

using enum tools::ExitCode;

struct TBuildOptions {
    std::string manifest;
    std::string output = "setup.exe";
    std::string stub;  // empty: the stub carried inside vornpack
    std::string signCommand;  // one command line, split at blanks; overrides [sign]
    size_t jobs = 0;   // entries compressed at once; 0: one per core
    bool quiet = false;
};

struct TListOptions {
    std::string installer;
    std::string codepage = "1252";
    bool json = false;
};

struct TVerifyOptions {
    std::string installer;
    bool quiet = false;
};

struct TExtractOptions {
    std::string installer;
    std::string directory = ".";
    std::string codepage = "1252";
    bool overwrite = false;  // replace files already under the target folder
    bool quiet = false;
};

struct TWingetOptions {
    std::string installer;
    std::string url;  // where the catalog downloads it; empty: a placeholder to fill in
    std::string codepage = "1252";
};

int RunBuild(const TBuildOptions& options);
int RunWinget(const TWingetOptions& options);
int RunList(const TListOptions& options);
int RunVerify(const TVerifyOptions& options);
int RunExtract(const TExtractOptions& options);

// Where extract puts an entry, relative to the target folder: macros become
// folders such as "program files", a drive letter becomes a folder. Takes
// the destination as stored (code-page bytes) and gives a UTF-8 path;
// raises std::invalid_argument for one that names no file inside them
// ("." or ".." anywhere, a bare macro or drive, a trailing '\').
std::string ExtractPath(const std::string& destination, const std::string& codepage);

}  // namespace vorn::pack
