// TVornCodec's compress side. It lives with the compressors, so that a
// program that only expands links neither this nor them.
#include <algorithm>
#include <string>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace vorn {

int32_t SizeToCompress(TStream& source) {
    const int64_t size = source.Size() - source.Position();
    if (size > kMaxStreamSize) throw EVornError("Cannot compress more than 2,147,483,647 bytes into one stream");
    return static_cast<int32_t>(std::max<int64_t>(size, 0));
}

namespace {

// Lets a compressing run know whether the caller's progress handler asked
// to stop, and puts the handler back when it goes: a cancel must not leave
// a stream whose header promises data it does not hold.
class TCancelWatch {
public:
    explicit TCancelWatch(TShowProgressEvent& slot) : slot_(slot), caller_(slot) {
        if (caller_)
            slot_ = [this](int32_t& percent) {
                caller_(percent);
                if (percent == -1) cancelled_ = true;
            };
    }
    ~TCancelWatch() { slot_ = std::move(caller_); }
    TCancelWatch(const TCancelWatch&) = delete;
    TCancelWatch& operator=(const TCancelWatch&) = delete;

    bool Cancelled() const { return cancelled_; }

private:
    TShowProgressEvent& slot_;
    TShowProgressEvent caller_;
    bool cancelled_ = false;
};

}  // namespace

int32_t TVornCodec::RunCodec(TStream& dest, TStream& source, int32_t sourceSize,
                             int32_t uncompressedSize, uint8_t method, uint32_t& checksum,
                             Direction direction, Scrambling scrambling) {
    TCodecRun run{dest, source, sourceSize, uncompressedSize, ExpanderFor(method), direction, scrambling};
    if (direction == Direction::Compress) {
        run.Codec = CompressorFor(method);
        run.OutputBudget = int64_t{sourceSize} - HeaderAllowance;
    }
    const TCodecResult result = Run(run);
    if (!result.CancelledAtStart) checksum = result.Checksum;
    return result.Written;
}

TCompressResult TVornCodec::CompressStream(TStream& dest, TStream& source, uint8_t method) {
    if (!CompressorFor(method))
        throw EVornError(std::string("No built-in compressor for method \"") +
                         (method < CompressionIDs.size() ? CompressionIDs[method] : "?") + "\"");
    const int64_t sourceStart = source.Position();
    const int64_t destStart = dest.Position();
    const int32_t size = SizeToCompress(source);
    // A header with no codec data is 21 bytes, which a reader takes for
    // headerless data: the stream of nothing is written as nothing.
    if (size == 0) return {kMethodStored, 0, 0};

    TVornHeader header;
    header.UncompressedSize = size;
    header.LockLevel = Key != 0 ? 2 : 0;
    dest.Write(header.Encode().data(), kHeaderSize);

    TCodecResult result;
    {
        TCancelWatch watch(OnShowProgress);
        try {
            result = Run({dest, source, size, size, CompressorFor(method), Direction::Compress, Scrambling::On,
                          int64_t{size} - HeaderAllowance});
        } catch (const EUnableToCompress&) {
            method = kMethodStored;
            result = StoreInstead(dest, source, sourceStart, destStart, size);
        }
        if (watch.Cancelled()) {
            dest.Seek(destStart);
            dest.SetSize(destStart);
            throw EOperationCancelled();
        }
    }

    const int64_t dataEnd = dest.Position();
    std::copy_n(CompressionIDs[method], 3, header.CompressID.begin());
    header.Checksum = result.Checksum + static_cast<uint32_t>(Key);
    dest.Seek(destStart);
    dest.Write(header.Encode().data(), kHeaderSize);
    dest.Seek(dataEnd);
    return {method, kHeaderSize + int64_t{result.Written}, header.Checksum};
}

// The attempt wrote at most as many bytes as the stored copy does, unless
// HeaderAllowance is negative: the copy goes over it and the rest is cut.
TCodecResult TVornCodec::StoreInstead(TStream& dest, TStream& source, int64_t sourceStart,
                                      int64_t destStart, int32_t size) {
    const int64_t reached = dest.Position();
    source.Seek(sourceStart);
    dest.Seek(destStart + kHeaderSize);
    const TCodecResult result = Run({dest, source, size, size, CompressorFor(kMethodStored), Direction::Compress,
                                     Scrambling::On, kMaxStreamSize});
    if (dest.Position() < reached) dest.SetSize(dest.Position());
    return result;
}

}  // namespace vorn
