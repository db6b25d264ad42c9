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

namespace vorn::setup {

class TPackageReader {
public:
    explicit TPackageReader(TStream& file) : file_(file) {}

    // Reads the trailer and seeks to the title. Raises EPackageError when
    // the file has no package behind its program image, the trailer points
    // outside the file or the certificate directory does.
    void Locate();
    // The bytes of the certificate table behind the package; 0 unsigned.
    uint32_t SignatureSize() const { return signatureSize_; }
    // The bytes up to the next separator, which is consumed.
    std::string ReadField();
    // One byte that must be a decimal digit; raises EConvertError otherwise.
    RunMode ReadRunMode();
    uint32_t ReadStreamLength();
    // The next entry's fields, in package order; false at the end marker.
    // (The installer reads them one at a time, acting between them.)
    bool ReadEntryFields(TEntryFields& fields) {
        fields.destination = ReadField();
        if (fields.destination.empty()) return false;
        fields.runMode = ReadRunMode();
        for (std::string& shortcut : fields.shortcuts) shortcut = ReadField();
        fields.replaceRule = ReadField();
        return true;
    }
    // Copies the next length bytes, which must lie inside the package.
    void CopyStream(TStream& dest, uint32_t length);

private:
    uint8_t ReadByte(const char* cutShortMessage);

    TStream& file_;
    int64_t position_ = 0;
    int64_t end_ = 0;  // where the trailer begins
    uint32_t signatureSize_ = 0;
};

inline constexpr uint16_t kMachineI386 = 0x14C;
inline constexpr uint16_t kOptionalMagicPe32 = 0x10B;
inline constexpr uint16_t kSubsystemWindowsGui = 2;

// What the headers of a PE file say. All zero when the file does not start
// like one; the certificate directory is zero when the optional header is
// too short to hold it.
struct TPeHeaders {
    bool isPe = false;
    uint16_t machine = 0;
    uint16_t optionalMagic = 0;
    uint16_t subsystem = 0;
    int64_t imageEnd = 0;  // the furthest end of a section's raw data
    uint32_t certificateOffset = 0;  // a file offset, unlike other directories
    uint32_t certificateSize = 0;
};

// Reads the headers through the stream, never outside the file.
TPeHeaders ReadPeHeaders(TStream& file);

}  // namespace vorn::setup
