#include "tools/vornpack/pe/execution_level.h"

#include <algorithm>
#include <string_view>

#include "compress/exceptions.h"
#include "setup/pe_image.h"

namespace vorn::pack {

namespace {

constexpr std::string_view kElement = "<requestedExecutionLevel ";
// Both fill the same bytes: the shorter level is padded with spaces between
// the attributes, where XML ignores them.
constexpr std::string_view kAdminSlot = "level=\"requireAdministrator\" uiAccess=\"false\"/>";
constexpr std::string_view kUserSlot = "level=\"asInvoker\"            uiAccess=\"false\"/>";
static_assert(kAdminSlot.size() == kUserSlot.size());

std::string_view View(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
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

}  // namespace

const char* ElevationName(Elevation level) { return level == Elevation::Admin ? "admin" : "user"; }

std::optional<Elevation> ElevationNamed(const std::string& name) {
    if (name == "admin") return Elevation::Admin;
    if (name == "user") return Elevation::User;
    return std::nullopt;
}

std::optional<size_t> ElevationSlotAt(const std::vector<uint8_t>& image) {
    std::string why;
    return SlotAt(View(image), why);
}

void SetElevation(std::vector<uint8_t>& stub, Elevation level) {
    std::string why;
    const std::optional<size_t> at = SlotAt(View(stub), why);
    if (!at) throw EVornError("the stub cannot take an execution level: " + why);
    const std::string_view slot = level == Elevation::Admin ? kAdminSlot : kUserSlot;
    std::copy(slot.begin(), slot.end(), stub.begin() + static_cast<std::ptrdiff_t>(*at));
}

std::optional<Elevation> ReadElevation(TStream& installer) {
    const int64_t end = std::min(setup::ReadPeHeaders(installer).imageEnd, installer.Size());
    std::vector<uint8_t> image(static_cast<size_t>(end));
    installer.Seek(0);
    image.resize(installer.Read(image.data(), image.size()));
    std::string why;
    const std::optional<size_t> at = SlotAt(View(image), why);
    if (!at) return std::nullopt;
    return View(image).substr(*at, kAdminSlot.size()) == kAdminSlot ? Elevation::Admin : Elevation::User;
}

}  // namespace vorn::pack
