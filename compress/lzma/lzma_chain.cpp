// The chain writer: liblzma's raw LZMA2 encoder, one per group, fed each
// file (through our own x86 converter, so that each link's filter starts at
// its own position 0) and flushed at its end; what came out since the last
// flush is the file's link.
#include "compress/lzma/lzma_chain.h"

#include <algorithm>
#include <array>
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
constexpr size_t kHeldBack = 4;  // the most the converter holds back for the next call

std::array<lzma_filter, 2> Lzma2(lzma_options_lzma& options) {
    return {{{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}}};
}

}  // namespace

struct TChainEncoder::TState {
    explicit TState(lzma_options_lzma chosen) : options(chosen), encoder(Lzma2(options).data()) {}

    lzma_options_lzma options;
    TRawEncoder encoder;
    uint32_t offset = 0;  // bytes fed before the next link, modulo 2^32
    bool broken = false;  // by a cancel, in the middle of a link
    std::vector<uint8_t> in = std::vector<uint8_t>(kChunkSize + kHeldBack);
    std::vector<uint8_t> out = std::vector<uint8_t>(kChunkSize);
};

namespace {

// One link's pass: the file read in chunks, summed as read, converted,
// and fed to the encoder, whose output goes straight to dest.
class TLinkPass {
public:
    TLinkPass(TVornCodec& codec, TStream& dest, TStream& source, int32_t size, lzma_stream& stream,
              std::vector<uint8_t>& in, std::vector<uint8_t>& out)
        : codec_(codec), dest_(dest), source_(source), size_(size), stream_(stream), in_(in), out_(out) {}

    // False when a cancel came.
    bool Run(LzmaFilter filter) {
        TX86Encoder converter;
        size_t held = 0;
        while (read_ < size_) {
            const size_t total = held + ReadChunk(held);
            if (Cancelled()) return false;
            size_t ready = filter == LzmaFilter::X86 ? converter.Convert(in_.data(), total) : total;
            if (read_ == size_) ready = total;  // the last few bytes stay as they are
            Feed(in_.data(), ready, LZMA_RUN);
            held = total - ready;
            std::memmove(in_.data(), in_.data() + ready, held);
        }
        Feed(nullptr, 0, LZMA_SYNC_FLUSH);
        return true;
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

    bool Cancelled() {
        if (!codec_.OnShowProgress) return false;
        int32_t percent = PercentDone(read_, size_);
        codec_.OnShowProgress(percent);
        return percent == -1;
    }

    // Runs the encoder over data until it took all of it (LZMA_RUN) or
    // finished the flush (LZMA_SYNC_FLUSH), writing all it made.
    void Feed(const uint8_t* data, size_t n, lzma_action action) {
        if (n == 0 && action == LZMA_RUN) return;  // a call without progress would be an error
        stream_.next_in = data;
        stream_.avail_in = n;
        for (;;) {
            stream_.next_out = out_.data();
            stream_.avail_out = out_.size();
            const lzma_ret code = lzma_code(&stream_, action);
            CheckLzma(code);
            dest_.Write(out_.data(), out_.size() - stream_.avail_out);
            const bool done = action == LZMA_SYNC_FLUSH ? code == LZMA_STREAM_END
                                                        : stream_.avail_in == 0 && stream_.avail_out != 0;
            if (done) return;
        }
    }

    TVornCodec& codec_;
    TStream& dest_;
    TStream& source_;
    const int32_t size_;
    lzma_stream& stream_;
    std::vector<uint8_t>& in_;
    std::vector<uint8_t>& out_;
    int32_t read_ = 0;
    uint32_t byteSum_ = 0;
    uint32_t crc32_ = 0;
};

}  // namespace

TChainEncoder::TChainEncoder(int level, int64_t groupSize)
    : state_(std::make_unique<TState>(LevelOptions(level, groupSize))) {}

TChainEncoder::~TChainEncoder() = default;

TCompressResult TChainEncoder::AddLink(TVornCodec& codec, TStream& dest, TStream& source) {
    if (codec.Key != 0) throw EVornError(kKeyRefusedMessage);
    if (state_->broken) throw EVornError("A cancelled chain takes no further links");
    const int64_t destStart = dest.Position();
    const int32_t size = SizeToCompress(source);
    if (size == 0) throw EVornError("An empty file cannot be a link of a chain");

    TLzmaHead head = HeadFor(state_->options, FilterSuitedTo(source), 0);
    head.Chained = true;
    head.ChainOffset = state_->offset;
    const std::vector<uint8_t> placeholder(kHeaderSize + kChainedHeadSize);
    dest.Write(placeholder.data(), placeholder.size());
    TLinkPass pass(codec, dest, source, size, state_->encoder.Stream(), state_->in, state_->out);
    if (!pass.Run(head.Filter)) {
        state_->broken = true;
        dest.Seek(destStart);
        dest.SetSize(destStart);
        throw EOperationCancelled();
    }
    head.Crc32 = pass.Crc32();
    const std::vector<uint8_t> opening = StreamOpening(head, size, pass.ByteSum());
    const int64_t end = dest.Position();
    dest.Seek(destStart);
    dest.Write(opening.data(), opening.size());
    dest.Seek(end);
    state_->offset += static_cast<uint32_t>(size);
    return {kMethodCustom, end - destStart, pass.ByteSum()};
}

}  // namespace vorn::lzma
