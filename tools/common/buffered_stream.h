// A stream that gathers the engine's 8 KB reads and writes into large ones
// on the stream below it: a file expanded or compressed by a tool then costs
// a few dozen system calls instead of a thousand.
#pragma once

#include <memory>

#include "compress/stream.h"

namespace vorn::tools {

class TBufferedStream : public TStream {
public:
    static constexpr size_t kDefaultCapacity = 256 * 1024;

    explicit TBufferedStream(TStream& inner, size_t capacity = kDefaultCapacity);

    int64_t Position() const override;
    int64_t Size() const override;
    size_t Read(void* buffer, size_t n) override;
    void Write(const void* buffer, size_t n) override;
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;
    void SetSize(int64_t newSize) override;

    // Hands the bytes written so far to the stream below. Must be called
    // before that stream is closed: the destructor drops what is pending,
    // since it could not report a failed write.
    void Flush();

private:
    // Puts the stream below at this stream's position: writes what is
    // pending, or steps back over what was read ahead.
    void Settle();

    TStream& inner_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_;
    size_t pending_ = 0;  // bytes written, not yet passed on
    size_t readPos_ = 0;  // read-ahead: buffer_[readPos_, readEnd_)
    size_t readEnd_ = 0;
};

}  // namespace vorn::tools
