#include "tools/vornpack/pe/stub_rewrite.h"

#include <algorithm>
#include <cstdio>

#include "compress/exceptions.h"
#include "setup/install_options.h"
#include "setup/package_reader.h"
#include "setup/pe_image.h"
#include "tools/vornpack/pe/resource_section.h"

namespace vorn::pack {

namespace {

std::string Format(const char* format, unsigned a, unsigned b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// True when a package reads from the trailer to its end marker.
bool CarriesPackage(const std::vector<uint8_t>& image) {
    TMemoryStream stream(image);
    setup::TPackageReader reader(stream);
    try {
        reader.Locate();
        reader.ReadField();
        for (setup::TEntryFields fields; reader.ReadEntryFields(fields);) {
            TNullStream sink;
            reader.CopyStream(sink, reader.ReadStreamLength());
        }
        return true;
    } catch (const EVornError&) {
        return false;
    }
}

std::string LayoutProblem(const std::vector<uint8_t>& stub) {
    const TPeLayout layout = ReadPeLayout(stub);
    const setup::TPeHeaders& pe = layout.headers;
    if (std::string problem = SectionLayoutProblem(layout, stub.size()); !problem.empty()) return problem;
    if (pe.Certificate().address != 0 || pe.Certificate().size != 0)
        return "it is signed already; sign the installer instead";
    const std::optional<size_t> index = ResourceSection(layout);
    if (!index) return "it has no resource section to hold the application manifest";
    const std::optional<size_t> slot = ElevationSlotAt(stub);
    const setup::TPeSection& resources = layout.sections[*index];
    if (slot && (*slot < resources.rawOffset || *slot >= uint64_t{resources.rawOffset} + resources.rawSize))
        return "its execution level lies outside its resource section";
    if (CarriesPackage(stub)) return "it is an installer, not a stub: it carries a package already";
    return "";
}

}  // namespace

std::string StubProblem(const std::vector<uint8_t>& stub, const TArchitecture& arch) {
    TMemoryStream stream(stub);
    const setup::TPeHeaders pe = setup::ReadPeHeaders(stream);
    if (!pe.isPe) return "it does not start like a PE image";
    if (const TArchitecture* other = ArchitectureOfMachine(pe.machine); other && other != &arch)
        return std::string("it is an ") + other->name + " program, and the manifest's arch is \"" + arch.name +
               "\": give an " + arch.name + " stub, or set arch = \"" + other->name + "\"";
    if (pe.machine != arch.machine)
        return Format("it is built for machine 0x%04X, not ", pe.machine) + arch.format;
    if (pe.optionalMagic != arch.optionalMagic)
        return Format("its optional header has magic 0x%03X, not that of ", pe.optionalMagic) + arch.format;
    if (pe.subsystem != setup::pe::kSubsystemWindowsGui)
        return Format(pe.subsystem == setup::pe::kSubsystemWindowsConsole ? "its subsystem is %u (console), not Windows GUI (2)"
                                                                          : "its subsystem is %u, not Windows GUI (2)",
                      pe.subsystem);
    return LayoutProblem(stub);
}

void ApplyFace(const TManifest& manifest, std::vector<uint8_t>& stub) {
    if (manifest.icon.empty() && !manifest.version) return;
    std::vector<TResource> resources = ReadResources(stub);
    const auto replaced = [&](const TResource& r) {
        const bool icon = r.type == pe::kIconResource || r.type == pe::kGroupIconResource;
        return (icon && !manifest.icon.empty()) || (r.type == pe::kVersionResource && manifest.version);
    };
    resources.erase(std::remove_if(resources.begin(), resources.end(), replaced), resources.end());
    if (!manifest.icon.empty())
        for (TResource& r : IconResources(manifest.icon)) resources.push_back(std::move(r));
    if (manifest.version)
        resources.push_back({.type = pe::kVersionResource, .id = 1, .language = pe::kUsEnglish,
                             .codePage = 0, .data = VersionResourceBytes(*manifest.version)});
    const bool hadLevel = ElevationSlotAt(stub).has_value();
    ReplaceResources(stub, std::move(resources));
    // Only the resources' data is carried over: a level slot elsewhere in the section would be lost.
    if (hadLevel && !ElevationSlotAt(stub))
        throw EPeImageError("its execution level lies in its resource section but in no resource, so a rebuild would lose it");
}

void ApplyInstallSettings(const TManifest& manifest, std::vector<uint8_t>& stub) {
    if (!manifest.install.Any()) return;
    setup::TInstallOptions settings;
    settings.switches = manifest.install.switches;
    settings.keepCase = manifest.install.keepCase;
    settings.allUsersShortcuts = manifest.install.allUsersShortcuts;
    if (manifest.uninstall) settings.productFolder = manifest.uninstall->folder;
    const std::string bytes = setup::SettingsBytes(settings);
    std::vector<TResource> resources = ReadResources(stub);
    std::erase_if(resources, [](const TResource& r) {
        return r.type == setup::kSettingsResourceType && r.id == setup::kSettingsResourceId;
    });
    resources.push_back({.type = setup::kSettingsResourceType, .id = setup::kSettingsResourceId, .language = 0,
                         .codePage = 0, .data = std::vector<uint8_t>(bytes.begin(), bytes.end())});
    ReplaceResources(stub, std::move(resources));
}

TInstallerFace ReadFace(TStream& installer) {
    const int64_t end = std::min(setup::ReadPeHeaders(installer).imageEnd, installer.Size());
    std::vector<uint8_t> image(static_cast<size_t>(std::max<int64_t>(end, 0)));
    installer.Seek(0);
    image.resize(installer.Read(image.data(), image.size()));
    TInstallerFace face;
    try {
        const std::vector<TResource> resources = ReadResources(image);
        if (const TResource* version = FindResource(resources, pe::kVersionResource))
            face.version = ReadVersionResource(version->data);
        if (const TResource* group = FindResource(resources, pe::kGroupIconResource))
            face.iconSizes = IconGroupSizes(group->data);
        if (const TResource* settings = FindResource(resources, setup::kSettingsResourceType))
            face.settings = std::string(settings->data.begin(), settings->data.end());
    } catch (const EPeImageError& error) {
        face.problem = error.Message;
    }
    return face;
}

}  // namespace vorn::pack
