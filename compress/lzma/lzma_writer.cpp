// The one pass of the LZM writers, over liblzma's raw encoder.
#include <algorithm>
#include <cstring>
#include <vector>

#include "compress/codec_state.h"
#include "compress/exceptions.h"
#include "compress/lzma/lzma_encoder.h"
#include "compress/lzma/x86_filter.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

namespace {

constexpr size_t kChunkSize = 64 << 10;

class TWriterPass {
public:
    TWriterPass(TVornCodec& codec, TStream& dest, TStream& source, int32_t size, lzma_stream& encoder,
                int64_t budget)
        : codec_(codec), dest_(dest), source_(source), size_(size), encoder_(encoder), budget_(budget) {}

    // False once the output passed the budget.
    bool Run(const TLzmaHead& head, lzma_action end) {
        const LzmaFilter filter = head.Filter;
        TX86Encoder converter(head.X86Scope());
        size_t held = 0;
        while (read_ < size_) {
            const size_t total = held + ReadChunk(held);
            ReportProgress();
            size_t ready = filter != LzmaFilter::None ? converter.Convert(in_.data(), total) : total;
            if (read_ == size_) ready = total;  // the last few bytes stay as they are
            if (!Feed(in_.data(), ready, LZMA_RUN)) return false;
            held = total - ready;
            std::memmove(in_.data(), in_.data() + ready, held);
        }
        return Feed(nullptr, 0, end);
    }

    uint32_t ByteSum() const { return byteSum_; }
    uint32_t Crc32() const { return crc32_; }

private:
    // Reads the next chunk behind the held bytes; returns its length.
    size_t ReadChunk(size_t held) {
        const size_t want = std::min<size_t>(kChunkSize, static_cast<size_t>(size_ - read_));
        uint8_t* chunk = in_.data() + held;
        const size_t n = source_.Read(chunk, want);
        if (n == 0) throw EStreamError("The source ended before its size while compressing");
        read_ += static_cast<int32_t>(n);
        for (size_t i = 0; i < n; ++i) byteSum_ += chunk[i];
        crc32_ = lzma_crc32(chunk, n, crc32_);
        return n;
    }

    void ReportProgress() {
        if (!codec_.OnShowProgress) return;
        int32_t percent = PercentDone(read_, size_);
        codec_.OnShowProgress(percent);
        if (percent == -1) throw EOperationCancelled();
    }

    // Runs the encoder over data until it took all of it (LZMA_RUN) or
    // came to the end asked for, writing what it makes; false once that
    // passes the budget.
    bool Feed(const uint8_t* data, size_t n, lzma_action action) {
        if (n == 0 && action == LZMA_RUN) return true;  // a call without progress would be an error
        encoder_.next_in = data;
        encoder_.avail_in = n;
        for (;;) {
            encoder_.next_out = out_.data();
            encoder_.avail_out = out_.size();
            const lzma_ret code = lzma_code(&encoder_, action);
            CheckLzma(code);
            const size_t made = out_.size() - encoder_.avail_out;
            written_ += static_cast<int64_t>(made);
            if (written_ > budget_) return false;
            dest_.Write(out_.data(), made);
            const bool done = action == LZMA_RUN ? encoder_.avail_in == 0 && encoder_.avail_out != 0
                                                 : code == LZMA_STREAM_END;
            if (done) return true;
        }
    }

    TVornCodec& codec_;
    TStream& dest_;
    TStream& source_;
    const int32_t size_;
    lzma_stream& encoder_;
    const int64_t budget_;  // for the LZMA data alone
    std::vector<uint8_t> in_ = std::vector<uint8_t>(kChunkSize + kX86HeldBack);
    std::vector<uint8_t> out_ = std::vector<uint8_t>(kChunkSize);
    int32_t read_ = 0;
    int64_t written_ = 0;
    uint32_t byteSum_ = 0;
    uint32_t crc32_ = 0;
};

}  // namespace

std::optional<uint32_t> WriteStream(TVornCodec& codec, TStream& dest, TStream& source, int32_t size, TLzmaHead head,
                                    lzma_stream& encoder, lzma_action end, int64_t budget) {
    const int64_t destStart = dest.Position();
    const std::vector<uint8_t> placeholder(kHeaderSize + head.Size());
    dest.Write(placeholder.data(), placeholder.size());
    TWriterPass pass(codec, dest, source, size, encoder, budget);
    try {
        if (!pass.Run(head, end)) return std::nullopt;
    } catch (const EOperationCancelled&) {
        dest.Seek(destStart);
        dest.SetSize(destStart);
        throw;
    }
    head.Crc32 = pass.Crc32();
    const std::vector<uint8_t> opening = StreamOpening(head, size, pass.ByteSum());
    const int64_t endAt = dest.Position();
    dest.Seek(destStart);
    dest.Write(opening.data(), opening.size());
    dest.Seek(endAt);
    return pass.ByteSum();
}

}  // namespace vorn::lzma
