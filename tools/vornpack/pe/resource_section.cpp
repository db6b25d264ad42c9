#include "tools/vornpack/pe/resource_section.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

#include "compress/byte_order.h"

namespace vorn::pack {

namespace {

constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kNamedEntriesField = 12;
constexpr size_t kIdEntriesField = 14;
constexpr uint32_t kSubdirectoryBit = 0x80000000;
constexpr size_t kDataAlignment = 8;
constexpr size_t kTreeDepth = 3;  // type, id, language

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

void StoreLe16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }

// Walks the tree of one section's bytes; every offset is checked against them.
class TTreeReader {
public:
    TTreeReader(const uint8_t* section, size_t size, uint32_t sectionAddress)
        : section_(section), size_(size), address_(sectionAddress) {}

    void Walk(uint32_t offset, size_t depth, TResource path, std::vector<TResource>& out) {
        Need(offset, kDirectoryHeaderSize, "a resource directory");
        if (LoadLe16(section_ + offset + kNamedEntriesField) != 0)
            throw EPeImageError("it holds resources with names; vornpack rebuilds numbered ones only");
        const size_t count = LoadLe16(section_ + offset + kIdEntriesField);
        Need(offset + kDirectoryHeaderSize, count * kDirectoryEntrySize, "a resource directory's entries");
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* entry = section_ + offset + kDirectoryHeaderSize + i * kDirectoryEntrySize;
            const auto id = static_cast<uint16_t>(LoadLe32(entry));
            const uint32_t target = LoadLe32(entry + 4);
            (depth == 0 ? path.type : depth == 1 ? path.id : path.language) = id;
            const bool subdirectory = (target & kSubdirectoryBit) != 0;
            if (subdirectory != (depth + 1 < kTreeDepth))
                throw EPeImageError("its resource tree is not three levels deep (type, id, language)");
            if (subdirectory) Walk(target & ~kSubdirectoryBit, depth + 1, path, out);
            else out.push_back(Leaf(target, path));
            // Directories may share entries; a tree that lies this way must not multiply them.
            if (++visited_ > pe::kMaxTreeEntries) throw EPeImageError("its resource tree holds more entries than a program can use");
        }
    }

private:
    void Need(uint64_t offset, uint64_t size, const char* what) const {
        if (offset + size > size_) throw EPeImageError(std::string(what) + " lies outside the resource section");
    }

    TResource Leaf(uint32_t offset, TResource path) {
        Need(offset, kDataEntrySize, "a resource data entry");
        const uint8_t* entry = section_ + offset;
        const uint32_t size = LoadLe32(entry + 4);
        const uint32_t address = LoadLe32(entry);
        if (address < address_) throw EPeImageError("a resource's data lies outside the resource section");
        const uint64_t at = address - address_;
        Need(at, size, "a resource's data");
        path.codePage = LoadLe32(entry + 8);
        // Leaves may share data entries or data; copied as they are listed,
        // they take no more than the section holds, whatever the tree repeats.
        copied_ += size;
        if (copied_ > size_)
            throw EPeImageError("its resources share data: copied leaf by leaf they come to more than the " +
                                std::to_string(size_) + " bytes of the resource section");
        path.data.assign(section_ + at, section_ + at + size);
        return path;
    }

    const uint8_t* section_;
    size_t size_;
    uint32_t address_;
    size_t visited_ = 0;  // directory entries, at every level
    uint64_t copied_ = 0;  // bytes of data taken by the leaves so far
};

size_t DirectorySize(size_t entries) { return kDirectoryHeaderSize + entries * kDirectoryEntrySize; }

// Where each group of a sorted list starts, by the key, and its end as the last element.
template <typename Key>
std::vector<size_t> GroupStarts(size_t count, Key key) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < count; ++i)
        if (i == 0 || key(i) != key(i - 1)) starts.push_back(i);
    starts.push_back(count);
    return starts;
}

