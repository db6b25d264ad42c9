// The stub-rewriting path over arbitrary files: vornpack's stub checks, then
// the execution level and the resource rebuild with an icon and version
// information, as a build does it for a --stub (checked first) and for its
// carried stub (not checked). A rebuilt image must read back with its
// level, icon and version, and a sound section layout must stay sound;
// anything else must be a refusal. (Whatever follows the image moves with
// it, so a stub's other checks, such as no package behind it, may change.)
#include <cstdint>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "tools/vornpack/pe/resource_section.h"
#include "tools/vornpack/pe/stub_image.h"
#include "tools/vornpack/pe/stub_rewrite.h"

namespace {

vorn::pack::TManifest FaceManifest() {
    vorn::pack::TManifest manifest;
    manifest.icon = {{.entry = {16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0}, .data = {0xAA, 0xBB, 0xCC, 0xDD}}};
    manifest.version = vorn::pack::TVersionInfo{
        .fileVersion = {1, 2, 3, 4}, .productVersion = {1, 2, 3, 4}, .strings = {{"CompanyName", "Ex"}}};
    return manifest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    for (const vorn::pack::TArchitecture* arch : vorn::pack::kArchitectures)
        vorn::pack::StubProblem(image, *arch);  // under the sanitizers too; the rebuild is tried either way
    const auto layoutSound = [&] { return vorn::pack::SectionLayoutProblem(vorn::pack::ReadPeLayout(image), image.size()).empty(); };
    const bool wasSound = layoutSound();
    try {
        vorn::pack::SetElevation(image, vorn::pack::Elevation::User);
        vorn::pack::ApplyFace(FaceManifest(), image);
    } catch (const vorn::EVornError&) {
        return 0;
    }
    if (!vorn::pack::ElevationSlotAt(image)) __builtin_trap();
    vorn::TMemoryStream stream(image);
    const vorn::pack::TInstallerFace face = vorn::pack::ReadFace(stream);
    if (!face.problem.empty() || face.iconSizes.size() != 1 || !face.version) __builtin_trap();
    if (wasSound && !layoutSound()) __builtin_trap();
    return 0;
}
