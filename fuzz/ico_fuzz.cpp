// The .ico reader over arbitrary files: the images come back, or a refusal.
// Images never share bytes, so together they are never larger than the
// file, and the icon group lists each of them.
#include <cstdint>
#include <vector>

#include "tools/vornpack/pe/icon_and_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const std::vector<vorn::pack::TIconImage> images = vorn::pack::ReadIconFile(std::vector<uint8_t>(data, data + size));
        size_t total = 0;
        for (const vorn::pack::TIconImage& image : images) total += image.data.size();
        if (total > size) __builtin_trap();
        const std::vector<vorn::pack::TResource> resources = vorn::pack::IconResources(images);
        if (vorn::pack::IconGroupSizes(resources.back().data).size() != images.size()) __builtin_trap();
    } catch (const vorn::pack::EFaceError&) {
    }
    return 0;
}
