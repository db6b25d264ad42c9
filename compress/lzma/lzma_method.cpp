#include "compress/lzma/lzma_method.h"

#include <algorithm>
#include <utility>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/lzma/lzma_expand.h"
#include "compress/lzma/lzma_format.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

namespace {

// The words for a run the expander stopped; nullptr when it did not, or
// when only the check failed, which the codec reports as a bad checksum.
const char* FaultOf(const TCodecState& s) {
    if (s.Lzma.Fault) return s.Lzma.Fault == kCrcDiffers ? nullptr : s.Lzma.Fault;
    if (s.ReadPastEnd) return kDataCutShort;
    if (s.Damaged) return kDataDamaged;
    if (s.DataLeft) return kDataLeftOver;
    return nullptr;
}

// Expands through the engine and gives the byte sum; raises EDamagedStream
// with its words when the data are damaged in a way the expander can name.
int32_t ExpandOrExplain(TVornCodec& codec, TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize) {
    TCodecState& s = EngineOf(codec);
    s.Lzma.Fault = nullptr;
    const uint32_t sum = codec.ExpandWithEngine(dest, source, sourceSize, destSize, LzmaExpand);
    if (const char* fault = FaultOf(s)) throw EDamagedStream(fault);
    return static_cast<int32_t>(sum);
}

}  // namespace

void UseLzmaMethod(TVornCodec& codec) {
    TRecognizeEvent earlierRecognize = std::move(codec.OnRecognize);
    codec.OnRecognize = [earlier = std::move(earlierRecognize)](const std::string& id, bool& recognized) {
        if (id == kMethodId)
            recognized = true;
        else if (earlier)
            earlier(id, recognized);
    };
    TExpandEvent earlierExpand = std::move(codec.OnExpand);
    codec.OnExpand = [&codec, earlier = std::move(earlierExpand)](
                         TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                         const std::string& id, int32_t& checksum) {
        if (id == kMethodId)
            checksum = ExpandOrExplain(codec, dest, source, sourceSize, destSize);
        else if (earlier)
            earlier(dest, source, sourceSize, destSize, id, checksum);
    };
}

bool IsChainLink(TStream& source) {
    // The installer carries this: it looks at no more than it must.
    const int64_t start = source.Position();
    uint8_t bytes[kHeaderSize + 1];
    const size_t n = source.Read(bytes, sizeof bytes);
    source.Seek(start);
    const TVornHeader header = TVornHeader::Decode(bytes);
    return n == sizeof bytes && header.HasMagic() &&
           std::equal(header.CompressID.begin(), header.CompressID.end(), kMethodId) &&
           bytes[kHeaderSize] == kChainedHeadVersion;
}

}  // namespace vorn::lzma
