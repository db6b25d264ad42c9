#include "setup/pe_resources.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "compress/byte_order.h"

namespace vorn::setup {

namespace {

constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kNamedEntriesField = 12;
constexpr size_t kIdEntriesField = 14;
constexpr uint32_t kSubdirectoryBit = 0x80000000;
constexpr size_t kDataAlignment = 8;
constexpr size_t kTreeDepth = 3;  // type, id, language
constexpr size_t kMaxResources = 0xFFFF;

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
            if (++visited_ > kMaxResources) throw EPeImageError("its resource tree holds more entries than a program can use");
        }
    }

private:
    void Need(uint64_t offset, uint64_t size, const char* what) const {
        if (offset + size > size_) throw EPeImageError(std::string(what) + " lies outside the resource section");
    }

    TResource Leaf(uint32_t offset, TResource path) const {
        Need(offset, kDataEntrySize, "a resource data entry");
        const uint8_t* entry = section_ + offset;
        const uint32_t size = LoadLe32(entry + 4);
        const uint32_t address = LoadLe32(entry);
        if (address < address_) throw EPeImageError("a resource's data lies outside the resource section");
        const uint64_t at = address - address_;
        Need(at, size, "a resource's data");
        path.codePage = LoadLe32(entry + 8);
        path.data.assign(section_ + at, section_ + at + size);
        return path;
    }

    const uint8_t* section_;
    size_t size_;
    uint32_t address_;
    size_t visited_ = 0;  // directory entries, at every level
};

// The bytes of a resource section at the given address: directories
// breadth first (root, types, ids), then the data entries, then the data.
std::vector<uint8_t> SectionBytes(const std::vector<TResource>& resources, uint32_t address) {
    using Key = std::pair<uint16_t, uint16_t>;
    std::vector<uint16_t> types;
    std::vector<Key> ids;
    for (const TResource& r : resources) {
        if (types.empty() || types.back() != r.type) types.push_back(r.type);
        if (ids.empty() || ids.back() != Key{r.type, r.id}) ids.push_back({r.type, r.id});
    }
    auto directorySize = [](size_t entries) { return kDirectoryHeaderSize + entries * kDirectoryEntrySize; };
    std::vector<size_t> typeAt, idAt;
    size_t at = directorySize(types.size());
    for (uint16_t type : types) {
        typeAt.push_back(at);
        at += directorySize(std::count_if(ids.begin(), ids.end(), [&](const Key& k) { return k.first == type; }));
    }
    for (const Key& key : ids) {
        idAt.push_back(at);
        at += directorySize(std::count_if(resources.begin(), resources.end(),
                                          [&](const TResource& r) { return Key{r.type, r.id} == key; }));
    }
    const size_t entriesAt = at;
    size_t dataAt = entriesAt + resources.size() * kDataEntrySize;
    std::vector<size_t> dataOffsets;
    for (const TResource& r : resources) {
        dataAt = AlignUp(dataAt, kDataAlignment);
        dataOffsets.push_back(dataAt);
        dataAt += r.data.size();
    }
    std::vector<uint8_t> bytes(dataAt, 0);
    std::vector<size_t> filled(typeAt.size() + idAt.size() + 1, 0);  // entries written per directory
    auto addEntry = [&](size_t directory, size_t slot, uint16_t id, uint32_t target) {
        uint8_t* header = bytes.data() + directory;
        StoreLe16(header + kIdEntriesField, static_cast<uint16_t>(LoadLe16(header + kIdEntriesField) + 1));
        uint8_t* entry = header + kDirectoryHeaderSize + filled[slot]++ * kDirectoryEntrySize;
        StoreLe32(entry, id);
        StoreLe32(entry + 4, target);
    };
    for (size_t t = 0; t < types.size(); ++t) addEntry(0, 0, types[t], kSubdirectoryBit | uint32_t(typeAt[t]));
    for (size_t i = 0; i < ids.size(); ++i) {
        const size_t t = std::find(types.begin(), types.end(), ids[i].first) - types.begin();
        addEntry(typeAt[t], 1 + t, ids[i].second, kSubdirectoryBit | uint32_t(idAt[i]));
    }
    for (size_t n = 0; n < resources.size(); ++n) {
        const TResource& r = resources[n];
        const size_t i = std::find(ids.begin(), ids.end(), Key{r.type, r.id}) - ids.begin();
        const size_t entry = entriesAt + n * kDataEntrySize;
        addEntry(idAt[i], 1 + types.size() + i, r.language, uint32_t(entry));
        StoreLe32(bytes.data() + entry, address + uint32_t(dataOffsets[n]));
        StoreLe32(bytes.data() + entry + 4, uint32_t(r.data.size()));
        StoreLe32(bytes.data() + entry + 8, r.codePage);
        std::copy(r.data.begin(), r.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(dataOffsets[n]));
    }
    return bytes;
}

