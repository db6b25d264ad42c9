#include "compress/stream.h"

#include <algorithm>
#include <cstring>

#include "compress/exceptions.h"

namespace vorn {

void TStream::CopyFrom(TStream& source, int64_t n) {
    uint8_t block[65536];
    while (n > 0) {
        size_t want = static_cast<size_t>(std::min<int64_t>(n, sizeof block));
        size_t got = source.Read(block, want);
        if (got == 0) throw EStreamError("Stream read error: the source ended early");
        Write(block, got);
        n -= static_cast<int64_t>(got);
    }
}

size_t TMemoryStream::Read(void* buffer, size_t n) {
    if (n == 0 || position_ >= Size()) return 0;  // a 0-byte read may come with no buffer
    size_t count = std::min(n, static_cast<size_t>(Size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += static_cast<int64_t>(count);
    return count;
}

void TMemoryStream::Write(const void* buffer, size_t n) {
    if (n == 0) return;
    size_t end = static_cast<size_t>(position_) + n;
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, n);
    position_ = static_cast<int64_t>(end);
}

void TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t target = origin == SeekOrigin::Begin ? offset : Size() + offset;
    if (target < 0) throw EStreamError("Stream seek error: position before the start");
    position_ = target;
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EStreamError("Stream size error: negative size");
    bytes_.resize(static_cast<size_t>(newSize));
    position_ = std::min(position_, newSize);
}

// Grown once, whole: the expansion's writes then fill it in place.
void TMemoryStream::Expect(int64_t n) { SetSize(Size() + n); }

void TNullStream::Write(const void*, size_t n) {
    position_ += static_cast<int64_t>(n);
    size_ = std::max(size_, position_);
}

void TNullStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t target = origin == SeekOrigin::Begin ? offset : size_ + offset;
    if (target < 0) throw EStreamError("Stream seek error: position before the start");
    position_ = target;
}

void TNullStream::SetSize(int64_t newSize) {
    size_ = newSize;
    position_ = std::min(position_, newSize);
}

}  // namespace vorn
