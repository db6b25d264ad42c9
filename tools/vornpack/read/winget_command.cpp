// vornpack winget: a package catalog's installer manifest for an installer
// that installs quietly, read from the installer itself.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "setup/install_options.h"
#include "setup/remover/sha256.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/read/package_contents.h"
#include "tools/vornpack/pe/stub_rewrite.h"
#include "tools/vornpack/build/uninstall_entries.h"

namespace vorn::pack {

namespace {

constexpr const char* kManifestVersion = "1.6.0";
constexpr const char* kUrlPlaceholder = "https://example.com/REPLACE-WITH-THE-DOWNLOAD-URL.exe";

// What the installer's exit codes mean to the catalog; 0 is success.
constexpr std::pair<int, const char*> kReturnResponses[] = {
    {setup::kInstallFailed, "contactSupport"},
    {setup::kInstallWithErrors, "fileInUse"},
    {setup::kInstallNotStarted, "invalidParameter"},
};

class EWingetError : public EVornError {
public:
    using EVornError::EVornError;
};

// A double-quoted YAML scalar.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : tools::ValidUtf8(text)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + "\"";
}

// A part of the package identifier: letters, digits and "-", at most 32.
std::string IdentifierPart(const std::string& text) {
    std::string part;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') part += c;
    return part.substr(0, 32);
}

std::string InstallerDigest(TStream& installer) {
    setup::TSha256 sha;
    std::vector<uint8_t> block(256 << 10);
    installer.Seek(0);
    while (const size_t n = installer.Read(block.data(), block.size())) sha.Add(block.data(), n);
    std::string digest = setup::DigestText(sha.Finish());
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

struct TCatalogFacts {
    const char* arch = nullptr;
    setup::TUninstallRecord record;  // its texts in UTF-8
    std::string digest;
};

TCatalogFacts ReadFacts(TStream& installer, const std::string& codepage) {
    RequirePackage(installer);
    TCatalogFacts facts;
    const TArchitecture* arch = ArchitectureOfMachine(setup::ReadPeHeaders(installer).machine);
    if (!arch) throw EWingetError("the installer's program is of no architecture vorn builds for");
    facts.arch = arch->name;
    const TInstallerFace face = ReadFace(installer);
    if (!face.settings || !setup::ReadSettings(*face.settings).switches)
        throw EWingetError("the installer has no silent switch: build it with [install] switches = true");
    std::optional<setup::TUninstallRecord> record;
    WalkPackage(installer, {.title = {}, .entry = [&](const TPackageEntry& entry, TStream& stream) {
                                setup::TRecordReader reader;  // the head is all the catalog needs
                                reader.onFile = [](const setup::TRecordedFile&) {};
                                reader.onLink = [](const setup::TRecordedLink&) {};
                                if (auto found = RecordOfEntry(entry, stream, reader)) record = std::move(found);
                            }});
    if (!record) throw EWingetError("the installer registers no product: build it with [uninstall]");
    for (std::string* text : {&record->id, &record->name, &record->version, &record->publisher})
        *text = FromCodePage(*text, codepage);
    if (record->publisher.empty() || record->version.empty())
        throw EWingetError("the catalog needs the publisher and the version: give [version] company and a version");
    facts.record = std::move(*record);
    facts.digest = InstallerDigest(installer);
    return facts;
}

void PrintManifest(const TCatalogFacts& facts, const std::string& url) {
    const setup::TUninstallRecord& r = facts.record;
    if (url.empty()) std::printf("# Fill in InstallerUrl: where the catalog downloads the installer.\n");
    std::printf("PackageIdentifier: %s.%s\n", IdentifierPart(r.publisher).c_str(), IdentifierPart(r.name).c_str());
    std::printf("PackageVersion: %s\n", Quoted(r.version).c_str());
    std::printf("InstallerType: exe\nScope: %s\n", r.perUser ? "user" : "machine");
    std::printf("InstallModes:\n  - interactive\n  - silent\n  - silentWithProgress\n");
    std::printf("InstallerSwitches:\n  Silent: /S\n  SilentWithProgress: /S\n");
    std::printf("  InstallLocation: /D=<INSTALLPATH>\n  Log: /LOG=\"<LOGPATH>\"\n");
    std::printf("ExpectedReturnCodes:\n");
    for (const auto& [code, response] : kReturnResponses)
        std::printf("  - InstallerReturnCode: %d\n    ReturnResponse: %s\n", code, response);
    std::printf("ProductCode: %s\n", Quoted(r.id).c_str());
    std::printf("AppsAndFeaturesEntries:\n  - DisplayName: %s\n    Publisher: %s\n    DisplayVersion: %s\n"
                "    ProductCode: %s\n",
                Quoted(r.name).c_str(), Quoted(r.publisher).c_str(), Quoted(r.version).c_str(), Quoted(r.id).c_str());
    std::printf("Installers:\n  - Architecture: %s\n    InstallerUrl: %s\n    InstallerSha256: %s\n", facts.arch,
                url.empty() ? kUrlPlaceholder : url.c_str(), facts.digest.c_str());
    std::printf("ManifestType: installer\nManifestVersion: %s\n", kManifestVersion);
}

}  // namespace

int RunWinget(const TWingetOptions& options) {
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        PrintManifest(ReadFacts(installer, options.codepage), options.url);
        return kExitOk;
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
}

}  // namespace vorn::pack