void Put32(std::vector<uint8_t>& image, int64_t at, uint32_t value) { StoreLe32(image.data() + at, value); }
uint32_t Get32(const std::vector<uint8_t>& image, int64_t at) { return LoadLe32(image.data() + at); }

}  // namespace

TPeLayout ReadPeLayout(const std::vector<uint8_t>& image) {
    TMemoryStream stream(image);
    TPeLayout layout{.headers = ReadPeHeaders(stream), .sections = {}};
    if (layout.headers.isPe) layout.sections = ReadPeSections(stream, layout.headers);
    return layout;
}

std::optional<size_t> ResourceSection(const TPeLayout& layout) {
    const uint32_t address = layout.headers.directories[pe::kResourceDirectory].address;
    if (address == 0) return std::nullopt;
    for (size_t i = 0; i < layout.sections.size(); ++i)
        if (layout.sections[i].virtualAddress == address) return i;
    return std::nullopt;
}

std::vector<TResource> ReadResources(const std::vector<uint8_t>& image) {
    const TPeLayout layout = ReadPeLayout(image);
    const std::optional<size_t> index = ResourceSection(layout);
    if (!index) return {};
    const TPeSection* section = &layout.sections[*index];
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
    TPeSection before;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    int64_t rawShift = 0;
    int64_t addressShift = 0;
};

// Raises EPeImageError unless the headers can be rewritten and every section
// behind the resources is one that no code addresses (discardable, such as
// the base relocations), laid out behind them in the file and in memory.
void CheckRebuildable(const TPeLayout& layout, size_t index, const std::vector<uint8_t>& image) {
    const TPeHeaders& pe = layout.headers;
    const int64_t directoriesEnd = pe::DirectoriesAt(pe.optionalMagic) +
                                   int64_t{std::min(pe.directoryCount, pe::kDirectoryMax)} * pe::kDirectoryEntrySize;
    if (pe.optionalSize < directoriesEnd || pe.directoryCount <= pe::kResourceDirectory)
        throw EPeImageError("its optional header is too short to rewrite");
    const TPeSection& rsrc = layout.sections[index];
    const uint64_t end = uint64_t{rsrc.rawOffset} + rsrc.rawSize;
    if (end > image.size()) throw EPeImageError("its resource section lies outside the file");
    for (size_t i = index + 1; i < layout.sections.size(); ++i)
        if (const TPeSection& behind = layout.sections[i]; (behind.flags & pe::kSectionDiscardable) == 0 ||
            behind.virtualAddress < rsrc.virtualAddress || (behind.rawSize != 0 && behind.rawOffset < end))
            throw EPeImageError("section " + std::to_string(i + 1) + ", behind its resources, cannot be moved");
}

// The section table, the data directories, the image size and the size of
// the initialized data, after the change.
void RewriteHeaders(std::vector<uint8_t>& image, const TPeLayout& layout, const TSectionChange& change) {
    const TPeHeaders& pe = layout.headers;
    auto header = [&](size_t i) { return pe.SectionTableAt() + static_cast<int64_t>(i) * pe::kSectionHeaderSize; };
    Put32(image, header(change.index) + pe::kSectionVirtualSizeField, change.virtualSize);
    Put32(image, header(change.index) + pe::kSectionRawSizeField, change.rawSize);
    for (size_t i = change.index + 1; i < layout.sections.size(); ++i) {
        const TPeSection& moved = layout.sections[i];
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
    const int64_t optional = layout.headers.OptionalAt();
    const uint32_t sectionAlignment = std::max(Get32(image, optional + pe::kSectionAlignmentField), 1u);
    const uint32_t fileAlignment = std::max(Get32(image, optional + pe::kFileAlignmentField), 1u);

    std::sort(resources.begin(), resources.end(), [](const TResource& a, const TResource& b) {
        return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
    });
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
    const TPeHeaders pe = ReadPeHeaders(stream);
    if (pe.isPe && pe.OptionalAt() + pe::kChecksumField + 4 <= static_cast<int64_t>(image.size()))
        Put32(image, pe.OptionalAt() + pe::kChecksumField, 0);
}

}  // namespace vorn::setup
