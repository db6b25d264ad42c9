// Reads the install package appended to the installer's own file, strictly
// front to back. Every read stops at the 4-byte trailer: a package cut short
// raises EPackageError instead of running on into the trailer or past it.
// The trailer is the file's last 4 bytes, or, in a signed file, the 4 bytes
// right before the certificate table that closes the file.
#pragma once

#include <cstdint>
#include <string>

#include "compress/stream.h"
#include "setup/package_format.h"
#include "setup/pe_image.h"

namespace vorn::setup {

class TPackageReader {
public:
    explicit TPackageReader(TStream& file) : file_(file) {}

    // Reads the trailer and seeks to the title. Raises EPackageError when
    // the file has no package behind its program image, the trailer points
    // outside the file or the certificate directory does. (A table that
    // does not close the file leaves the trailer at the file's end; the
    // tools name that case before they read, the stub spends no bytes on it.)
    void Locate();
    // The bytes of the certificate table behind the package; 0 unsigned.
    uint32_t SignatureSize() const { return signatureSize_; }
    // The bytes up to the next separator, which is consumed.
    std::string ReadField();
    // One byte that must be a decimal digit; raises EConvertError otherwise.
    RunMode ReadRunMode();
    uint32_t ReadStreamLength();
    // The next entry's fields; false at the end marker.
    bool ReadEntryFields(TEntryFields& fields) {
        return WalkEntryFields(
            [&] {
                fields.destination = ReadField();
                return !fields.destination.empty();
            },
            [&] { fields.runMode = ReadRunMode(); }, [&](size_t i) { fields.shortcuts[i] = ReadField(); },
            [&] { fields.replaceRule = ReadField(); });
    }
    // Copies the next length bytes, which must lie inside the package.
    void CopyStream(TStream& dest, uint32_t length);
    // Steps over the next length bytes, which must lie inside the package,
    // and returns where they start; the file is left at their end.
    int64_t SkipStream(uint32_t length);

private:
    uint8_t ReadByte(const char* cutShortMessage);

    TStream& file_;
    int64_t position_ = 0;
    int64_t end_ = 0;  // where the trailer begins
    uint32_t signatureSize_ = 0;
};

}  // namespace vorn::setup
