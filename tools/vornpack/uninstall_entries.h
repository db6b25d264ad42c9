// The package's last two entries under [uninstall]: the record of what the
// package installs, then the remover, started as soon as it is in place.
// Both are made for the build in a private folder that goes with this object.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compress/stream.h"
#include "setup/remover/sha256.h"
#include "setup/remover/uninstall_record.h"
#include "tools/vornpack/manifest.h"
#include "tools/vornpack/package_contents.h"
#include "tools/vornpack/signing.h"

namespace vorn::pack {

// The record of the manifest's entries: each destination as written, with
// the size and SHA-256 of what the installer writes there (a prepared
// stream's expansion), and each shortcut. Raises EVornError when a source
// cannot be read.
setup::TUninstallRecord UninstallRecord(const TManifest& manifest);

// Takes what a codec writes, in order, into a size and a digest.
class TDigestStream : public TNullStream {
public:
    void Write(const void* buffer, size_t n) override {
        sha_.Add(static_cast<const uint8_t*>(buffer), n);
        TNullStream::Write(buffer, n);
    }
    // SHA-256 of what was written, as the record spells it; once only.
    std::string Digest() { return setup::DigestText(sha_.Finish()); }

private:
    setup::TSha256 sha_;
};

// The record an installer's entry holds, if it is one: an entry named like
// the record whose stream expands, alone, to a record.
std::optional<setup::TUninstallRecord> RecordOfEntry(const TPackageEntry& entry, TStream& stream);

// "id \"...\", version ..., per machine, N files, M shortcuts" for a listing.
std::string DescribeRecord(const setup::TUninstallRecord& record);

class TUninstallFiles {
public:
    // The remover gets the installer's execution level, icon and version,
    // and is signed by signCommand when it is not empty. Raises EVornError
    // when this vornpack carries no remover for the manifest's arch, and
    // ESigningError when signing fails.
    TUninstallFiles(const TManifest& manifest, const std::vector<std::string>& signCommand);

    // The record's entry, then the remover's (run now).
    std::vector<TFileEntry> Entries(const TManifest& manifest) const;

private:
    TSigningArea area_;
    std::string remover_;  // the path of the remover to install, signed or not
};

}  // namespace vorn::pack