// The shape of the tree over resources sorted by type, id and language:
// idStarts[i] is the first resource of the i-th (type, id), typeStarts[t]
// the first of those ids of the t-th type; each ends with its total.
struct TTreeShape {
    std::vector<size_t> idStarts;
    std::vector<size_t> typeStarts;

    explicit TTreeShape(const std::vector<TResource>& r)
        : idStarts(GroupStarts(r.size(), [&](size_t i) { return std::pair(r[i].type, r[i].id); })),
          typeStarts(GroupStarts(idStarts.size() - 1, [&](size_t i) { return r[idStarts[i]].type; })) {}
    size_t Types() const { return typeStarts.size() - 1; }
    size_t Ids() const { return idStarts.size() - 1; }
    size_t Entries() const { return Types() + Ids() + idStarts.back(); }
};

// Writes a directory's header and entries at `at`: entry k names ids(k) and points at targets(k).
template <typename Id, typename Target>
void PutDirectory(std::vector<uint8_t>& bytes, size_t at, size_t count, Id ids, Target targets) {
    StoreLe16(bytes.data() + at + kIdEntriesField, static_cast<uint16_t>(count));
    for (size_t k = 0; k < count; ++k) {
        uint8_t* entry = bytes.data() + at + DirectorySize(k);
        StoreLe32(entry, ids(k));
        StoreLe32(entry + 4, static_cast<uint32_t>(targets(k)));
    }
}

// The bytes of a resource section at the given address: directories
// breadth first (root, types, ids), then the data entries, then the data.
// One pass per level, so linear in the number of resources.
std::vector<uint8_t> SectionBytes(const std::vector<TResource>& resources, uint32_t address) {
    const TTreeShape tree(resources);
    std::vector<size_t> typeAt, idAt;
    size_t at = DirectorySize(tree.Types());
    for (size_t t = 0; t < tree.Types(); ++t) {
        typeAt.push_back(at);
        at += DirectorySize(tree.typeStarts[t + 1] - tree.typeStarts[t]);
    }
    for (size_t i = 0; i < tree.Ids(); ++i) {
        idAt.push_back(at);
        at += DirectorySize(tree.idStarts[i + 1] - tree.idStarts[i]);
    }
    const size_t entriesAt = at;
    size_t dataAt = entriesAt + resources.size() * kDataEntrySize;
    std::vector<size_t> dataOffsets;
    for (const TResource& r : resources) {
        dataOffsets.push_back(dataAt = AlignUp(dataAt, kDataAlignment));
        dataAt += r.data.size();
    }
    std::vector<uint8_t> bytes(dataAt, 0);
    const auto& firstId = tree.idStarts;
    const auto& firstType = tree.typeStarts;
    PutDirectory(bytes, 0, tree.Types(), [&](size_t t) { return resources[firstId[firstType[t]]].type; },
                 [&](size_t t) { return kSubdirectoryBit | typeAt[t]; });
    for (size_t t = 0; t < tree.Types(); ++t)
        PutDirectory(bytes, typeAt[t], firstType[t + 1] - firstType[t],
                     [&](size_t k) { return resources[firstId[firstType[t] + k]].id; },
                     [&](size_t k) { return kSubdirectoryBit | idAt[firstType[t] + k]; });
    for (size_t i = 0; i < tree.Ids(); ++i)
        PutDirectory(bytes, idAt[i], firstId[i + 1] - firstId[i], [&](size_t k) { return resources[firstId[i] + k].language; },
                     [&](size_t k) { return entriesAt + (firstId[i] + k) * kDataEntrySize; });
    for (size_t n = 0; n < resources.size(); ++n) {
        const TResource& r = resources[n];
        uint8_t* entry = bytes.data() + entriesAt + n * kDataEntrySize;
        StoreLe32(entry, address + uint32_t(dataOffsets[n]));
        StoreLe32(entry + 4, uint32_t(r.data.size()));
        StoreLe32(entry + 8, r.codePage);
        std::copy(r.data.begin(), r.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(dataOffsets[n]));
    }
    return bytes;
}

