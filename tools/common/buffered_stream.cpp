#include "tools/common/buffered_stream.h"

#include <algorithm>
#include <cstring>

namespace vorn::tools {

TBufferedStream::TBufferedStream(TStream& inner, size_t capacity)
    : inner_(inner), buffer_(std::make_unique_for_overwrite<uint8_t[]>(capacity)), capacity_(capacity) {}

int64_t TBufferedStream::Position() const {
    return inner_.Position() + static_cast<int64_t>(pending_) - static_cast<int64_t>(readEnd_ - readPos_);
}

int64_t TBufferedStream::Size() const {
    if (pending_ == 0) return inner_.Size();
    return std::max(inner_.Size(), Position());
}

size_t TBufferedStream::Read(void* buffer, size_t n) {
    if (n == 0) return 0;
    if (pending_ > 0) Flush();
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        if (readPos_ == readEnd_) {
            if (n - done >= capacity_) return done + inner_.Read(out + done, n - done);
            readPos_ = 0;
            readEnd_ = inner_.Read(buffer_.get(), capacity_);
            if (readEnd_ == 0) break;
        }
        const size_t take = std::min(n - done, readEnd_ - readPos_);
        std::memcpy(out + done, buffer_.get() + readPos_, take);
        readPos_ += take;
        done += take;
    }
    return done;
}

void TBufferedStream::Write(const void* buffer, size_t n) {
    if (n == 0) return;
    if (readPos_ != readEnd_) Settle();
    if (pending_ + n > capacity_) Flush();
    if (n >= capacity_) {
        inner_.Write(buffer, n);
        return;
    }
    std::memcpy(buffer_.get() + pending_, buffer, n);
    pending_ += n;
}

void TBufferedStream::Flush() {
    if (pending_ == 0) return;
    const size_t n = pending_;
    pending_ = 0;  // cleared first: bytes whose write failed are not offered again
    inner_.Write(buffer_.get(), n);
}

void TBufferedStream::Settle() {
    Flush();
    if (readPos_ != readEnd_) inner_.Seek(Position());
    readPos_ = readEnd_ = 0;
}

void TBufferedStream::Seek(int64_t offset, SeekOrigin origin) {
    Settle();
    inner_.Seek(offset, origin);
}

void TBufferedStream::SetSize(int64_t newSize) {
    Settle();
    inner_.SetSize(newSize);
}

}  // namespace vorn::tools
