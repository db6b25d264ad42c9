#include "tools/vornpack/build/uninstall_entries.h"

#include <algorithm>
#include <fstream>

#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "setup/folders.h"
#include "setup/install_options.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/pe/execution_level.h"
#include "tools/vornpack/pe/stub_rewrite.h"

namespace vorn::pack {

namespace {

constexpr int32_t kLongestRecord = 16 << 20;
// Longer than any line a record holds: a path and a digest are far shorter.
constexpr size_t kLongestRecordLine = 64 << 10;

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) throw EStreamError("Cannot write \"" + path + "\"");
}

}  // namespace

void TRecordLines::Write(const void* buffer, size_t n) {
    TNullStream::Write(buffer, n);
    const std::string_view text(static_cast<const char*>(buffer), n);
    for (size_t at = 0; at < text.size() && !damaged_;) {
        const size_t end = text.find('\n', at);
        pending_.append(text.substr(at, end == std::string_view::npos ? text.size() - at : end - at));
        damaged_ = pending_.size() > kLongestRecordLine;
        if (end == std::string_view::npos) break;
        damaged_ = damaged_ || !reader_.Take(pending_);
        pending_.clear();
        at = end + 1;
    }
}

std::optional<setup::TUninstallRecord> TRecordLines::Finish() {
    if (damaged_ || !pending_.empty()) return std::nullopt;  // cut short inside a line
    return reader_.Finish();
}

bool IsRecordEntry(const TPackageEntry& entry) {
    // Installers of earlier builds carry the record under its installed name.
    const std::string name = setup::Lowercase(entry.destination);
    return name.ends_with(std::string("\\") + setup::kPackageRecordName) ||
           name.ends_with(std::string("\\") + setup::kRecordName);
}

std::optional<setup::TUninstallRecord> RecordOfEntry(const TPackageEntry& entry, TStream& stream,
                                                     setup::TRecordReader& reader) {
    // A chain link expands only after the links before it.
    if (!IsRecordEntry(entry) || !entry.hasHeader || entry.chainOffset ||
        entry.header.UncompressedSize > kLongestRecord)
        return std::nullopt;
    try {
        TVornCodec codec;
        UseCustomMethods(codec);
        TRecordLines lines(reader);
        stream.Seek(0);
        codec.ExpandStream(lines, stream);
        return lines.Finish();
    } catch (const EVornError&) {
        return std::nullopt;
    }
}

std::string DescribeRecord(const setup::TUninstallRecord& record, const setup::TRecordReader& counts) {
    std::string text = "id \"" + record.id + "\"";
    if (!record.version.empty()) text += ", version " + record.version;
    if (!record.publisher.empty()) text += ", publisher " + record.publisher;
    text += (record.perUser ? ", per user, " : ", per machine, ") + std::to_string(counts.Files()) + " files";
    if (counts.SharedFiles()) text += " (" + std::to_string(counts.SharedFiles()) + " shared)";
    text += ", " + std::to_string(counts.Links()) + " shortcuts";
    // Records of earlier builds name no product folder, and their removers
    // leave behind what an earlier version installed.
    return text + (record.folder.empty() ? "; upgrades keep what earlier versions installed"
                                         : "; upgrades remove what earlier versions installed and this one does not");
}

setup::TUninstallRecord UninstallRecord(const TManifest& manifest, const std::vector<TBuiltEntry>& built) {
    const TUninstall& uninstall = *manifest.uninstall;
    setup::TUninstallRecord record{.id = uninstall.id, .name = uninstall.name, .version = uninstall.version,
                                   .publisher = uninstall.publisher,
                                   .perUser = manifest.elevation == Elevation::User, .folder = uninstall.folder,
                                   .installedOn = {}, .files = {}, .links = {}};
    for (size_t i = 0; i < built.size(); ++i) {
        const TFileEntry& entry = manifest.files[i];
        record.files.push_back({entry.destination, built[i].installed.size, built[i].installed.digest, entry.removal,
                                entry.shared ? setup::Sharing::Shared : setup::Sharing::Own});
        for (size_t i = 0; i < entry.shortcuts.size(); ++i)
            if (!entry.shortcuts[i].name.empty())
                record.links.push_back({setup::ShortcutFolderName(i, manifest.install.allUsersShortcuts),
                                        entry.shortcuts[i].name, ""});
    }
    return record;
}

TUninstallFiles::TUninstallFiles(const TManifest& manifest, const std::vector<std::string>& signCommand)
    : area_() {
    std::vector<uint8_t> remover = CarriedRemover(*manifest.arch);
    if (remover.empty())
        throw EVornError(std::string("this vornpack carries no ") + manifest.arch->name + " remover for [uninstall]");
    SetElevation(remover, manifest.elevation);
    ApplyFace(manifest, remover);
    ClearPeChecksum(remover);
    WriteFile(area_.UnsignedPath(), remover.data(), remover.size());
    remover_ = area_.UnsignedPath();
    if (!signCommand.empty()) {
        SignProgram(SubstitutePlaceholders(signCommand, area_.UnsignedPath(), area_.SignedPath(),
                                           FromCodePage(manifest.title, manifest.codepage)),
                    area_, manifest.signTimeLimit, "the remover");
        remover_ = area_.SignedPath();
    }
}

std::vector<TFileEntry> TUninstallFiles::Entries(const TManifest& manifest) const {
    const TUninstall& uninstall = *manifest.uninstall;
    TFileEntry record;
    record.destination = uninstall.folder + "\\" + setup::kPackageRecordName;
    record.line = uninstall.line;
    record.made = true;
    TFileEntry remover = record;
    remover.made = false;
    remover.source = remover_;
    remover.destination = uninstall.folder + "\\" + setup::kRemoverName;
    remover.run = RunMode::Now;
    // Much of the remover's code is the installer's own, which the
    // installer holds anyway: LZMA against the stub's program takes a third
    // off what the remover adds to the download, whatever the manifest's
    // methods.
    remover.method = tools::MethodNamed("lzma");
    remover.level = lzma::kMaxLevel;
    remover.seeded = true;
    return {record, remover};
}

}  // namespace vorn::pack
