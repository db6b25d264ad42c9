#include <cinttypes>
#include <cstdio>
#include <string>

#include "compress/stream.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/manifest.h"
#include "tools/vornpack/package_contents.h"
#include "tools/vornpack/execution_level.h"
#include "tools/vornpack/stub_rewrite.h"
#include "setup/folders.h"
#include "setup/install_options.h"
#include "tools/vornpack/uninstall_entries.h"

namespace vorn::pack {

namespace {

// Version strings may hold unpaired surrogates: they come out as U+FFFD.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : tools::ValidUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

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
    std::printf("\n");
}

// The same words as the text listing: "always", "never" or {"ask": NAME}.
std::string ReplaceJson(const std::string& rule, const std::string& codepage) {
    if (setup::ReplaceOf(rule) == setup::Replace::Ask)
        return "{\"ask\": " + JsonString(FromCodePage(rule.substr(1), codepage)) + "}";
    return JsonString(DescribeReplace(rule));
}

std::string EntryJson(const TPackageEntry& entry, const std::string& codepage) {
    auto text = [&](const std::string& s) { return JsonString(FromCodePage(s, codepage)); };
    std::string json = "{\"destination\": " + text(entry.destination) +
                       ", \"run\": " + JsonString(DescribeRunMode(entry.runMode)) + ", \"shortcuts\": {";
    bool first = true;
    for (size_t i = 0; i < entry.shortcuts.size(); ++i) {
        const std::string& field = entry.shortcuts[i];
        if (field.empty()) continue;
        const bool ask = field[0] == setup::kAskFirst;
        json += std::string(first ? "" : ", ") + "\"" + ShortcutKeys()[i] + "\": {\"name\": " +
                text(ask ? field.substr(1) : field) + ", \"ask\": " + (ask ? "true" : "false") + "}";
        first = false;
    }
    json += "}, \"replace\": " + ReplaceJson(entry.replaceRule, codepage) + ", \"method\": " + JsonString(MethodName(entry)) +
            ", \"compressed_size\": " + std::to_string(entry.streamLength) + ", \"uncompressed_size\": " +
            (entry.hasHeader ? std::to_string(entry.header.UncompressedSize) : std::to_string(entry.streamLength));
    if (entry.chainOffset) json += ", \"solid\": true, \"chain_offset\": " + std::to_string(*entry.chainOffset);
    json += "}";
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

std::string FaceJson(const TInstallerFace& face) {
    std::string json = ",\n  \"version\": ";
    if (!face.version) {
        json += "null";
    } else {
        json += "{\"file\": " + JsonString(VersionText(face.version->fileVersion)) +
                ", \"product\": " + JsonString(VersionText(face.version->productVersion)) + ", \"strings\": {";
        for (size_t i = 0; i < face.version->strings.size(); ++i)
            json += (i ? ", " : "") + JsonString(face.version->strings[i].first) + ": " +
                    JsonString(face.version->strings[i].second);
        json += "}}";
    }
    json += ",\n  \"icon\": [";
    for (size_t i = 0; i < face.iconSizes.size(); ++i)
        json += std::string(i ? ", " : "") + "{\"width\": " + std::to_string(face.iconSizes[i].first) +
                ", \"height\": " + std::to_string(face.iconSizes[i].second) + "}";
    json += "]";
    if (face.settings) {
        json += ",\n  \"install\": [";
        const std::vector<std::string> keys = InstallKeys(*face.settings);
        for (size_t i = 0; i < keys.size(); ++i) json += (i ? ", " : "") + JsonString(keys[i]);
        json += "]";
    }
    if (!face.problem.empty()) json += ",\n  \"face_problem\": " + JsonString(face.problem);
    return json;
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
        std::string entries;
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
                entries += (entries.empty() ? "\n    " : ",\n    ") + EntryJson(entry, options.codepage);
            else
                PrintEntryText(entry, options.codepage);
        };
        const uint32_t signature = WalkPackage(installer, visitor);
        auto text = [&](const std::string& s) { return FromCodePage(s, options.codepage); };
        if (record && !options.json)
            std::printf("uninstall: %s (%s) in %s\n", tools::Printable(text(record->name)).c_str(),
                        tools::Printable(text(DescribeRecord(*record, recorded))).c_str(),
                        tools::Printable(text(recordFolder)).c_str());
        const std::string uninstall =
            !record ? "null"
                    : "{\"id\": " + JsonString(text(record->id)) + ", \"name\": " + JsonString(text(record->name)) +
                          ", \"version\": " + JsonString(text(record->version)) + ", \"publisher\": " +
                          JsonString(text(record->publisher)) + ", \"scope\": " +
                          JsonString(record->perUser ? "user" : "machine") + ", \"folder\": " +
                          JsonString(text(recordFolder)) + ", \"files\": " + std::to_string(recorded.Files()) +
                          ", \"shared_files\": " + std::to_string(recorded.SharedFiles()) +
                          ", \"shortcuts\": " + std::to_string(recorded.Links()) +
                          ", \"upgrades_remove_dropped_files\": " + (record->folder.empty() ? "false" : "true") + "}";
        if (options.json)
            std::printf("{\n  \"title\": %s,\n  \"arch\": %s,\n  \"elevation\": %s%s,\n  \"signed\": %s,\n"
                        "  \"signature_size\": %" PRIu32 ",\n  \"uninstall\": %s,\n  \"entries\": [%s\n  ]\n}\n",
                        JsonString(text(title)).c_str(), arch ? JsonString(arch->name).c_str() : "null",
                        elevation ? JsonString(elevation).c_str() : "null", FaceJson(face).c_str(),
                        signature ? "true" : "false", signature, uninstall.c_str(), entries.c_str());
        else if (signature)
            std::printf("signed: %" PRIu32 " bytes of signature\n", signature);
        else
            std::printf("signed: no\n");
        return kExitOk;
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
}

}  // namespace vorn::pack
