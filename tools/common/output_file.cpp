#include "tools/common/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "compress/exceptions.h"
#include "tools/common/posix_files.h"
#include "tools/common/signal_cleanup.h"

namespace vorn::tools {

namespace {

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
    if (::getrandom(bytes, sizeof bytes, 0) != sizeof bytes) FailOn("Cannot draw a random name for", "OUT");
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

[[noreturn]] void RefuseExisting(const std::string& path) {
    throw EStreamError("Cannot create file \"" + path + "\": a file of that name exists; --overwrite replaces it");
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
            if (fd_ < 0) FailOn("Cannot create file", path_);
        } else {
            if (!exists) RefuseBrokenLink(path_);
            mode_ = exists ? (st.st_mode & 0777) : DefaultMode();
            char* resolved = exists ? ::realpath(path_.c_str(), nullptr) : nullptr;
            const std::filesystem::path target = resolved ? resolved : path_;
            std::free(resolved);
            const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
            folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (folder_ < 0) FailOn("Cannot create file", path_);
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

TOutputFile::TOutputFile(int folder, std::string name, std::string path, Existing existing)
    : path_(std::move(path)), existing_(existing) {
    try {
        struct stat st {};
        const bool exists = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists && existing_ == Existing::Keep) RefuseExisting(path_);
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
    direct_ = std::make_unique<TFileStream>(fd_, path_, Ownership::Borrowed);
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
        if (fd_ < 0 && errno != EEXIST) FailOn("Cannot create file", path_);
        return fd_ >= 0;
    });
    slot_ = RemoveOnSignal((folderPath.empty() ? "." : folderPath) + "/" + tempName_);
}

// A new name is linked at once; an existing file is replaced by a link under
// a fresh name renamed over it, with the signals held off in between.
void TOutputFile::LinkIntoPlace() {
    const std::string self = ProcPath(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), folder_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno != EEXIST) FailOn("Cannot create file", path_);
    if (existing_ == Existing::Keep) RefuseExisting(path_);
    TSignalBlock block;
    tempName_ = UnderFreshName(name_, [&](const std::string& temp) {
        if (::linkat(AT_FDCWD, self.c_str(), folder_, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) FailOn("Cannot create file", path_);
        return false;
    });
    if (::renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0) {
        const int cause = errno;
        ::unlinkat(folder_, std::exchange(tempName_, "").c_str(), 0);
        errno = cause;
        FailOn("Cannot create file", path_);
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
    ForgetOnSignal(slot_);
    slot_ = -1;
}

void TOutputFile::Commit() {
    buffered_->Flush();
    if (staging_) {
        staging_->Seek(0);
        direct_->CopyFrom(*staging_, staging_->Size());
    }
    if (folder_ >= 0) {
        if (::fchmod(fd_, mode_) != 0) FailOn("Cannot write file", path_);
        if (unnamed_) LinkIntoPlace();
        if (::close(std::exchange(fd_, -1)) != 0) FailOn("Cannot write file", path_);
        const unsigned flags = existing_ == Existing::Keep ? RENAME_NOREPLACE : 0;
        if (!unnamed_ && ::renameat2(folder_, tempName_.c_str(), folder_, name_.c_str(), flags) != 0) {
            if (errno == EEXIST) RefuseExisting(path_);
            FailOn("Cannot create file", path_);
        }
    }
    committed_ = true;
    ReleaseSlot();
}

}  // namespace vorn::tools
