#include "tools/vornpack/build/source_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace vorn::pack {

namespace {

std::string Quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

TSourceFile::TSourceFile(const std::filesystem::path& path)
    // A pipe or a device would block the open, and a read, until someone writes to it.
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ < 0) throw EStreamError("Cannot open file " + Quoted(path) + ": " + std::strerror(errno));
    file_ = std::make_unique<TFileStream>(fd_, path.string(), Ownership::Owned);
    if (::fstat(fd_, &opened_) != 0) throw EStreamError("Cannot read the size of file " + Quoted(path));
    if (!S_ISREG(opened_.st_mode)) throw ESourceError(Quoted(path) + " is not a regular file");
    if (::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0)
        throw EStreamError("Cannot read file " + Quoted(path) + ": " + std::strerror(errno));
}

size_t TSourceFile::Read(void* buffer, size_t n) {
    const int64_t at = Position();
    const auto wanted = static_cast<size_t>(std::clamp<int64_t>(Size() - at, 0, static_cast<int64_t>(n)));
    const size_t got = file_->Read(buffer, wanted);
    if (got < wanted) throw ESourceError(Quoted(path_) + " became shorter while it was read");
    if (at == hashed_) {
        sha_->Add(static_cast<const uint8_t*>(buffer), got);
        hashed_ += static_cast<int64_t>(got);
    }
    return got;
}

void TSourceFile::Write(const void*, size_t) { throw EStreamError("Cannot write the source " + Quoted(path_)); }

// A pass from the start begins the digest anew: what the last one read is
// what the build took.
void TSourceFile::Seek(int64_t offset, SeekOrigin origin) {
    file_->Seek(origin == SeekOrigin::End ? Size() + offset : offset);
    if (Position() == 0) {
        sha_ = std::make_unique<setup::TSha256>();
        hashed_ = 0;
    }
}

void TSourceFile::SetSize(int64_t) { throw EStreamError("Cannot resize the source " + Quoted(path_)); }

TInstalledBytes TSourceFile::Finish() {
    struct stat now {};
    if (::fstat(fd_, &now) != 0) throw EStreamError("Cannot read the size of file " + Quoted(path_));
    if (now.st_size != opened_.st_size || !SameTime(now.st_mtim, opened_.st_mtim) ||
        !SameTime(now.st_ctim, opened_.st_ctim))
        throw ESourceError(Quoted(path_) + " changed while it was read; build again once nothing writes to it");
    if (hashed_ != Size()) throw ESourceError(Quoted(path_) + " was not read to its end");
    return {hashed_, setup::DigestText(sha_->Finish())};
}

std::string CapText(int64_t cap) { return std::to_string(cap >> 20) + " MiB"; }

std::vector<uint8_t> ReadCapped(const std::filesystem::path& path, int64_t cap, const std::string& what) {
    std::optional<TSourceFile> opened;
    try {
        opened.emplace(path);
    } catch (const ESourceError&) {
        throw ESourceError(Quoted(path) + ": " + what + " is not a regular file");
    }
    TSourceFile& file = *opened;
    if (file.Size() > cap)
        throw ESourceError(Quoted(path) + ": " + what + " is larger than " + CapText(cap) + ", the most vornpack takes");
    std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
    file.Read(bytes.data(), bytes.size());
    file.Finish();
    return bytes;
}

}  // namespace vorn::pack
