#include "tools/common/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"

namespace vorn::tools {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
    throw EStreamError(std::string(what) + " \"" + path + "\": " + std::strerror(errno));
}

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
        if (got < 0) Fail("Cannot read file", name_);
        position_ += got;
        return static_cast<size_t>(got);
    }
    void Write(const void* buffer, size_t n) override {
        const auto* bytes = static_cast<const char*>(buffer);
        while (n > 0) {
            const ssize_t put = ::write(fd_, bytes, n);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) Fail("Cannot write file", name_);
            bytes += put;
            n -= static_cast<size_t>(put);
            position_ += put;
        }
        size_ = std::max(size_, position_);
    }
    void Seek(int64_t offset, SeekOrigin origin) override {
        const off_t at = ::lseek(fd_, offset, origin == SeekOrigin::Begin ? SEEK_SET : SEEK_END);
        if (at < 0) Fail("Cannot seek in file", name_);
        position_ = at;
    }
    void SetSize(int64_t newSize) override {
        if (::ftruncate(fd_, newSize) != 0) Fail("Cannot resize file", name_);
        size_ = newSize;
    }

private:
    int fd_;
    std::string name_;
    bool owned_;
    int64_t position_;
    int64_t size_;
};

// Temporary files and folders to remove when a signal ends the process.
// The handler only reads these; they change only while the signals are
// blocked.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSlots = 8;
char gRemoveOnSignal[kSlots][PATH_MAX];
volatile sig_atomic_t gSlotUsed[kSlots];
volatile sig_atomic_t gSlotIsFolder[kSlots];
volatile sig_atomic_t gGroupToEnd;  // a child's process group; 0 for none

void RemoveTemporariesAndDie(int signal) {
    if (gGroupToEnd > 0) ::kill(-gGroupToEnd, SIGKILL);
    for (int i = 0; i < kSlots; ++i)
        if (gSlotUsed[i] && !gSlotIsFolder[i]) ::unlink(gRemoveOnSignal[i]);
    for (int i = 0; i < kSlots; ++i)  // emptied by now, unless others put files there
        if (gSlotUsed[i] && gSlotIsFolder[i]) ::rmdir(gRemoveOnSignal[i]);
    // SA_RESETHAND has put the default action back: the process ends with
    // the signal (status 128+n) once the handler returns.
    ::raise(signal);
}

class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t saved_;
};

void InstallHandlersOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    for (int s : kSignals) {
        struct sigaction old {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    }
}

// Call with the signals blocked. -1 when every slot is taken: the file is
// then only removed on the ordinary ways out.
int RemoveOnSignal(const std::string& path, bool folder = false) {
    InstallHandlersOnce();
    for (int i = 0; i < kSlots; ++i) {
        if (gSlotUsed[i] || path.size() >= PATH_MAX) continue;
        std::memcpy(gRemoveOnSignal[i], path.c_str(), path.size() + 1);
        gSlotIsFolder[i] = folder;
        gSlotUsed[i] = 1;
        return i;
    }
    return -1;
}

unsigned DefaultMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool SameFile(const struct stat& st, int fd) {
    struct stat other {};
    return ::fstat(fd, &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

bool CanSeekBack(int fd) {
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && !(flags & O_APPEND);
}

// An unnamed file in the temporary folder: nothing is left to remove.
std::unique_ptr<TStream> OpenStaging() {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0) {  // a file system without O_TMPFILE: create and unlink at once
        std::string name = dir + "/vorn.XXXXXX";
        SignalBlock block;
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) Fail("Cannot create a temporary file in", dir);
    return std::make_unique<TFdStream>(fd, dir, true);
}

}  // namespace

