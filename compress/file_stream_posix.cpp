// TFileStream on POSIX file descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "compress/exceptions.h"
#include "compress/stream.h"

namespace vorn {

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path) {
    int flags = mode == FileMode::OpenRead ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    handle_ = fd;
    if (fd < 0) Fail(mode == FileMode::OpenRead ? "Cannot open file" : "Cannot create file");
}

TFileStream::TFileStream(intptr_t handle, std::string path, Ownership ownership)
    : path_(std::move(path)), handle_(handle), owned_(ownership == Ownership::Owned) {
    const off_t at = ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    position_ = written_ = at < 0 ? 0 : at;
}

TFileStream::~TFileStream() {
    if (owned_) ::close(static_cast<int>(handle_));
}

void TFileStream::Fail(const char* what) const {
    throw EStreamError(std::string(what) + " \"" + path_ + "\": " + std::strerror(errno));
}

int64_t TFileStream::Position() const { return position_; }

int64_t TFileStream::Size() const {
    struct stat st;
    if (::fstat(static_cast<int>(handle_), &st) != 0) Fail("Cannot read the size of file");
    return S_ISREG(st.st_mode) ? st.st_size : written_;
}

size_t TFileStream::Read(void* buffer, size_t n) {
    size_t total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < n) {
        ssize_t got = ::read(static_cast<int>(handle_), out + total, n - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail("Cannot read file");
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    position_ += static_cast<int64_t>(total);
    return total;
}

void TFileStream::Write(const void* buffer, size_t n) {
    auto* in = static_cast<const char*>(buffer);
    while (n > 0) {
        ssize_t put = ::write(static_cast<int>(handle_), in, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) Fail("Cannot write file");
        in += put;
        n -= static_cast<size_t>(put);
        position_ += put;
    }
    written_ = std::max(written_, position_);
}

void TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : SEEK_END;
    const off_t at = ::lseek(static_cast<int>(handle_), offset, whence);
    if (at < 0) Fail("Cannot seek in file");
    position_ = at;
}

void TFileStream::SetSize(int64_t newSize) {
    if (::ftruncate(static_cast<int>(handle_), newSize) != 0) Fail("Cannot resize file");
    written_ = newSize;
    if (Position() > newSize) Seek(newSize);
}

}  // namespace vorn