void Put32(std::vector<uint8_t>& image, int64_t at, uint32_t value) { StoreLe32(image.data() + at, value); }
uint32_t Get32(const std::vector<uint8_t>& image, int64_t at) { return LoadLe32(image.data() + at); }

}  // namespace

TPeLayout ReadPeLayout(const std::vector<uint8_t>& image) {
    TMemoryStream stream(image);
    TPeLayout layout;
    layout.headers = setup::ReadPeHeaders(stream);
    if (!layout.headers.isPe) return layout;
    layout.sections = setup::ReadPeSections(stream, layout.headers);
    const int64_t optional = layout.headers.OptionalAt();
    if (layout.headers.optionalSize >= pe::kFileAlignmentField + 4 &&
        optional + pe::kFileAlignmentField + 4 <= static_cast<int64_t>(image.size())) {
        layout.sectionAlignment = LoadLe32(image.data() + optional + pe::kSectionAlignmentField);
        layout.fileAlignment = LoadLe32(image.data() + optional + pe::kFileAlignmentField);
    }
    return layout;
}

std::optional<size_t> ResourceSection(const TPeLayout& layout) {
    const uint32_t address = layout.headers.directories[pe::kResourceDirectory].address;
    if (address == 0) return std::nullopt;
    for (size_t i = 0; i < layout.sections.size(); ++i)
        if (layout.sections[i].virtualAddress == address) return i;
    return std::nullopt;
}

namespace {

constexpr uint32_t kMinFileAlignment = 512;
constexpr uint32_t kMaxAlignment = 0x10000;

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::string HexText(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// The loader maps sections at SectionAlignment and reads them at
// FileAlignment; anything else would also let a rebuild pad without bound.
std::string AlignmentProblem(const TPeLayout& pe) {
    if (!PowerOfTwo(pe.fileAlignment) || pe.fileAlignment < kMinFileAlignment || pe.fileAlignment > kMaxAlignment)
        return "its FileAlignment is " + HexText(pe.fileAlignment) + "; it must be a power of two from 512 to 65536";
    if (!PowerOfTwo(pe.sectionAlignment) || pe.sectionAlignment < pe.fileAlignment || pe.sectionAlignment > kMaxAlignment)
        return "its SectionAlignment is " + HexText(pe.sectionAlignment) +
               "; it must be a power of two from its FileAlignment (" + HexText(pe.fileAlignment) + ") to 65536";
    return "";
}

// Two sections mapped over each other: the loader of 32-bit Windows refuses
// such a program ("Bad EXE format"), and a rebuild would move one without
// the other.
std::string MemoryOverlapProblem(const std::vector<setup::TPeSection>& sections) {
    std::vector<size_t> order(sections.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return sections[a].virtualAddress < sections[b].virtualAddress; });
    const auto end = [&](size_t i) {
        const setup::TPeSection& s = sections[i];
        return uint64_t{s.virtualAddress} + (s.virtualSize != 0 ? s.virtualSize : s.rawSize);
    };
    for (size_t k = 1; k < order.size(); ++k)
        if (sections[order[k]].virtualAddress < end(order[k - 1]))
            return "its section " + std::to_string(order[k] + 1) + " (at " + HexText(sections[order[k]].virtualAddress) +
                   ") lies in memory inside its section " + std::to_string(order[k - 1] + 1) + ", which ends at " +
                   HexText(end(order[k - 1]));
    return "";
}

}  // namespace

std::string SectionLayoutProblem(const TPeLayout& layout, size_t fileSize) {
    if (std::string problem = AlignmentProblem(layout); !problem.empty()) return problem;
    const std::optional<size_t> resources = ResourceSection(layout);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const setup::TPeSection& section = layout.sections[i];
        const std::string name = "its section " + std::to_string(i + 1);
        if (uint64_t{section.rawOffset} + section.rawSize > fileSize)
            return name + " lies outside the file (the file is cut short, or the section lies)";
        if ((section.rawSize != 0 || i == resources) && section.rawOffset < layout.headers.HeadersEnd())
            return name + "'s raw data (at offset " + HexText(section.rawOffset) + ") overlaps the headers, which end at " +
                   HexText(static_cast<uint64_t>(layout.headers.HeadersEnd()));
    }
    return MemoryOverlapProblem(layout.sections);
}

