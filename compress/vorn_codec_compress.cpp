// TVornCodec's compress side. It lives with the compressors, so that a
// program that only expands links neither this nor them.
#include <algorithm>
#include <string>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace vorn {

int32_t TVornCodec::RunCodec(TStream& dest, TStream& source, int32_t sourceSize,
                             int32_t uncompressedSize, uint8_t method, uint32_t& checksum,
                             Direction direction, Scrambling scrambling) {
    if (direction == Direction::Expand)
        return RunExpander(dest, source, sourceSize, uncompressedSize, method, checksum,
                           scrambling);
    return RunCodecWithBudget(dest, source, sourceSize, uncompressedSize, CompressorFor(method),
                              checksum, direction, scrambling,
                              int64_t{sourceSize} - HeaderAllowance);
}

TCompressResult TVornCodec::CompressStream(TStream& dest, TStream& source, uint8_t method) {
    if (!CompressorFor(method))
        throw EVornError(std::string("No built-in compressor for method \"") +
                         (method < CompressionIDs.size() ? CompressionIDs[method] : "?") + "\"");
    const int64_t sourceStart = source.Position();
    const int64_t destStart = dest.Position();
    const int64_t size64 = source.Size() - sourceStart;
    if (size64 > kMaxStreamSize)
        throw EVornError("Cannot compress more than 2,147,483,647 bytes into one stream");
    const int32_t size = static_cast<int32_t>(std::max<int64_t>(size64, 0));
    // A header with no codec data is 21 bytes, which a reader takes for
    // headerless data: the stream of nothing is written as nothing.
    if (size == 0) return {kMethodStored, 0, 0};

    TVornHeader header;
    header.UncompressedSize = size;
    header.LockLevel = Key != 0 ? 2 : 0;
    dest.Write(header.Encode().data(), kHeaderSize);

    // A cancel from the progress handler must not leave a stream whose
    // header promises data it does not hold.
    bool cancelled = false;
    TShowProgressEvent callerHandler = OnShowProgress;
    if (callerHandler)
        OnShowProgress = [&](int32_t& percent) {
            callerHandler(percent);
            if (percent == -1) cancelled = true;
        };
    struct Restore {
        TShowProgressEvent& slot;
        TShowProgressEvent saved;
        ~Restore() { slot = std::move(saved); }
    } restore{OnShowProgress, callerHandler};

    uint32_t checksum = 0;
    int32_t written = 0;
    try {
        written = RunCodec(dest, source, size, size, method, checksum, Direction::Compress,
                           Scrambling::On);
    } catch (const EUnableToCompress&) {
        // Store instead. The attempt wrote at most as many bytes as the
        // stored copy does, unless HeaderAllowance is negative: cut the rest.
        const int64_t reached = dest.Position();
        method = kMethodStored;
        source.Seek(sourceStart);
        dest.Seek(destStart + kHeaderSize);
        written = RunCodecWithBudget(dest, source, size, size, CompressorFor(kMethodStored),
                                     checksum, Direction::Compress, Scrambling::On, kMaxStreamSize);
        if (dest.Position() < reached) dest.SetSize(dest.Position());
    }
    if (cancelled) {
        dest.Seek(destStart);
        dest.SetSize(destStart);
        throw EOperationCancelled();
    }

    const int64_t dataEnd = dest.Position();
    std::copy_n(CompressionIDs[method], 3, header.CompressID.begin());
    header.Checksum = checksum + static_cast<uint32_t>(Key);
    dest.Seek(destStart);
    dest.Write(header.Encode().data(), kHeaderSize);
    dest.Seek(dataEnd);
    return {method, kHeaderSize + int64_t{written}, header.Checksum};
}

}  // namespace vorn
