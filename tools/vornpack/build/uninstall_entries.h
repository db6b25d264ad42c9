// The package's last two entries under [uninstall]: the record of what the
// package installs, then the remover, started as soon as it is in place.
// Both are made for the build in a private folder that goes with this object.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compress/stream.h"
#include "setup/remover/uninstall_record.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/build/package_builder.h"
#include "tools/vornpack/read/package_contents.h"
#include "tools/vornpack/build/signing.h"
#include "tools/vornpack/build/source_file.h"

namespace vorn::pack {

// The record of the manifest's entries that were built: each destination
// as written, with the size and SHA-256 of what the installer writes there
// (a prepared stream's expansion) as the build took it, and each shortcut.
setup::TUninstallRecord UninstallRecord(const TManifest& manifest, const std::vector<TBuiltEntry>& built);

// Takes what a codec writes as the lines of an uninstall record, for the
// reader it is given; a line longer than any record writes is damage.
class TRecordLines : public TNullStream {
public:
    explicit TRecordLines(setup::TRecordReader& reader) : reader_(reader) {}
    void Write(const void* buffer, size_t n) override;
    // The record once everything is written; empty when it is none.
    std::optional<setup::TUninstallRecord> Finish();

private:
    setup::TRecordReader& reader_;
    std::string pending_;  // the line begun and not yet ended
    bool damaged_ = false;
};

// Whether an entry is named as the uninstall record is.
bool IsRecordEntry(const TPackageEntry& entry);

// The record an installer's entry holds, if it is one: an entry named like
// the record whose stream expands, alone, to a record. Its files and links
// go to the reader's sinks where it has them.
std::optional<setup::TUninstallRecord> RecordOfEntry(const TPackageEntry& entry, TStream& stream,
                                                     setup::TRecordReader& reader);

// "id \"...\", version ..., per machine, N files (K shared), M shortcuts; upgrades ..."
// for a listing, with the counts the reader took.
std::string DescribeRecord(const setup::TUninstallRecord& record, const setup::TRecordReader& counts);

class TUninstallFiles {
public:
    // The remover gets the installer's execution level, icon and version,
    // and is signed by signCommand when it is not empty. Raises EVornError
    // when this vornpack carries no remover for the manifest's arch, and
    // ESigningError when signing fails.
    TUninstallFiles(const TManifest& manifest, const std::vector<std::string>& signCommand);

    // The record's entry, made once the entries before it are built (from
    // UninstallRecord), then the remover's (run now).
    std::vector<TFileEntry> Entries(const TManifest& manifest) const;

private:
    TSigningArea area_;
    std::string remover_;  // the path of the remover to install, signed or not
};

}  // namespace vorn::pack
