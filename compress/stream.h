// The one stream abstraction used by the component, the installer and the
// tools: position, size, read (returns the count), write (all or throw),
// seek (absolute or from the end), copy from another stream, set-size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

enum class SeekOrigin { Begin, End };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    virtual int64_t Position() const = 0;
    virtual int64_t Size() const = 0;
    // Reads up to n bytes; returns how many were read, 0 at the end.
    virtual size_t Read(void* buffer, size_t n) = 0;
    // Writes all n bytes or raises EStreamError.
    virtual void Write(const void* buffer, size_t n) = 0;
    virtual void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) = 0;
    // Cuts or extends the stream to newSize bytes; the position stays unless
    // it lay past the new end.
    virtual void SetSize(int64_t newSize) = 0;
    // n more bytes are coming: a stream that can make room for them at
    // once does so.
    virtual void Expect(int64_t n) { (void)n; }

    // Copies exactly n bytes from source's position to this stream's
    // position; raises EStreamError when source ends first.
    void CopyFrom(TStream& source, int64_t n);
};

// A growable byte array.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t Position() const override { return position_; }
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    size_t Read(void* buffer, size_t n) override;
    void Write(const void* buffer, size_t n) override;
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;
    void SetSize(int64_t newSize) override;
    void Expect(int64_t n) override;

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// Swallows everything written to it and counts it; reads nothing.
class TNullStream : public TStream {
public:
    int64_t Position() const override { return position_; }
    int64_t Size() const override { return size_; }
    size_t Read(void*, size_t) override { return 0; }
    void Write(const void*, size_t n) override;
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;
    void SetSize(int64_t newSize) override;

private:
    int64_t position_ = 0;
    int64_t size_ = 0;
};

enum class FileMode {
    OpenRead,  // read-only, sharing that denies nothing to others
    Create,    // read-write; an existing file is truncated
};

enum class Ownership { Owned, Borrowed };

// A file on disk: POSIX or Win32 underneath, the same class above.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, FileMode mode);
    // Adopts an open descriptor (a Win32 handle) of any kind, pipes and
    // devices included, from its current position; path names it in
    // messages. An owned one is closed with the stream.
    TFileStream(intptr_t handle, std::string path, Ownership ownership);
    ~TFileStream() override;

    int64_t Position() const override;
    int64_t Size() const override;
    size_t Read(void* buffer, size_t n) override;
    void Write(const void* buffer, size_t n) override;
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;
    void SetSize(int64_t newSize) override;

    const std::string& Path() const { return path_; }

private:
    [[noreturn]] void Fail(const char* what) const;

    std::string path_;
    intptr_t handle_;
    bool owned_ = true;
    // On POSIX the position is counted rather than asked of the system, and
    // so is the size of what is not a regular file, so that pipes and
    // devices have both.
    int64_t position_ = 0;
    int64_t written_ = 0;
};

}  // namespace vorn
