// The "LZM" writer: liblzma's raw LZMA1 encoder (with its x86 branch
// filter ahead of it when asked) fed in chunks, with the VORN header and
// the head completed once the data is done.
#include "compress/lzma/lzma_compress.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <vector>

#include "compress/byte_order.h"
#include "compress/codec_state.h"
#include "compress/exceptions.h"
#include "compress/lzma/lzma_encoder.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

namespace {

constexpr size_t kChunkSize = 64 << 10;

// The encoder of a lone stream: LZMA1, with the x86 filter ahead of it when asked.
class RawEncoder : public TRawEncoder {
public:
    RawEncoder(const TLzmaSettings& settings, lzma_options_lzma& options)
        : TRawEncoder(Filters(settings, options).data()) {}

private:
    static std::array<lzma_filter, 3> Filters(const TLzmaSettings& settings, lzma_options_lzma& options) {
        std::array<lzma_filter, 3> filters{};
        size_t n = 0;
        if (settings.Filter == LzmaFilter::X86) filters[n++] = {LZMA_FILTER_X86, nullptr};
        filters[n++] = {LZMA_FILTER_LZMA1, &options};
        filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
        return filters;
    }
};

// One pass over the source: what the LZMA data came to, or nothing when it
// outgrew the budget (the stream is then stored) or a cancel came.
struct PassResult {
    enum { Done, OverBudget, Cancelled } outcome = Done;
    uint32_t byteSum = 0;
    uint32_t crc32 = 0;
};

class EncodingPass {
public:
    EncodingPass(TVornCodec& codec, TStream& dest, TStream& source, int32_t size, int64_t budget)
        : codec_(codec), dest_(dest), source_(source), size_(size), budget_(budget),
          in_(kChunkSize), out_(kChunkSize) {}

    PassResult Run(RawEncoder& encoder) {
        lzma_stream& s = encoder.Stream();
        s.next_out = out_.data();
        s.avail_out = out_.size();
        lzma_action action = LZMA_RUN;
        for (;;) {
            if (s.avail_in == 0 && action == LZMA_RUN) {
                if (!ReadChunk(s)) action = LZMA_FINISH;
                if (result_.outcome == PassResult::Cancelled) return result_;
            }
            const lzma_ret code = lzma_code(&s, action);
            CheckLzma(code);
            if (s.avail_out == 0 || code == LZMA_STREAM_END) {
                if (!Flush(s)) return {PassResult::OverBudget};
            }
            if (code == LZMA_STREAM_END) return result_;
        }
    }

private:
    // False at the end of the data.
    bool ReadChunk(lzma_stream& s) {
        if (read_ == size_) return false;
        const size_t want = std::min<size_t>(in_.size(), static_cast<size_t>(size_ - read_));
        const size_t n = source_.Read(in_.data(), want);
        if (n == 0) throw EStreamError("The source ended before its size while compressing");
        read_ += static_cast<int32_t>(n);
        for (size_t i = 0; i < n; ++i) result_.byteSum += in_[i];
        result_.crc32 = lzma_crc32(in_.data(), n, result_.crc32);
        s.next_in = in_.data();
        s.avail_in = n;
        ReportProgress();
        return true;
    }

    void ReportProgress() {
        if (!codec_.OnShowProgress) return;
        int32_t percent = PercentDone(read_, size_);
        codec_.OnShowProgress(percent);
        if (percent == -1) result_.outcome = PassResult::Cancelled;
    }

    // Writes what the encoder made; false once it passes the budget.
    bool Flush(lzma_stream& s) {
        const size_t n = out_.size() - s.avail_out;
        written_ += static_cast<int64_t>(n);
        if (written_ > budget_) return false;
        dest_.Write(out_.data(), n);
        s.next_out = out_.data();
        s.avail_out = out_.size();
        return true;
    }

