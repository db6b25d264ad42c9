#include <cinttypes>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "compress/stream.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/read/package_contents.h"
#include "tools/vornpack/pe/execution_level.h"
#include "tools/vornpack/pe/stub_rewrite.h"
#include "setup/folders.h"
#include "setup/install_options.h"
#include "tools/vornpack/build/uninstall_entries.h"

namespace vorn::pack {

namespace {

using TJson = nlohmann::ordered_json;  // keys in the order they are set

std::string ShortcutText(const std::string& field) {
    return !field.empty() && field[0] == setup::kAskFirst ? field.substr(1) + " (asked)" : field;
}

void PrintEntryText(const TPackageEntry& entry, const std::string& codepage) {
    auto text = [&](const std::string& s) { return tools::Printable(FromCodePage(s, codepage)); };
    std::printf("%zu. %s\n", entry.index, text(entry.destination).c_str());
    std::printf("   run: %s, replace: %s\n", DescribeRunMode(entry.runMode).c_str(),
                text(DescribeReplace(entry.replaceRule)).c_str());
    for (size_t i = 0; i < entry.shortcuts.size(); ++i)
        if (!entry.shortcuts[i].empty())
            std::printf("   shortcut in %s: %s\n", ShortcutKeys()[i].c_str(),
                        text(ShortcutText(entry.shortcuts[i])).c_str());
    std::printf("   %s, %" PRIu32 " bytes", MethodName(entry).c_str(), entry.streamLength);
    if (entry.hasHeader) std::printf(" holding %" PRId32, entry.header.UncompressedSize);
    if (entry.chainOffset) std::printf(", solid at chain offset %" PRIu32, *entry.chainOffset);
    if (entry.seedSize) std::printf(", seeded with %" PRIu32 " bytes of the installer's program", *entry.seedSize);
    std::printf("\n");
}

// The same words as the text listing: "always", "never" or {"ask": NAME}.
TJson ReplaceJson(const std::string& rule, const std::string& codepage) {
    if (setup::ReplaceOf(rule) == setup::Replace::Ask) return {{"ask", FromCodePage(rule.substr(1), codepage)}};
    return DescribeReplace(rule);
}

TJson EntryJson(const TPackageEntry& entry, const std::string& codepage) {
    TJson shortcuts = TJson::object();
    for (size_t i = 0; i < entry.shortcuts.size(); ++i) {
        const std::string& field = entry.shortcuts[i];
        if (field.empty()) continue;
        const bool ask = field[0] == setup::kAskFirst;
        shortcuts[ShortcutKeys()[i]] = {{"name", FromCodePage(ask ? field.substr(1) : field, codepage)}, {"ask", ask}};
    }
    TJson json = {{"destination", FromCodePage(entry.destination, codepage)},
                  {"run", DescribeRunMode(entry.runMode)},
                  {"shortcuts", shortcuts},
                  {"replace", ReplaceJson(entry.replaceRule, codepage)},
                  {"method", MethodName(entry)},
                  {"compressed_size", entry.streamLength},
                  {"uncompressed_size", entry.hasHeader ? int64_t{entry.header.UncompressedSize} : int64_t{entry.streamLength}}};
    if (entry.chainOffset) {
        json["solid"] = true;
        json["chain_offset"] = *entry.chainOffset;
    }
    if (entry.seedSize) json["seed_size"] = *entry.seedSize;
    return json;
}

// The [install] keys the installer's settings hold, as the manifest names them.
std::vector<std::string> InstallKeys(const std::string& settings) {
    const setup::TInstallOptions options = setup::ReadSettings(settings);
    std::vector<std::string> keys;
    if (options.switches) keys.push_back("switches");
    if (options.keepCase) keys.push_back("keep-case");
    if (options.allUsersShortcuts) keys.push_back("all-users shortcuts");
    return keys;
}

// The version and icon lines, when the installer has them, or why they are missing.
void PrintFaceText(const TInstallerFace& face) {
    if (!face.problem.empty()) std::printf("version and icon: unreadable, %s\n", face.problem.c_str());
    if (face.version) {
        std::printf("version: %s (product %s)\n", VersionText(face.version->fileVersion).c_str(),
                    VersionText(face.version->productVersion).c_str());
        for (const auto& [name, value] : face.version->strings)
            std::printf("   %s: %s\n", tools::Printable(name).c_str(), tools::Printable(value).c_str());
    }
    if (face.settings) {
        std::printf("install:");
        for (const std::string& key : InstallKeys(*face.settings)) std::printf(" %s", key.c_str());
        std::printf("\n");
    }
    if (!face.iconSizes.empty()) {
        std::printf("icon:");
        for (size_t i = 0; i < face.iconSizes.size(); ++i)
            std::printf("%s %dx%d", i ? "," : "", face.iconSizes[i].first, face.iconSizes[i].second);
        std::printf("\n");
    }
}

void AddFaceJson(const TInstallerFace& face, TJson& json) {
    json["version"] = nullptr;
    if (face.version) {
        TJson strings = TJson::object();
        for (const auto& [name, value] : face.version->strings) strings[name] = value;
        json["version"] = {{"file", VersionText(face.version->fileVersion)},
                           {"product", VersionText(face.version->productVersion)},
                           {"strings", strings}};
    }
    json["icon"] = TJson::array();
    for (const auto& [width, height] : face.iconSizes) json["icon"].push_back({{"width", width}, {"height", height}});
    if (face.settings) json["install"] = InstallKeys(*face.settings);
    if (!face.problem.empty()) json["face_problem"] = face.problem;
}

TJson UninstallJson(const setup::TUninstallRecord& record, const std::string& folder,
                    const setup::TRecordReader& counts, const std::string& codepage) {
    return {{"id", FromCodePage(record.id, codepage)},
            {"name", FromCodePage(record.name, codepage)},
            {"version", FromCodePage(record.version, codepage)},
            {"publisher", FromCodePage(record.publisher, codepage)},
            {"scope", record.perUser ? "user" : "machine"},
            {"folder", FromCodePage(folder, codepage)},
            {"files", counts.Files()},
            {"shared_files", counts.SharedFiles()},
            {"shortcuts", counts.Links()},
            {"upgrades_remove_dropped_files", !record.folder.empty()}};
}

}  // namespace

int RunList(const TListOptions& options) {
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        RequirePackage(installer);  // before anything is printed
        const TArchitecture* arch = ArchitectureOfMachine(setup::ReadPeHeaders(installer).machine);
        if (!options.json) std::printf("arch: %s\n", arch ? arch->name : "unknown");
        const std::optional<Elevation> level = ReadElevation(installer);
        const char* elevation = level ? ElevationName(*level) : nullptr;
        if (!options.json)
            std::printf("elevation: %s\n", elevation ? elevation : "unknown (no execution level in the stub)");
        const TInstallerFace face = ReadFace(installer);
        if (!options.json) PrintFaceText(face);
        std::string title;
        TJson entries = TJson::array();
        TPackageVisitor visitor;
        visitor.title = [&](const std::string& t) {
            title = t;
            if (!options.json) std::printf("title: %s\n", tools::Printable(FromCodePage(t, options.codepage)).c_str());
        };
        std::optional<setup::TUninstallRecord> record;
        std::string recordFolder;
        setup::TRecordReader recorded;  // what the record's reader counted
        visitor.entry = [&](const TPackageEntry& entry, TStream& stream) {
            setup::TRecordReader reader;  // counts what it reads, and holds none of it
            reader.onFile = [](const setup::TRecordedFile&) {};
            reader.onLink = [](const setup::TRecordedLink&) {};
            if (auto found = RecordOfEntry(entry, stream, reader)) {
                record = std::move(found);
                recordFolder = setup::FolderPart(entry.destination);
                recorded = reader;
            }
            if (options.json)
                entries.push_back(EntryJson(entry, options.codepage));
            else
                PrintEntryText(entry, options.codepage);
        };
        const uint32_t signature = WalkPackage(installer, visitor);
        auto text = [&](const std::string& s) { return FromCodePage(s, options.codepage); };
        if (record && !options.json)
            std::printf("uninstall: %s (%s) in %s\n", tools::Printable(text(record->name)).c_str(),
                        tools::Printable(text(DescribeRecord(*record, recorded))).c_str(),
                        tools::Printable(text(recordFolder)).c_str());
        if (options.json) {
            TJson json = {{"title", text(title)}, {"arch", arch ? TJson(arch->name) : TJson()},
                          {"elevation", elevation ? TJson(elevation) : TJson()}};
            AddFaceJson(face, json);
            json["signed"] = signature != 0;
            json["signature_size"] = signature;
            json["uninstall"] = record ? UninstallJson(*record, recordFolder, recorded, options.codepage) : TJson();
            json["entries"] = entries;
            // Ill-formed UTF-8 (a version string's unpaired surrogate) comes out as U+FFFD.
            std::printf("%s\n", json.dump(2, ' ', false, TJson::error_handler_t::replace).c_str());
        } else if (signature) {
            std::printf("signed: %" PRIu32 " bytes of signature\n", signature);
        } else {
            std::printf("signed: no\n");
        }
        return kExitOk;
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
}

}  // namespace vorn::pack
