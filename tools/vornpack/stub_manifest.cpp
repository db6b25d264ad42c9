#include "tools/vornpack/stub_manifest.h"

#include <algorithm>
#include <string_view>

#include "compress/exceptions.h"

namespace vorn::pack {

namespace {

constexpr std::string_view kElement = "<requestedExecutionLevel ";
// Both fill the same bytes: the shorter level is padded with spaces between
// the attributes, where XML ignores them.
constexpr std::string_view kAdminSlot = "level=\"requireAdministrator\" uiAccess=\"false\"/>";
constexpr std::string_view kUserSlot = "level=\"asInvoker\"            uiAccess=\"false\"/>";
static_assert(kAdminSlot.size() == kUserSlot.size());

constexpr size_t kHeaderProbe = 4096;  // PE headers and section table
constexpr size_t kPeOffsetAt = 0x3C;
constexpr size_t kSectionSize = 40;

std::string_view View(const std::vector<uint8_t>& bytes, size_t size) {
    return {reinterpret_cast<const char*>(bytes.data()), std::min(size, bytes.size())};
}

// The offset of the slot's attributes; empty with the reason when the image
// has no element, more than one, or one that is not a slot.
std::optional<size_t> SlotAt(std::string_view image, std::string& why) {
    const size_t element = image.find(kElement);
    if (element == std::string_view::npos) {
        why = "it has no requestedExecutionLevel in an application manifest";
        return std::nullopt;
    }
    if (image.find(kElement, element + 1) != std::string_view::npos) {
        why = "it has more than one requestedExecutionLevel";
        return std::nullopt;
    }
    const size_t at = element + kElement.size();
    const std::string_view slot = image.substr(at, kAdminSlot.size());
    if (slot == kAdminSlot || slot == kUserSlot) return at;
    why = "its requestedExecutionLevel is not the fixed-length slot vornpack rewrites";
    return std::nullopt;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

// Where the PE image's last section ends in the file; 0 for a file that is
// no PE image.
size_t ImageEnd(const std::vector<uint8_t>& headers) {
    const size_t pe = Le32(headers, kPeOffsetAt);
    if (headers.size() < 2 || headers[0] != 'M' || headers[1] != 'Z' || Le32(headers, pe) != 0x4550) return 0;
    const size_t sections = Le32(headers, pe + 6) & 0xFFFF;
    const size_t table = pe + 24 + (Le32(headers, pe + 20) & 0xFFFF);
    size_t end = 0;
    for (size_t i = 0; i < sections; ++i) {
        const size_t section = table + i * kSectionSize;
        end = std::max<size_t>(end, size_t{Le32(headers, section + 20)} + Le32(headers, section + 16));
    }
    return end;
}

std::vector<uint8_t> ReadUpTo(TStream& stream, size_t size) {
    std::vector<uint8_t> bytes(std::min<size_t>(size, static_cast<size_t>(stream.Size())));
    stream.Seek(0);
    bytes.resize(stream.Read(bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace

const char* ElevationName(Elevation level) { return level == Elevation::Admin ? "admin" : "user"; }

std::optional<Elevation> ElevationNamed(const std::string& name) {
    if (name == "admin") return Elevation::Admin;
    if (name == "user") return Elevation::User;
    return std::nullopt;
}

void SetElevation(std::vector<uint8_t>& stub, Elevation level) {
    std::string why;
    const std::optional<size_t> at = SlotAt(View(stub, stub.size()), why);
    if (!at) throw EVornError("the stub cannot take an execution level: " + why);
    const std::string_view slot = level == Elevation::Admin ? kAdminSlot : kUserSlot;
    std::copy(slot.begin(), slot.end(), stub.begin() + static_cast<std::ptrdiff_t>(*at));
}

std::optional<Elevation> ReadElevation(TStream& installer) {
    const size_t end = ImageEnd(ReadUpTo(installer, kHeaderProbe));
    const std::vector<uint8_t> image = ReadUpTo(installer, end);
    std::string why;
    const std::optional<size_t> at = SlotAt(View(image, image.size()), why);
    if (!at) return std::nullopt;
    return View(image, image.size()).substr(*at, kAdminSlot.size()) == kAdminSlot ? Elevation::Admin
                                                                                : Elevation::User;
}

}  // namespace vorn::pack
