#include "tools/common/posix_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "compress/exceptions.h"
#include "tools/common/signal_cleanup.h"

namespace vorn::tools {

void FailOn(const char* what, const std::string& path) {
    throw EStreamError(std::string(what) + " \"" + path + "\": " + std::strerror(errno));
}

// Without O_TMPFILE the file is named for a moment: no signal may end the
// process before the name is gone.
std::unique_ptr<TStream> OpenStaging() {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0) {  // a file system without O_TMPFILE: create and unlink at once
        std::string name = dir + "/vorn.XXXXXX";
        TSignalBlock block;
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) FailOn("Cannot create a temporary file in", dir);
    return std::make_unique<TFileStream>(fd, dir, Ownership::Owned);
}

}  // namespace vorn::tools
