#include "tools/common/method_writer.h"

#include "compress/lzma/lzma_compress.h"

namespace vorn::tools {

std::vector<std::string> WritableMethodNames() {
    std::vector<std::string> names;
    for (const TMethodIdentity& method : kMethodTable)
        if (method.Compresses) names.emplace_back(method.Name);
    return names;
}

TCompressResult CompressWith(TVornCodec& codec, TStream& dest, TStream& source, const TMethodIdentity& method,
                             int level) {
    if (method.Index != kMethodCustom) return codec.CompressStream(dest, source, method.Index);
    const lzma::TLzmaSettings settings{.Level = level, .Filter = lzma::FilterSuitedTo(source)};
    return lzma::CompressLzmaStream(codec, dest, source, settings);
}

}  // namespace vorn::tools
