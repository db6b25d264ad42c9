// A stream over a POSIX file descriptor of any kind, and the unnamed
// temporary file: what the tools' output and input files are made of.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "compress/stream.h"

namespace vorn::tools {

// EStreamError naming the file, with the system's reason.
[[noreturn]] void FailOn(const char* what, const std::string& path);

// A stream over a file descriptor of any kind. The position is counted, not
// asked of the system, so that pipes and devices have one too.
class TFdStream : public TStream {
public:
    TFdStream(int fd, std::string name, bool owned) : fd_(fd), name_(std::move(name)), owned_(owned) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        position_ = size_ = at < 0 ? 0 : at;
    }
    ~TFdStream() override {
        if (owned_) ::close(fd_);
    }

    int64_t Position() const override { return position_; }
    int64_t Size() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : size_;
    }
    size_t Read(void* buffer, size_t n) override {
        ssize_t got;
        do got = ::read(fd_, buffer, n);
        while (got < 0 && errno == EINTR);
        if (got < 0) FailOn("Cannot read file", name_);
        position_ += got;
        return static_cast<size_t>(got);
    }
    void Write(const void* buffer, size_t n) override {
        const auto* bytes = static_cast<const char*>(buffer);
        while (n > 0) {
            const ssize_t put = ::write(fd_, bytes, n);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) FailOn("Cannot write file", name_);
            bytes += put;
            n -= static_cast<size_t>(put);
            position_ += put;
        }
        size_ = std::max(size_, position_);
    }
    void Seek(int64_t offset, SeekOrigin origin) override {
        const off_t at = ::lseek(fd_, offset, origin == SeekOrigin::Begin ? SEEK_SET : SEEK_END);
        if (at < 0) FailOn("Cannot seek in file", name_);
        position_ = at;
    }
    void SetSize(int64_t newSize) override {
        if (::ftruncate(fd_, newSize) != 0) FailOn("Cannot resize file", name_);
        size_ = newSize;
    }

private:
    int fd_;
    std::string name_;
    bool owned_;
    int64_t position_;
    int64_t size_;
};

// An unnamed file in the temporary folder: nothing is left to remove.
std::unique_ptr<TStream> OpenStaging();

}  // namespace vorn::tools