OutputFile::OutputFile(std::string path, OutputAccess access) : path_(std::move(path)) {
    try {
        struct stat st {};
        const bool exists = path_ != "-" && ::stat(path_.c_str(), &st) == 0;
        if (path_ == "-" || (exists && SameFile(st, STDOUT_FILENO))) {
            fd_ = STDOUT_FILENO;
            toStdout_ = true;
        } else if (exists && !S_ISREG(st.st_mode)) {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0) Fail("Cannot create file", path_);
        } else {
            mode_ = exists ? (st.st_mode & 07777) : DefaultMode();
            char* resolved = exists ? ::realpath(path_.c_str(), nullptr) : nullptr;
            OpenTemporary(resolved ? resolved : path_);
            std::free(resolved);
        }
        direct_ = std::make_unique<TFdStream>(fd_, tempPath_.empty() ? path_ : tempPath_, false);
        if (access == OutputAccess::Seekable && tempPath_.empty() && !CanSeekBack(fd_)) staging_ = OpenStaging();
        buffered_ = std::make_unique<TBufferedStream>(staging_ ? *staging_ : *direct_);
    } catch (...) {
        Discard();
        throw;
    }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::OpenTemporary(const std::string& target) {
    target_ = target;
    std::string name = target + ".XXXXXX.part";
    SignalBlock block;
    fd_ = ::mkostemps(name.data(), 5, O_NOFOLLOW | O_CLOEXEC);  // O_CREAT | O_EXCL, mode 0600
    if (fd_ < 0) Fail("Cannot create file", path_);
    tempPath_ = name;
    slot_ = RemoveOnSignal(tempPath_);
}

void OutputFile::Discard() {
    buffered_.reset();
    staging_.reset();
    direct_.reset();
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
    fd_ = -1;
    if (!committed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
    ReleaseSlot();
}

void OutputFile::ReleaseSlot() {
    if (slot_ >= 0) gSlotUsed[slot_] = 0;
    slot_ = -1;
}

void OutputFile::Commit() {
    buffered_->Flush();
    if (staging_) {
        staging_->Seek(0);
        direct_->CopyFrom(*staging_, staging_->Size());
    }
    if (!tempPath_.empty()) {
        if (::fchmod(fd_, mode_) != 0 || ::close(std::exchange(fd_, -1)) != 0) Fail("Cannot write file", path_);
        if (::rename(tempPath_.c_str(), target_.c_str()) != 0) Fail("Cannot create file", path_);
    }
    committed_ = true;
    ReleaseSlot();
}

RemovedOnSignal::RemovedOnSignal(const std::string& folder, const std::vector<std::string>& files) {
    SignalBlock block;
    for (const std::string& file : files) slots_.push_back(RemoveOnSignal(file));
    slots_.push_back(RemoveOnSignal(folder, true));
}

RemovedOnSignal::~RemovedOnSignal() {
    for (int slot : slots_)
        if (slot >= 0) gSlotUsed[slot] = 0;
}

GroupEndedOnSignal::GroupEndedOnSignal(const std::function<pid_t()>& start) {
    SignalBlock block;
    InstallHandlersOnce();
    group_ = start();
    gGroupToEnd = group_;
}

GroupEndedOnSignal::~GroupEndedOnSignal() { gGroupToEnd = 0; }

std::unique_ptr<TStream> OpenInput(const std::string& path) {
    struct stat st {};
    const bool streamed = path == "-" || (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) ||
                                                                             S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)));
    if (!streamed) return std::make_unique<TFileStream>(path, FileMode::OpenRead);
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("Cannot open file", path);
    TFdStream source(fd, path, fd != STDIN_FILENO);
    std::unique_ptr<TStream> copy = OpenStaging();
    std::vector<uint8_t> block(TBufferedStream::kDefaultCapacity);
    while (const size_t n = source.Read(block.data(), block.size())) {
        copy->Write(block.data(), n);
        // No stream holds more (2 GiB of data and its header): /dev/zero
        // must not fill the temporary folder.
        if (copy->Size() > int64_t{INT32_MAX} + kHeaderSize)
            throw EStreamError("More input than a stream can hold (2 GiB)");
    }
    copy->Seek(0);
    return copy;
}

}  // namespace vorn::tools
