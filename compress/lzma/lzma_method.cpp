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

// Why the expander stopped a run; None when it did not, or when only the
// check failed, which the codec reports as a bad checksum.
LzmaFault FaultOf(const TCodecState& s) {
    if (s.Lzma.Fault != LzmaFault::None)
        return s.Lzma.Fault == LzmaFault::CrcDiffers ? LzmaFault::None : s.Lzma.Fault;
    if (s.ReadPastEnd) return LzmaFault::DataCutShort;
    if (s.Damaged) return LzmaFault::DataDamaged;
    if (s.DataLeft) return LzmaFault::DataLeftOver;
    return LzmaFault::None;
}

// Expands through the engine and gives the byte sum; raises EDamagedStream
// with its words when the data are damaged in a way the expander can name.
int32_t ExpandOrExplain(TVornCodec& codec, TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize) {
    TCodecState& s = EngineOf(codec);
    s.Lzma.Fault = LzmaFault::None;
    const uint32_t sum = codec.ExpandWithEngine(dest, source, sourceSize, destSize, LzmaExpand);
    // Where the build has no words (the installer), the engine's own verdict stands.
    if (const char* words = LzmaFaultWords(FaultOf(s))) throw EDamagedStream(words);
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

void SetSeed(TVornCodec& codec, TStream& installer) { EngineOf(codec).Lzma.SeedSource = &installer; }

void PassOver(TVornCodec& codec, TStream& source) {
    const int64_t start = source.Position();
    uint8_t bytes[kHeaderSize];
    const bool read = source.Read(bytes, sizeof bytes) == sizeof bytes;
    const TVornHeader header = TVornHeader::Decode(bytes);
    const bool lzm = read && header.HasMagic() &&
                     std::equal(header.CompressID.begin(), header.CompressID.end(), kMethodId);
    const std::optional<TLzmaHead> head = lzm ? PeekLzmaHead(source) : std::nullopt;
    source.Seek(start);
    if (!head || !head->Chained) return;
    TNullStream nothing;
    try {
        codec.ExpandStream(nothing, source);
    } catch (...) {  // the next link then refuses by itself
    }
}

}  // namespace vorn::lzma
