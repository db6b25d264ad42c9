// The files the builder reads: each source once, as it was when opened,
// and the manifest, the icon and a --stub whole, up to a cap.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "setup/remover/sha256.h"

namespace vorn::pack {

// A file that is not what it was when checked, or is too large to take; the
// message names the file.
class ESourceError : public EVornError {
public:
    using EVornError::EVornError;
};

// Takes what is written, in order, into a size and a digest, and hands it
// on to `copy` where one is given.
class TDigestStream : public TNullStream {
public:
    explicit TDigestStream(TStream* copy = nullptr) : copy_(copy) {}
    void Write(const void* buffer, size_t n) override {
        sha_.Add(static_cast<const uint8_t*>(buffer), n);
        if (copy_) copy_->Write(buffer, n);
        TNullStream::Write(buffer, n);
    }
    // SHA-256 of what was written, as the uninstall record spells it; once only.
    std::string Digest() { return setup::DigestText(sha_.Finish()); }

private:
    setup::TSha256 sha_;
    TStream* copy_;
};

// What a source installs: its size and SHA-256, from the bytes the build took.
struct TInstalledBytes {
    int64_t size = 0;
    std::string digest;
};

// A regular file opened for one build: without blocking, so that a pipe
// put in its place cannot stop the build, and judged on the open handle.
// It reads as the size it had when opened, and keeps the digest of the
// last pass that read it from its start to its end.
class TSourceFile : public TStream {
public:
    // Raises ESourceError when path is not a regular file, EStreamError
    // when it cannot be opened.
    explicit TSourceFile(const std::filesystem::path& path);

    int64_t Position() const override { return file_->Position(); }
    int64_t Size() const override { return opened_.st_size; }
    // Raises ESourceError when the file ends before the size it had.
    size_t Read(void* buffer, size_t n) override;
    void Write(const void* buffer, size_t n) override;
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;
    void SetSize(int64_t newSize) override;

    // The size and digest of what was read, once the file has been read to
    // its end. Raises ESourceError when it was not, or when the file changed
    // (its size, modification or change time) since it was opened.
    TInstalledBytes Finish();

private:
    std::filesystem::path path_;
    int fd_;  // owned by file_
    std::unique_ptr<TFileStream> file_;
    struct stat opened_ {};
    std::unique_ptr<setup::TSha256> sha_ = std::make_unique<setup::TSha256>();
    int64_t hashed_ = 0;  // bytes from the start taken into sha_
};

// The whole of a file of at most cap bytes, refused before it is read when
// it is larger or is not a regular file (ESourceError naming it and the cap;
// EStreamError when it cannot be read). what names it in messages ("the
// icon").
std::vector<uint8_t> ReadCapped(const std::filesystem::path& path, int64_t cap, const std::string& what);

// "1 MiB" for a cap.
std::string CapText(int64_t cap);

}  // namespace vorn::pack
