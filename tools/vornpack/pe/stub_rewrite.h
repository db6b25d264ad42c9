// vornpack's checks and rewrites of the installer stub's PE image, and what
// a listing reads back from an installer's image: its version information
// and its icon.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compress/stream.h"
#include "tools/vornpack/pe/icon_and_version.h"
#include "tools/vornpack/manifest/manifest.h"

namespace vorn::pack {

// Why a --stub cannot be the installer's program, or empty: it must be a
// GUI program of the architecture (PE32 for x86, PE32+ for x64), unsigned,
// with no SectionLayoutProblem, its execution-level slot inside its
// resources, and no package behind it.
std::string StubProblem(const std::vector<uint8_t>& stub, const TArchitecture& arch);

// Rebuilds the stub's resources with the manifest's icon and version
// information; leaves the stub untouched when the manifest has neither.
// Raises EPeImageError when its resources cannot be rebuilt, or when the
// rebuild would lose its execution level.
void ApplyFace(const TManifest& manifest, std::vector<uint8_t>& stub);

// Adds the [install] settings resource that the options stub reads; leaves
// the stub untouched when the manifest sets no [install] key.
void ApplyInstallSettings(const TManifest& manifest, std::vector<uint8_t>& stub);

struct TInstallerFace {
    std::optional<TVersionInfo> version;
    std::vector<std::pair<int, int>> iconSizes;  // empty: no icon
    std::optional<std::string> settings;         // the [install] settings resource's bytes, if any
    std::string problem;                         // why the resources could not be read, if they could not
};

// Reads the face from the installer's PE image (never from what follows it);
// an image whose resources cannot be read shows none and says why.
TInstallerFace ReadFace(TStream& installer);

}  // namespace vorn::pack
