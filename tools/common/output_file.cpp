#include "tools/common/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
// Every signal that ends a process by default and can be caught.
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGXFSZ, SIGXCPU,
                            SIGUSR1, SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF, SIGPIPE};
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

class TSignalBlock {
public:
    TSignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~TSignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    TSignalBlock(const TSignalBlock&) = delete;
    TSignalBlock& operator=(const TSignalBlock&) = delete;

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

// Six characters no one can guess, for a name beside OUT.
std::string RandomText() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    uint8_t bytes[6];
    if (::getrandom(bytes, sizeof bytes, 0) != sizeof bytes) Fail("Cannot draw a random name for", "OUT");
    std::string text;
    for (uint8_t b : bytes) text += kAlphabet[b % (sizeof kAlphabet - 1)];
    return text;
}

// Creates or links a file under NAME.XXXXXX.part in folder (make returns
// false on EEXIST, throws otherwise); gives the name used.
template <typename Make>
std::string UnderFreshName(const std::string& name, Make make) {
    for (;;) {
        std::string temp = name + "." + RandomText() + ".part";
        if (make(temp)) return temp;
    }
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Refuses a name that is a symbolic link leading nowhere (or in a loop):
// replacing the link would break it, writing through would put a file
// somewhere the name does not show.
void RefuseBrokenLink(const std::string& path) {
    const int cause = errno;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return;
    throw EStreamError("Cannot write through the symbolic link \"" + path + "\": " +
                       (cause == ENOENT ? "it leads nowhere" : std::strerror(cause)));
}

// An unnamed file in the temporary folder: nothing is left to remove.
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
    if (fd < 0) Fail("Cannot create a temporary file in", dir);
    return std::make_unique<TFdStream>(fd, dir, true);
}

}  // namespace

TOutputFile::TOutputFile(std::string path, OutputAccess access) : path_(std::move(path)) {
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
            if (!exists) RefuseBrokenLink(path_);
            mode_ = exists ? (st.st_mode & 0777) : DefaultMode();
            char* resolved = exists ? ::realpath(path_.c_str(), nullptr) : nullptr;
            const std::filesystem::path target = resolved ? resolved : path_;
            std::free(resolved);
            const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
            folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (folder_ < 0) Fail("Cannot create file", path_);
            ownsFolder_ = true;
            name_ = target.filename().string();
            OpenTemporary(folder);
        }
        OpenStreams(access);
    } catch (...) {
        Discard();
        throw;
    }
}

TOutputFile::TOutputFile(int folder, std::string name, std::string path) : path_(std::move(path)) {
    try {
        struct stat st {};
        const bool exists = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists && !S_ISREG(st.st_mode))
            throw EStreamError("Cannot create file \"" + path_ + "\": " +
                               (S_ISLNK(st.st_mode) ? "it is a symbolic link" : "it is not a regular file"));
        folder_ = folder;
        name_ = std::move(name);
        mode_ = exists ? (st.st_mode & 0777) : DefaultMode();
        OpenTemporary(std::filesystem::path(path_).parent_path().string());
        OpenStreams(OutputAccess::Sequential);
    } catch (...) {
        Discard();
        throw;
    }
}

TOutputFile::~TOutputFile() { Discard(); }

void TOutputFile::OpenStreams(OutputAccess access) {
    direct_ = std::make_unique<TFdStream>(fd_, path_, false);
    if (access == OutputAccess::Seekable && folder_ < 0 && !CanSeekBack(fd_)) staging_ = OpenStaging();
    buffered_ = std::make_unique<TBufferedStream>(staging_ ? *staging_ : *direct_);
}

void TOutputFile::OpenTemporary(const std::string& folderPath) {
    fd_ = ::openat(folder_, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600);
    // Linked into place through /proc at the end: without /proc, a name.
    if (fd_ >= 0 && ::access(ProcPath(fd_).c_str(), F_OK) == 0) {
        unnamed_ = true;
        return;
    }
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    TSignalBlock block;
    tempName_ = UnderFreshName(name_, [&](const std::string& temp) {
        fd_ = ::openat(folder_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) Fail("Cannot create file", path_);
        return fd_ >= 0;
    });
    slot_ = RemoveOnSignal((folderPath.empty() ? "." : folderPath) + "/" + tempName_);
}

// A new name is linked at once; an existing file is replaced by a link under
// a fresh name renamed over it, with the signals held off in between.
void TOutputFile::LinkIntoPlace() {
    const std::string self = ProcPath(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), folder_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno != EEXIST) Fail("Cannot create file", path_);
    TSignalBlock block;
    tempName_ = UnderFreshName(name_, [&](const std::string& temp) {
        if (::linkat(AT_FDCWD, self.c_str(), folder_, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) Fail("Cannot create file", path_);
        return false;
    });
    if (::renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0) {
        const int cause = errno;
        ::unlinkat(folder_, std::exchange(tempName_, "").c_str(), 0);
        errno = cause;
        Fail("Cannot create file", path_);
    }
    tempName_.clear();
}

void TOutputFile::Discard() {
    buffered_.reset();
    staging_.reset();
    direct_.reset();
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
    fd_ = -1;
    if (!committed_ && !tempName_.empty()) ::unlinkat(folder_, tempName_.c_str(), 0);
    if (ownsFolder_) ::close(folder_);
    ownsFolder_ = false;
    folder_ = -1;
    ReleaseSlot();
}

void TOutputFile::ReleaseSlot() {
    if (slot_ >= 0) gSlotUsed[slot_] = 0;
    slot_ = -1;
}

void TOutputFile::Commit() {
    buffered_->Flush();
    if (staging_) {
        staging_->Seek(0);
        direct_->CopyFrom(*staging_, staging_->Size());
    }
    if (folder_ >= 0) {
        if (::fchmod(fd_, mode_) != 0) Fail("Cannot write file", path_);
        if (unnamed_) LinkIntoPlace();
        if (::close(std::exchange(fd_, -1)) != 0) Fail("Cannot write file", path_);
        if (!unnamed_ && ::renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0)
            Fail("Cannot create file", path_);
    }
    committed_ = true;
    ReleaseSlot();
}

TRemovedOnSignal::TRemovedOnSignal(const std::string& folder, const std::vector<std::string>& files) {
    TSignalBlock block;
    for (const std::string& file : files) slots_.push_back(RemoveOnSignal(file));
    slots_.push_back(RemoveOnSignal(folder, true));
}

TRemovedOnSignal::~TRemovedOnSignal() {
    for (int slot : slots_)
        if (slot >= 0) gSlotUsed[slot] = 0;
}

TGroupEndedOnSignal::TGroupEndedOnSignal(const std::function<pid_t()>& start) {
    TSignalBlock block;
    InstallHandlersOnce();
    group_ = start();
    gGroupToEnd = group_;
}

TGroupEndedOnSignal::~TGroupEndedOnSignal() { gGroupToEnd = 0; }

bool IsStreamedInput(const std::string& path) {
    struct stat st {};
    return path == "-" || (::stat(path.c_str(), &st) == 0 &&
                           (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)));
}

std::unique_ptr<TStream> OpenInput(const std::string& path, int64_t limit) {
    if (!IsStreamedInput(path)) return std::make_unique<TFileStream>(path, FileMode::OpenRead);
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("Cannot open file", path);
    TFdStream source(fd, path, fd != STDIN_FILENO);
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
