#include "tools/common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tools/common/buffered_stream.h"
#include "tools/common/posix_files.h"

namespace vorn::tools {

bool IsStreamedInput(const std::string& path) {
    struct stat st {};
    return path == "-" || (::stat(path.c_str(), &st) == 0 &&
                           (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)));
}

std::unique_ptr<TStream> OpenInput(const std::string& path, int64_t limit) {
    if (!IsStreamedInput(path)) return std::make_unique<TFileStream>(path, FileMode::OpenRead);
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) FailOn("Cannot open file", path);
    TFileStream source(fd, path, fd != STDIN_FILENO ? Ownership::Owned : Ownership::Borrowed);
    std::unique_ptr<TStream> copy = OpenStaging();
    // No stream holds more than 2 GiB of data and its header: /dev/zero
    // must not fill the temporary folder.
    const int64_t largest = kMaxStreamSize + kHeaderSize;
    const int64_t cap = limit == kWholeInput ? largest + 1 : limit;
    std::vector<uint8_t> block(TBufferedStream::kDefaultCapacity);
    while (copy->Size() < cap) {
        const size_t n = source.Read(block.data(), static_cast<size_t>(std::min<int64_t>(block.size(), cap - copy->Size())));
        if (n == 0) break;
        copy->Write(block.data(), n);
    }
    if (copy->Size() > largest) throw EStreamError("More input than a stream can hold (2 GiB)");
    copy->Seek(0);
    return copy;
}

}  // namespace vorn::tools
