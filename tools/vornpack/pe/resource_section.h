// The resource section of a PE image, read as a list of numbered resources
// and written afresh: vornpack rebuilds a stub's resources (icon, version
// information, application manifest) rather than patching them in place.
// Only the tools use this; the installer never reads its own resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compress/exceptions.h"
#include "setup/pe_image.h"

namespace vorn::pack {

// An image whose resources cannot be read or rebuilt; the message says why.
class EPeImageError : public EVornError {
public:
    using EVornError::EVornError;
};

namespace pe {
using namespace setup::pe;  // the resource types beside the PE layout's named offsets
inline constexpr uint16_t kIconResource = 3;
inline constexpr uint16_t kGroupIconResource = 14;
inline constexpr uint16_t kVersionResource = 16;
inline constexpr uint16_t kManifestResource = 24;
inline constexpr uint16_t kUsEnglish = 0x0409;
// The most directory entries, counted at every level of a resource tree,
// that ReadResources follows. ReplaceResources writes no more, so that
// vornpack reads back every image it writes.
inline constexpr size_t kMaxTreeEntries = 0xFFFF;
}  // namespace pe

struct TResource {
    uint16_t type = 0;
    uint16_t id = 0;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// An image's headers with its section table.
struct TPeLayout {
    setup::TPeHeaders headers;
    std::vector<setup::TPeSection> sections;
    uint32_t sectionAlignment = 0;  // of the sections in memory
    uint32_t fileAlignment = 0;     // of their raw data in the file
};
TPeLayout ReadPeLayout(const std::vector<uint8_t>& image);

// The index of the section holding the resource directory, if any.
std::optional<size_t> ResourceSection(const TPeLayout& layout);

// Why the image's sections could not be moved around new resources, or
// empty: both alignments must be powers of two the loader takes, and every
// section's raw data (the resource section's even when empty) must lie
// behind the headers and inside the file.
std::string SectionLayoutProblem(const TPeLayout& layout, size_t fileSize);

// The image's resources, in the order of their tree (type, id, language);
// empty without a resource section. Raises EPeImageError when the tree
// points outside the section, holds resources with names, or makes its
// leaves copy more bytes than the section holds (by sharing data): the
// result never takes more than the section's size in data.
std::vector<TResource> ReadResources(const std::vector<uint8_t>& image);

// The first resource of the type, or null.
const TResource* FindResource(const std::vector<TResource>& resources, uint16_t type);

// Replaces the image's resource section with one holding the resources
// (sorted by type, id and language), moves the sections behind it, and
// updates the section table, the image size and the data directories.
// Raises EPeImageError when the image has no resource section, a
// SectionLayoutProblem, a section behind it that code may address (anything
// but discardable), a section listed before it that lies behind it, or when
// the new tree would need more than pe::kMaxTreeEntries entries.
void ReplaceResources(std::vector<uint8_t>& image, std::vector<TResource> resources);

// Sets the header checksum to 0, "none". An installer's checksum could only
// cover its whole file, package included, and vornpack writes the package
// as it goes; a checksum of the image alone would be wrong for the file,
// which is worse than none. Signing tools compute the real one.
void ClearPeChecksum(std::vector<uint8_t>& image);

}  // namespace vorn::pack
