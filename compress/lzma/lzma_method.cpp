#include "compress/lzma/lzma_method.h"

#include <algorithm>
#include <utility>

#include "compress/lzma/lzma_expand.h"
#include "compress/lzma/lzma_format.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

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
            checksum = static_cast<int32_t>(codec.ExpandWithEngine(dest, source, sourceSize, destSize, LzmaExpand));
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
