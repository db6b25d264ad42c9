#include "tools/vornpack/uninstall_entries.h"

#include <fstream>

#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"
#include "setup/folders.h"
#include "setup/install_options.h"
#include "tools/vornpack/codepage.h"
#include "tools/vornpack/execution_level.h"
#include "tools/vornpack/stub_rewrite.h"

namespace vorn::pack {

namespace {

constexpr size_t kReadBlock = 256 << 10;

constexpr int32_t kLongestRecord = 16 << 20;

setup::TRecordedFile Recorded(const TFileEntry& entry) {
    TFileStream source(entry.source.string(), FileMode::OpenRead);
    TDigestStream installed;
    if (entry.method == kAsIs) {
        TVornCodec codec;  // the installer writes the stream's expansion
        lzma::UseLzmaMethod(codec);
        codec.ExpandStream(installed, source);
    } else {
        std::vector<uint8_t> block(kReadBlock);
        while (const size_t n = source.Read(block.data(), block.size())) installed.Write(block.data(), n);
    }
    return {entry.destination, installed.Size(), installed.Digest(), entry.removal};
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) throw EStreamError("Cannot write \"" + path + "\"");
}

}  // namespace

std::optional<setup::TUninstallRecord> RecordOfEntry(const TPackageEntry& entry, TStream& stream) {
    const std::string name = setup::Lowercase(entry.destination);
    if (!name.ends_with(std::string("\\") + setup::kRecordName) || !entry.hasHeader || entry.chainOffset ||
        entry.header.UncompressedSize > kLongestRecord)
        return std::nullopt;
    try {
        TVornCodec codec;
        TMemoryStream text;
        stream.Seek(0);
        codec.ExpandStream(text, stream);
        const std::vector<uint8_t>& bytes = text.Bytes();
        return setup::ParseRecord(std::string(bytes.begin(), bytes.end()));
    } catch (const EVornError&) {
        return std::nullopt;
    }
}

std::string DescribeRecord(const setup::TUninstallRecord& record) {
    std::string text = "id \"" + record.id + "\"";
    if (!record.version.empty()) text += ", version " + record.version;
    if (!record.publisher.empty()) text += ", publisher " + record.publisher;
    return text + (record.perUser ? ", per user, " : ", per machine, ") + std::to_string(record.files.size()) +
           " files, " + std::to_string(record.links.size()) + " shortcuts";
}

setup::TUninstallRecord UninstallRecord(const TManifest& manifest) {
    const TUninstall& uninstall = *manifest.uninstall;
    setup::TUninstallRecord record{.id = uninstall.id, .name = uninstall.name, .version = uninstall.version,
                                   .publisher = uninstall.publisher,
                                   .perUser = manifest.elevation == Elevation::User, .files = {}, .links = {}};
    for (const TFileEntry& entry : manifest.files) {
        record.files.push_back(Recorded(entry));
        for (size_t i = 0; i < entry.shortcuts.size(); ++i)
            if (!entry.shortcuts[i].name.empty())
                record.links.push_back({setup::ShortcutFolderName(i, manifest.install.allUsersShortcuts),
                                        entry.shortcuts[i].name});
    }
    return record;
}

TUninstallFiles::TUninstallFiles(const TManifest& manifest, const std::vector<std::string>& signCommand)
    : area_({setup::kRecordName}) {
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
    const std::string record = setup::RecordText(UninstallRecord(manifest));
    WriteFile(area_.PathOf(setup::kRecordName), record.data(), record.size());
}

std::vector<TFileEntry> TUninstallFiles::Entries(const TManifest& manifest) const {
    const TUninstall& uninstall = *manifest.uninstall;
    TFileEntry record;
    record.source = area_.PathOf(setup::kRecordName);
    record.destination = uninstall.folder + "\\" + setup::kRecordName;
    record.line = uninstall.line;
    TFileEntry remover = record;
    remover.source = remover_;
    remover.destination = uninstall.folder + "\\" + setup::kRemoverName;
    remover.run = RunMode::Now;
    return {record, remover};
}

}  // namespace vorn::pack