std::vector<TResource> ReadResources(const std::vector<uint8_t>& image) {
    const TPeLayout layout = ReadPeLayout(image);
    const std::optional<size_t> index = ResourceSection(layout);
    if (!index) return {};
    const setup::TPeSection* section = &layout.sections[*index];
    if (uint64_t{section->rawOffset} + section->rawSize > image.size())
        throw EPeImageError("its resource section lies outside the file");
    // Raw data past the virtual size is only the file alignment's padding.
    const size_t size = section->virtualSize != 0 ? std::min(section->rawSize, section->virtualSize) : section->rawSize;
    std::vector<TResource> resources;
    TTreeReader(image.data() + section->rawOffset, size, section->virtualAddress).Walk(0, 0, {}, resources);
    return resources;
}

const TResource* FindResource(const std::vector<TResource>& resources, uint16_t type) {
    const auto found = std::find_if(resources.begin(), resources.end(), [&](const TResource& r) { return r.type == type; });
    return found == resources.end() ? nullptr : &*found;
}

namespace {

// How the resource section changes size, and so how far what follows it moves.
struct TSectionChange {
    size_t index = 0;  // of the resource section
    setup::TPeSection before;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    int64_t rawShift = 0;
    int64_t addressShift = 0;
};

// Raises EPeImageError unless the headers can be rewritten, they and every
// section listed before the resources lie in front of them (so the rebuilt
// image keeps them in place, headers whole), and every section behind the
// resources is one that no code addresses (discardable, such as the base
// relocations), laid out behind them in the file and in memory.
void CheckRebuildable(const TPeLayout& layout, size_t index, const std::vector<uint8_t>& image) {
    const setup::TPeHeaders& pe = layout.headers;
    const int64_t directoriesEnd = pe::DirectoriesAt(pe.optionalMagic) +
                                   int64_t{std::min(pe.directoryCount, pe::kDirectoryMax)} * pe::kDirectoryEntrySize;
    if (pe.optionalSize < directoriesEnd || pe.directoryCount <= pe::kResourceDirectory)
        throw EPeImageError("its optional header is too short to rewrite");
    if (const std::string problem = SectionLayoutProblem(layout, image.size()); !problem.empty())
        throw EPeImageError(problem);
    const setup::TPeSection& rsrc = layout.sections[index];
    for (size_t i = 0; i < index; ++i) {
        const setup::TPeSection& before = layout.sections[i];
        const bool behindInFile = before.rawSize != 0 && uint64_t{before.rawOffset} + before.rawSize > rsrc.rawOffset;
        if (behindInFile || before.virtualAddress > rsrc.virtualAddress)
            throw EPeImageError("section " + std::to_string(i + 1) + ", listed before its resources, lies behind them " +
                                (behindInFile ? "in the file" : "in memory") + " and would be moved without its header");
    }
    const uint64_t end = uint64_t{rsrc.rawOffset} + rsrc.rawSize;
    for (size_t i = index + 1; i < layout.sections.size(); ++i)
        if (const setup::TPeSection& behind = layout.sections[i]; (behind.flags & pe::kSectionDiscardable) == 0 ||
            behind.virtualAddress < rsrc.virtualAddress || (behind.rawSize != 0 && behind.rawOffset < end))
            throw EPeImageError("section " + std::to_string(i + 1) + ", behind its resources, cannot be moved");
}

// The section table, the data directories, the image size and the size of
// the initialized data, after the change.
void RewriteHeaders(std::vector<uint8_t>& image, const TPeLayout& layout, const TSectionChange& change) {
    const setup::TPeHeaders& pe = layout.headers;
    auto header = [&](size_t i) { return pe.SectionTableAt() + static_cast<int64_t>(i) * pe::kSectionHeaderSize; };
    Put32(image, header(change.index) + pe::kSectionVirtualSizeField, change.virtualSize);
    Put32(image, header(change.index) + pe::kSectionRawSizeField, change.rawSize);
    for (size_t i = change.index + 1; i < layout.sections.size(); ++i) {
        const setup::TPeSection& moved = layout.sections[i];
        Put32(image, header(i) + pe::kSectionAddressField, static_cast<uint32_t>(moved.virtualAddress + change.addressShift));
        if (moved.rawSize != 0)
            Put32(image, header(i) + pe::kSectionRawOffsetField, static_cast<uint32_t>(moved.rawOffset + change.rawShift));
    }
    const int64_t optional = pe.OptionalAt();
    const int64_t directories = optional + pe::DirectoriesAt(pe.optionalMagic);
    for (uint32_t d = 0; d < std::min(pe.directoryCount, pe::kDirectoryMax); ++d) {
        const int64_t at = directories + d * pe::kDirectoryEntrySize;
        if (d == pe::kResourceDirectory) Put32(image, at + 4, change.virtualSize);
        else if (d != pe::kCertificateDirectory && pe.directories[d].address > change.before.virtualAddress)
            Put32(image, at, static_cast<uint32_t>(pe.directories[d].address + change.addressShift));
    }
    auto add = [&](int64_t field, int64_t delta) { Put32(image, optional + field, uint32_t(Get32(image, optional + field) + delta)); };
    add(pe::kImageSizeField, change.addressShift);
    add(pe::kInitializedDataField, change.rawShift);
}

}  // namespace

