// PE images: the named offsets of the headers and one reader, from the DOS
// header through the PE header, the optional header and its data
// directories to the section table. The installer uses it to find the
// certificate table behind its package; vornpack uses it to check and
// rewrite stubs (tools/vornpack/pe/) and to read installers back.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "compress/stream.h"

namespace vorn::setup {

namespace pe {
inline constexpr int64_t kDosHeaderSize = 64;
inline constexpr int64_t kNewHeaderOffsetField = 0x3C;  // in the DOS header
inline constexpr uint32_t kSignature = 0x00004550;      // "PE\0\0"
// The COFF file header, counted from the PE signature.
inline constexpr int64_t kMachineField = 4;
inline constexpr int64_t kSectionCountField = 6;
inline constexpr int64_t kOptionalSizeField = 20;
inline constexpr int64_t kFileHeaderSize = 24;  // signature and COFF file header
// The optional header, counted from its start; the same for PE32 and PE32+
// up to the subsystem.
inline constexpr int64_t kInitializedDataField = 8;
inline constexpr int64_t kSectionAlignmentField = 32;
inline constexpr int64_t kFileAlignmentField = 36;
inline constexpr int64_t kImageSizeField = 56;
inline constexpr int64_t kHeadersSizeField = 60;
inline constexpr int64_t kChecksumField = 64;
inline constexpr int64_t kSubsystemField = 68;
inline constexpr int64_t kOptionalHeaderMax = 240;  // PE32+ with all 16 directories
inline constexpr int64_t kDirectoryEntrySize = 8;   // address and size
inline constexpr uint32_t kDirectoryMax = 16;
// Section headers, counted from each one's start.
inline constexpr int64_t kSectionHeaderSize = 40;
inline constexpr int64_t kSectionVirtualSizeField = 8;
inline constexpr int64_t kSectionAddressField = 12;
inline constexpr int64_t kSectionRawSizeField = 16;
inline constexpr int64_t kSectionRawOffsetField = 20;
inline constexpr int64_t kSectionFlagsField = 36;
inline constexpr uint32_t kSectionDiscardable = 0x02000000;
inline constexpr uint32_t kSectionUninitialized = 0x00000080;

inline constexpr uint16_t kMachineI386 = 0x14C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kOptionalMagicPe32 = 0x10B;
inline constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;
inline constexpr uint16_t kSubsystemWindowsGui = 2;
inline constexpr uint16_t kSubsystemWindowsConsole = 3;

// Data directory indices.
inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kCertificateDirectory = 4;  // a file offset, unlike the others
inline constexpr uint32_t kRelocationDirectory = 5;

// Where the number of directories and the directories begin in the optional
// header, by its magic.
constexpr int64_t DirectoryCountAt(uint16_t magic) { return magic == kOptionalMagicPe32 ? 92 : 108; }
constexpr int64_t DirectoriesAt(uint16_t magic) { return DirectoryCountAt(magic) + 4; }
}  // namespace pe

struct TPeSection {
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    uint32_t flags = 0;
};

struct TDataDirectory {
    uint32_t address = 0;
    uint32_t size = 0;
};

// What the headers of a PE file say. isPe is false (and the rest zero) when
// the file does not start like one; directories the optional header is too
// short to hold read as zero.
struct TPeHeaders {
    bool isPe = false;
    uint16_t machine = 0;
    uint16_t optionalMagic = 0;
    uint16_t subsystem = 0;
    int64_t peOffset = 0;      // of the PE signature
    int64_t optionalSize = 0;  // as the file header states it
    uint32_t directoryCount = 0;
    std::array<TDataDirectory, pe::kDirectoryMax> directories{};
    uint16_t sectionCount = 0;
    int64_t imageEnd = 0;  // the furthest end of the headers and of a section's raw data

    int64_t OptionalAt() const { return peOffset + pe::kFileHeaderSize; }
    int64_t SectionTableAt() const { return OptionalAt() + optionalSize; }
    int64_t HeadersEnd() const { return SectionTableAt() + int64_t{sectionCount} * pe::kSectionHeaderSize; }
    const TDataDirectory& Certificate() const { return directories[pe::kCertificateDirectory]; }
};

// Reads the headers through the stream, never outside the file.
TPeHeaders ReadPeHeaders(TStream& file);
// The section table of a file whose headers were read (the installer needs
// only their end, which ReadPeHeaders gives).
std::vector<TPeSection> ReadPeSections(TStream& file, const TPeHeaders& pe);

}  // namespace vorn::setup
