#include "setup/package_reader.h"

#include <algorithm>
#include <vector>

#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

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

}  // namespace

int64_t ExecutableImageEnd(TStream& file) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const int64_t peOffset = Le32(dos + kNewHeaderOffsetField);
    uint8_t pe[kFileHeaderSize];
    if (!ReadAt(file, peOffset, pe, sizeof pe) || Le32(pe) != 0x00004550) return 0;
    const int64_t sectionCount = Le16(pe + 6);
    const int64_t sectionTable = peOffset + kFileHeaderSize + Le16(pe + 20);
    std::vector<uint8_t> sections(static_cast<size_t>(sectionCount * kSectionHeaderSize));
    if (!ReadAt(file, sectionTable, sections.data(), sections.size())) return 0;
    int64_t end = sectionTable + static_cast<int64_t>(sections.size());
    for (int64_t i = 0; i < sectionCount; ++i) {
        const uint8_t* header = sections.data() + i * kSectionHeaderSize;
        end = std::max<int64_t>(end, int64_t{Le32(header + 20)} + Le32(header + 16));
    }
    return end;
}

void TPackageReader::Locate() {
    const int64_t size = file_.Size();
    if (size < kTrailerSize) throw EPackageError("No install package: the file is too short");
    uint8_t trailer[kTrailerSize];
    file_.Seek(size - kTrailerSize);
    if (file_.Read(trailer, sizeof trailer) != sizeof trailer)
        throw EPackageError("No install package: its start cannot be read");
    const int64_t start = Le32(trailer);
    end_ = size - kTrailerSize;
    if (start > end_) throw EPackageError("The install package's start lies outside the file");
    if (start < ExecutableImageEnd(file_))
        throw EPackageError("No install package behind the program");
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

int32_t TPackageReader::ReadRunMode() {
    const uint8_t b = ReadByte("The install package ends before a run mode");
    if (b < '0' || b > '9')
        throw EConvertError("'" + std::string(1, static_cast<char>(b)) +
                            "' is not a valid run mode digit");
    return b - '0';
}

uint32_t TPackageReader::ReadStreamLength() {
    uint8_t bytes[4];
    for (uint8_t& b : bytes) b = ReadByte("The install package ends inside a stream length");
    return Le32(bytes);
}

void TPackageReader::CopyStream(TStream& dest, uint32_t length) {
    if (length > end_ - position_)
        throw EPackageError("The install package ends inside a stream");
    dest.CopyFrom(file_, length);
    position_ += length;
}

}  // namespace vorn::setup