void ReplaceResources(std::vector<uint8_t>& image, std::vector<TResource> resources) {
    const TPeLayout layout = ReadPeLayout(image);
    const std::optional<size_t> index = ResourceSection(layout);
    if (!index) throw EPeImageError("it has no resource section");
    CheckRebuildable(layout, *index, image);
    const uint32_t sectionAlignment = layout.sectionAlignment;
    const uint32_t fileAlignment = layout.fileAlignment;

    std::sort(resources.begin(), resources.end(), [](const TResource& a, const TResource& b) {
        return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
    });
    if (const size_t entries = TTreeShape(resources).Entries(); entries > pe::kMaxTreeEntries)
        throw EPeImageError("its resources would take " + std::to_string(entries) +
                            " directory entries; vornpack reads back at most " + std::to_string(pe::kMaxTreeEntries));
    TSectionChange change{.index = *index, .before = layout.sections[*index]};
    std::vector<uint8_t> section = SectionBytes(resources, change.before.virtualAddress);
    change.virtualSize = static_cast<uint32_t>(section.size());
    section.resize(AlignUp(section.size(), fileAlignment), 0);
    change.rawSize = static_cast<uint32_t>(section.size());
    change.rawShift = int64_t{change.rawSize} - change.before.rawSize;
    change.addressShift = static_cast<int64_t>(AlignUp(change.virtualSize, sectionAlignment)) -
                          static_cast<int64_t>(AlignUp(std::max(change.before.virtualSize, change.before.rawSize), sectionAlignment));

    const auto start = static_cast<std::ptrdiff_t>(change.before.rawOffset);
    std::vector<uint8_t> rebuilt(image.begin(), image.begin() + start);
    rebuilt.insert(rebuilt.end(), section.begin(), section.end());
    rebuilt.insert(rebuilt.end(), image.begin() + start + change.before.rawSize, image.end());
    RewriteHeaders(rebuilt, layout, change);
    image = std::move(rebuilt);
}

void ClearPeChecksum(std::vector<uint8_t>& image) {
    TMemoryStream stream(image);
    const setup::TPeHeaders pe = setup::ReadPeHeaders(stream);
    if (pe.isPe && pe.OptionalAt() + pe::kChecksumField + 4 <= static_cast<int64_t>(image.size()))
        Put32(image, pe.OptionalAt() + pe::kChecksumField, 0);
}

}  // namespace vorn::pack
