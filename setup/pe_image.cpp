#include "setup/pe_image.h"

#include <algorithm>

#include "compress/byte_order.h"

namespace vorn::setup {

namespace {

// Reads exactly n bytes at offset, or nothing (returns false).
bool ReadAt(TStream& file, int64_t offset, uint8_t* out, size_t n) {
    if (offset < 0 || offset + static_cast<int64_t>(n) > file.Size()) return false;
    file.Seek(offset);
    return file.Read(out, n) == n;
}

void ReadOptionalHeader(const uint8_t* optional, int64_t size, TPeHeaders& pe) {
    if (size < pe::kSubsystemField + 2) return;
    pe.optionalMagic = LoadLe16(optional);
    pe.subsystem = LoadLe16(optional + pe::kSubsystemField);
    const int64_t countAt = pe::DirectoryCountAt(pe.optionalMagic);
    if (size < countAt + 4) return;
    pe.directoryCount = LoadLe32(optional + countAt);
    const uint8_t* entry = optional + pe::DirectoriesAt(pe.optionalMagic);
    for (uint32_t i = 0; i < pe.directoryCount && i < pe::kDirectoryMax && entry + 8 <= optional + size;
         ++i, entry += pe::kDirectoryEntrySize)
        pe.directories[i] = {LoadLe32(entry), LoadLe32(entry + 4)};
}

TPeSection SectionAt(const uint8_t* header) {
    return {.virtualSize = LoadLe32(header + pe::kSectionVirtualSizeField),
            .virtualAddress = LoadLe32(header + pe::kSectionAddressField),
            .rawSize = LoadLe32(header + pe::kSectionRawSizeField),
            .rawOffset = LoadLe32(header + pe::kSectionRawOffsetField),
            .flags = LoadLe32(header + pe::kSectionFlagsField)};
}

std::vector<uint8_t> SectionTable(TStream& file, const TPeHeaders& pe) {
    std::vector<uint8_t> table(size_t{pe.sectionCount} * pe::kSectionHeaderSize);
    if (!ReadAt(file, pe.SectionTableAt(), table.data(), table.size())) table.clear();
    return table;
}

}  // namespace

TPeHeaders ReadPeHeaders(TStream& file) {
    uint8_t dos[pe::kDosHeaderSize];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
    TPeHeaders pe;
    pe.peOffset = LoadLe32(dos + pe::kNewHeaderOffsetField);
    uint8_t coff[pe::kFileHeaderSize];
    if (!ReadAt(file, pe.peOffset, coff, sizeof coff) || LoadLe32(coff) != pe::kSignature) return {};
    pe.sectionCount = LoadLe16(coff + pe::kSectionCountField);
    pe.optionalSize = LoadLe16(coff + pe::kOptionalSizeField);
    std::vector<uint8_t> table(size_t{pe.sectionCount} * pe::kSectionHeaderSize);
    if (!ReadAt(file, pe.SectionTableAt(), table.data(), table.size())) return {};

    pe.isPe = true;
    pe.machine = LoadLe16(coff + pe::kMachineField);
    uint8_t optional[pe::kOptionalHeaderMax] = {};
    const int64_t optionalRead = std::min(pe.optionalSize, pe::kOptionalHeaderMax);
    ReadAt(file, pe.OptionalAt(), optional, static_cast<size_t>(optionalRead));
    ReadOptionalHeader(optional, optionalRead, pe);
    pe.imageEnd = pe.SectionTableAt() + static_cast<int64_t>(table.size());
    for (size_t at = 0; at < table.size(); at += pe::kSectionHeaderSize) {
        const uint8_t* header = table.data() + at;
        pe.imageEnd = std::max<int64_t>(pe.imageEnd, int64_t{LoadLe32(header + pe::kSectionRawOffsetField)} +
                                                         LoadLe32(header + pe::kSectionRawSizeField));
    }
    return pe;
}

std::vector<TPeSection> ReadPeSections(TStream& file, const TPeHeaders& pe) {
    const std::vector<uint8_t> table = SectionTable(file, pe);
    std::vector<TPeSection> sections;
    for (size_t at = 0; at < table.size(); at += pe::kSectionHeaderSize) sections.push_back(SectionAt(table.data() + at));
    return sections;
}

}  // namespace vorn::setup
