#include "setup/package_reader.h"

#include <algorithm>
#include <vector>

#include "compress/byte_order.h"
#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

// Reads exactly n bytes at offset, or nothing (returns false).
bool ReadAt(TStream& file, int64_t offset, uint8_t* out, size_t n) {
    if (offset < 0 || offset + static_cast<int64_t>(n) > file.Size()) return false;
    file.Seek(offset);
    return file.Read(out, n) == n;
}

constexpr int64_t kDosHeaderSize = 64;
constexpr int64_t kNewHeaderOffsetField = 0x3C;
constexpr int64_t kFileHeaderSize = 24;  // signature and COFF file header
constexpr int64_t kSectionHeaderSize = 40;
constexpr int64_t kOptionalHeaderRead = 152;  // through the certificate directory of PE32+
constexpr int64_t kSubsystemField = 68;
constexpr uint32_t kCertificateDirectory = 4;

// Where the data directories begin in the optional header, by its magic.
int64_t DataDirectoriesAt(uint16_t magic) { return magic == kOptionalMagicPe32 ? 96 : 112; }

void ReadCertificateDirectory(const uint8_t* optional, int64_t size, TPeHeaders& pe) {
    const int64_t directories = DataDirectoriesAt(pe.optionalMagic);
    const int64_t entry = directories + 8 * kCertificateDirectory;
    if (size < entry + 8 || LoadLe32(optional + directories - 4) <= kCertificateDirectory) return;
    pe.certificateOffset = LoadLe32(optional + entry);
    pe.certificateSize = LoadLe32(optional + entry + 4);
}

}  // namespace

TPeHeaders ReadPeHeaders(TStream& file) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
    const int64_t peOffset = LoadLe32(dos + kNewHeaderOffsetField);
    uint8_t coff[kFileHeaderSize];
    if (!ReadAt(file, peOffset, coff, sizeof coff) || LoadLe32(coff) != 0x00004550) return {};
    const int64_t sectionCount = LoadLe16(coff + 6);
    const int64_t optionalSize = LoadLe16(coff + 20);
    const int64_t sectionTable = peOffset + kFileHeaderSize + optionalSize;
    std::vector<uint8_t> sections(static_cast<size_t>(sectionCount * kSectionHeaderSize));
    if (!ReadAt(file, sectionTable, sections.data(), sections.size())) return {};

    TPeHeaders pe{.isPe = true, .machine = LoadLe16(coff + 4)};
    uint8_t optional[kOptionalHeaderRead] = {};
    const int64_t optionalRead = std::min(optionalSize, kOptionalHeaderRead);
    ReadAt(file, peOffset + kFileHeaderSize, optional, static_cast<size_t>(optionalRead));
    if (optionalRead >= kSubsystemField + 2) {
        pe.optionalMagic = LoadLe16(optional);
        pe.subsystem = LoadLe16(optional + kSubsystemField);
        ReadCertificateDirectory(optional, optionalRead, pe);
    }
    pe.imageEnd = sectionTable + static_cast<int64_t>(sections.size());
    for (int64_t i = 0; i < sectionCount; ++i) {
        const uint8_t* header = sections.data() + i * kSectionHeaderSize;
        pe.imageEnd = std::max<int64_t>(pe.imageEnd, int64_t{LoadLe32(header + 20)} + LoadLe32(header + 16));
    }
    return pe;
}

void TPackageReader::Locate() {
    const int64_t size = file_.Size();
    const TPeHeaders pe = ReadPeHeaders(file_);
    end_ = size - kTrailerSize;
    if (pe.certificateOffset != 0 || pe.certificateSize != 0) {
        const int64_t tableEnd = int64_t{pe.certificateOffset} + pe.certificateSize;
        if (tableEnd > size) throw EPackageError("The program's certificate table lies outside the file");
        if (tableEnd == size) {
            end_ = int64_t{pe.certificateOffset} - kTrailerSize;
            signatureSize_ = pe.certificateSize;
        }
    }
    if (end_ < 0) throw EPackageError("No install package: the file is too short");
    uint8_t trailer[kTrailerSize];
    file_.Seek(end_);
    if (file_.Read(trailer, sizeof trailer) != sizeof trailer)
        throw EPackageError("No install package: its start cannot be read");
    const int64_t start = LoadLe32(trailer);
    if (start > end_) throw EPackageError("The install package's start lies outside the file");
    if (start < pe.imageEnd) throw EPackageError("No install package behind the program");
    file_.Seek(start);
    position_ = start;
}

uint8_t TPackageReader::ReadByte(const char* cutShortMessage) {
    uint8_t b = 0;
    if (position_ >= end_ || file_.Read(&b, 1) != 1) throw EPackageError(cutShortMessage);
    ++position_;
    return b;
}

std::string TPackageReader::ReadField() {
    std::string field;
    for (;;) {
        const char c = static_cast<char>(ReadByte("The install package ends inside a text field"));
        if (c == kFieldSeparator) return field;
        field += c;
    }
}

RunMode TPackageReader::ReadRunMode() {
    const uint8_t b = ReadByte("The install package ends before a run mode");
    if (b < '0' || b > '9')
        throw EConvertError("'" + std::string(1, static_cast<char>(b)) +
                            "' is not a valid run mode digit");
    return static_cast<RunMode>(b);
}

uint32_t TPackageReader::ReadStreamLength() {
    uint8_t bytes[kStreamLengthSize];
    for (uint8_t& b : bytes) b = ReadByte("The install package ends inside a stream length");
    return LoadLe32(bytes);
}

void TPackageReader::CopyStream(TStream& dest, uint32_t length) {
    if (length > end_ - position_)
        throw EPackageError("The install package ends inside a stream");
    dest.CopyFrom(file_, length);
    position_ += length;
}

}  // namespace vorn::setup
