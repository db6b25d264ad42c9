// What Explorer shows of a program: its icon (an icon group and one icon
// resource per image, made from a .ico file) and its version information
// (VS_VERSIONINFO: the fixed part, strings in U.S. English and Unicode, the
// translation entry). Written by vornpack, read back by its listing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compress/exceptions.h"
#include "tools/vornpack/pe/resource_section.h"

namespace vorn::pack {

// A .ico file that is not one, or version information that does not fit.
class EFaceError : public EVornError {
public:
    using EVornError::EVornError;
};

struct TIconImage {
    std::array<uint8_t, 12> entry{};  // width, height, colours, reserved, planes, bit count, byte count
    std::vector<uint8_t> data;        // a DIB or a PNG file
};

// The most images an icon file may hold. Each takes two entries of the
// resource tree (its id and its language) and the rest of the tree stays
// for the group and the stub's other resources, so that an installer
// vornpack writes stays within what its own resource reader takes.
inline constexpr size_t kTreeEntriesBesideIcon = 0x1000;
inline constexpr size_t kMaxIconImages = (pe::kMaxTreeEntries - kTreeEntriesBesideIcon) / 2;

// The images of a .ico file; raises EFaceError saying what is wrong. Images
// must not share bytes, so that they take no more memory than the file, and
// a PNG image must be whole and as large as the file's list says.
std::vector<TIconImage> ReadIconFile(const std::vector<uint8_t>& file);

// The icon group (id 1) and one icon resource per image (ids 1, 2, ...).
std::vector<TResource> IconResources(const std::vector<TIconImage>& images);

// Width and height of each image an icon group lists (256 where it says 0).
std::vector<std::pair<int, int>> IconGroupSizes(const std::vector<uint8_t>& group);

using TFourPartVersion = std::array<uint16_t, 4>;

struct TVersionInfo {
    TFourPartVersion fileVersion{};
    TFourPartVersion productVersion{};
    std::vector<std::pair<std::string, std::string>> strings;  // name and value, UTF-8, in order
};

// "1.2.3.4"; and its parse, empty unless four numbers from 0 to 65535.
std::string VersionText(const TFourPartVersion& version);
std::optional<TFourPartVersion> ParseVersion(const std::string& text);

// The VS_VERSIONINFO resource's data; raises EFaceError when a string is
// not UTF-8 or the strings do not fit the resource's 16-bit lengths.
std::vector<uint8_t> VersionResourceBytes(const TVersionInfo& info);
// Empty when the data is no VS_VERSIONINFO.
std::optional<TVersionInfo> ReadVersionResource(const std::vector<uint8_t>& data);

}  // namespace vorn::pack