    TVornCodec& codec_;
    TStream& dest_;
    TStream& source_;
    const int32_t size_;
    const int64_t budget_;  // for the LZMA data alone
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    int32_t read_ = 0;
    int64_t written_ = 0;
    PassResult result_;
};

void WriteHeaders(TStream& dest, int64_t destStart, int32_t size, uint32_t byteSum, const TLzmaHead& head) {
    const auto opening = StreamOpening(head, size, byteSum);
    const int64_t end = dest.Position();
    dest.Seek(destStart);
    dest.Write(opening.data(), opening.size());
    dest.Seek(end);
}

// Machine numbers of x86 code in PE and in ELF headers.
constexpr uint16_t kPeI386 = 0x014C, kPeAmd64 = 0x8664;
constexpr uint16_t kElf386 = 3, kElfX86_64 = 62;
constexpr int kPeHeaderOffsetField = 0x3C;
constexpr int kElfMachineField = 18;

// Up to n bytes at offset from start; fewer at the end of the data.
size_t ReadAt(TStream& source, int64_t start, int64_t offset, uint8_t* bytes, size_t n) {
    source.Seek(start + offset);
    return source.Read(bytes, n);
}

bool IsX86Program(TStream& source, int64_t start) {
    uint8_t head[64] = {};
    const size_t n = ReadAt(source, start, 0, head, sizeof head);
    if (n == sizeof head && head[0] == 'M' && head[1] == 'Z') {
        const uint32_t peOffset = LoadLe32(&head[kPeHeaderOffsetField]);
        uint8_t pe[6] = {};
        if (ReadAt(source, start, peOffset, pe, sizeof pe) != sizeof pe || pe[0] != 'P' || pe[1] != 'E' || pe[2] ||
            pe[3])
            return false;
        const uint16_t machine = LoadLe16(&pe[4]);
        return machine == kPeI386 || machine == kPeAmd64;
    }
    if (n >= kElfMachineField + 2 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
        const uint16_t machine = LoadLe16(&head[kElfMachineField]);
        return machine == kElf386 || machine == kElfX86_64;
    }
    return false;
}

}  // namespace

lzma_options_lzma LevelOptions(int level, int64_t size) {
    if (level < kMinLevel || level > kMaxLevel)
        throw EVornError("LZMA level " + std::to_string(level) + " is not between 0 and 9");
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, static_cast<uint32_t>(level)))
        throw EVornError("liblzma has no preset " + std::to_string(level));
    const uint64_t fits = std::bit_ceil(static_cast<uint64_t>(std::max<int64_t>(size, 1)));
    options.dict_size = static_cast<uint32_t>(
        std::min<uint64_t>(options.dict_size, std::max<uint64_t>(fits, LZMA_DICT_SIZE_MIN)));
    return options;
}

TLzmaHead HeadFor(const lzma_options_lzma& options, LzmaFilter filter, uint32_t crc32) {
    TLzmaHead head;
    head.Lc = static_cast<uint8_t>(options.lc);
    head.Lp = static_cast<uint8_t>(options.lp);
    head.Pb = static_cast<uint8_t>(options.pb);
    head.DictionarySize = options.dict_size;
    head.Filter = filter;
    head.Crc32 = crc32;
    return head;
}

LzmaFilter FilterSuitedTo(TStream& source) {
    const int64_t start = source.Position();
    const bool program = IsX86Program(source, start);
    source.Seek(start);
    return program ? LzmaFilter::X86 : LzmaFilter::None;
}

TCompressResult CompressLzmaStream(TVornCodec& codec, TStream& dest, TStream& source,
                                   const TLzmaSettings& settings) {
    if (codec.Key != 0) throw EVornError(kKeyRefusedMessage);
    const int64_t sourceStart = source.Position();
    const int64_t destStart = dest.Position();
    const int32_t size = SizeToCompress(source);
    if (size == 0) return {kMethodStored, 0, 0};

    lzma_options_lzma options = LevelOptions(settings.Level, size);
    RawEncoder encoder(settings, options);
    const uint8_t placeholder[kHeaderSize + kHeadSize] = {};
    dest.Write(placeholder, sizeof placeholder);
    const int64_t budget = int64_t{size} - codec.HeaderAllowance - kHeadSize;
    const PassResult pass = EncodingPass(codec, dest, source, size, budget).Run(encoder);

    if (pass.outcome == PassResult::Cancelled) {
        dest.Seek(destStart);
        dest.SetSize(destStart);
        throw EOperationCancelled();
    }
    if (pass.outcome == PassResult::OverBudget) {
        // Stored instead, over the attempt, with nothing of it left behind.
        const int64_t reached = dest.Position();
        source.Seek(sourceStart);
        dest.Seek(destStart);
        const TCompressResult stored = codec.CompressStream(dest, source, kMethodStored);
        if (dest.Position() < reached) dest.SetSize(dest.Position());
        return stored;
    }
    const TLzmaHead head = HeadFor(options, settings.Filter, pass.crc32);
    WriteHeaders(dest, destStart, size, pass.byteSum, head);
    return {kMethodCustom, dest.Position() - destStart, pass.byteSum};
}

}  // namespace vorn::lzma
