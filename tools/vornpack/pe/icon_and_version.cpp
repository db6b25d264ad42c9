#include "tools/vornpack/pe/icon_and_version.h"

#include <algorithm>
#include <charconv>

#include "compress/byte_order.h"

namespace vorn::pack {

namespace {

constexpr uint16_t kIconFileType = 1;
constexpr size_t kIconDirSize = 6;        // reserved, type, count
constexpr size_t kIconFileEntrySize = 16; // the common 12 bytes and the image's file offset
constexpr size_t kIconGroupEntrySize = 14; // the common 12 bytes and the icon resource id
constexpr uint16_t kGroupId = 1;
constexpr size_t kIconSideMax = 256;  // a directory entry's 0 stands for it

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t kPngChunkOverhead = 12;  // length, type and CRC around the data
constexpr uint32_t kPngHeaderLength = 13;  // of the IHDR chunk's data
constexpr uint32_t kPngChunkMax = 0x7FFFFFFF;

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kFixedStructVersion = 0x00010000;
constexpr uint32_t kFileFlagsMask = 0x3F;
constexpr uint32_t kFileOsNtWindows32 = 0x00040004;
constexpr uint32_t kFileTypeApp = 1;
constexpr size_t kFixedInfoSize = 52;
constexpr uint16_t kUnicodeCodePage = 1200;
constexpr char kStringTableKey[] = "040904B0";  // U.S. English, Unicode
constexpr size_t kBlockHeaderSize = 6;          // length, value length, type
constexpr uint16_t kBinaryValue = 0;
constexpr uint16_t kTextValue = 1;
constexpr size_t kMaxBlock = 0xFFFF;

void Append16(std::vector<uint8_t>& out, uint16_t v) { out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8)); }
void Append32(std::vector<uint8_t>& out, uint32_t v) { Append16(out, uint16_t(v)), Append16(out, uint16_t(v >> 16)); }
void Pad4(std::vector<uint8_t>& out) { out.resize((out.size() + 3) & ~size_t{3}, 0); }

// UTF-8 to UTF-16 code units; raises EFaceError on a malformed sequence.
std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > utf8.size()) throw EFaceError("the text is not UTF-8");
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(utf8[i + k]);
            if ((next >> 6) != 2) throw EFaceError("the text is not UTF-8");
            code = code << 6 | (next & 0x3F);
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;  // an unpaired surrogate has no UTF-8: the replacement character stands in
        if (code < 0x80) out += char(code);
        else if (code < 0x800) out += {char(0xC0 | code >> 6), char(0x80 | (code & 0x3F))};
        else if (code < 0x10000) out += {char(0xE0 | code >> 12), char(0x80 | (code >> 6 & 0x3F)), char(0x80 | (code & 0x3F))};
        else out += {char(0xF0 | code >> 18), char(0x80 | (code >> 12 & 0x3F)), char(0x80 | (code >> 6 & 0x3F)), char(0x80 | (code & 0x3F))};
    }
    return out;
}

void AppendText(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t c : text) Append16(out, c);
    Append16(out, 0);
}

// One block of the version resource: header, key, value, children, each
// starting on a 32-bit boundary. Raises EFaceError past 16-bit lengths.
std::vector<uint8_t> Block(const std::u16string& key, uint16_t type, const std::vector<uint8_t>& value,
                           uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> out(kBlockHeaderSize, 0);
    AppendText(out, key);
    Pad4(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const std::vector<uint8_t>& child : children) {
        Pad4(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    if (out.size() > kMaxBlock) throw EFaceError("the version strings do not fit the 64 KiB of a version resource");
    out[0] = uint8_t(out.size()), out[1] = uint8_t(out.size() >> 8);
    out[2] = uint8_t(valueLength), out[3] = uint8_t(valueLength >> 8);
    out[4] = uint8_t(type);
    return out;
}

uint32_t High(const TFourPartVersion& v) { return uint32_t{v[0]} << 16 | v[1]; }
uint32_t Low(const TFourPartVersion& v) { return uint32_t{v[2]} << 16 | v[3]; }

std::vector<uint8_t> FixedInfo(const TVersionInfo& info) {
    std::vector<uint8_t> out;
    for (uint32_t v : {kFixedSignature, kFixedStructVersion, High(info.fileVersion), Low(info.fileVersion),
                       High(info.productVersion), Low(info.productVersion), kFileFlagsMask, 0u, kFileOsNtWindows32,
                       kFileTypeApp, 0u, 0u, 0u})
        Append32(out, v);
    return out;
}

// A parsed block of the version resource, its children as offsets.
struct TBlockView {
    std::u16string key;
    size_t valueAt = 0;
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::vector<std::pair<size_t, size_t>> children;  // offset and end
};

std::optional<TBlockView> ViewBlock(const std::vector<uint8_t>& data, size_t at, size_t end) {
    if (at + kBlockHeaderSize > end) return std::nullopt;
    const size_t length = LoadLe16(data.data() + at);
    if (length < kBlockHeaderSize || at + length > end) return std::nullopt;
    end = at + length;
    TBlockView view;
    view.valueLength = LoadLe16(data.data() + at + 2);
    view.type = LoadLe16(data.data() + at + 4);
    size_t p = at + kBlockHeaderSize;
    for (; p + 2 <= end && LoadLe16(data.data() + p) != 0; p += 2) view.key += char16_t(LoadLe16(data.data() + p));
    p = (p + 2 + 3) & ~size_t{3};
    view.valueAt = p;
    const size_t valueBytes = view.type == kTextValue ? size_t{view.valueLength} * 2 : view.valueLength;
    for (p = (p + valueBytes + 3) & ~size_t{3}; p + kBlockHeaderSize <= end;) {
        const size_t childLength = LoadLe16(data.data() + p);
        if (childLength < kBlockHeaderSize || p + childLength > end) return std::nullopt;
        view.children.push_back({p, p + childLength});
        p = (p + childLength + 3) & ~size_t{3};
    }
    return view;
}

std::u16string TextAt(const std::vector<uint8_t>& data, size_t at, size_t units, size_t end) {
    std::u16string text;
    for (size_t i = 0; i < units && at + 2 * i + 2 <= end; ++i) text += char16_t(LoadLe16(data.data() + at + 2 * i));
    while (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

uint32_t LoadBe32(const uint8_t* p) { return uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

bool ChunkIs(const uint8_t* chunk, const char (&type)[5]) { return std::equal(type, type + 4, chunk + 4); }

std::string SizeText(size_t width, size_t height) { return std::to_string(width) + "x" + std::to_string(height); }

// Whether the chunks behind the signature, each a length, a type, the data
// and a CRC, run whole up to the IEND chunk.
bool PngReachesEnd(const std::vector<uint8_t>& png) {
    for (size_t at = sizeof kPngSignature; at + kPngChunkOverhead <= png.size();) {
        const uint32_t length = LoadBe32(png.data() + at);
        if (length > kPngChunkMax) return false;
        const bool end = ChunkIs(png.data() + at, "IEND");
        at += kPngChunkOverhead + length;
        if (end) return at <= png.size();
    }
    return false;
}

// Why a PNG image cannot be the icon image its directory entry lists, or empty.
std::string PngProblem(const std::vector<uint8_t>& png, const std::array<uint8_t, 12>& entry) {
    const size_t headerEnd = sizeof kPngSignature + kPngChunkOverhead + kPngHeaderLength;
    if (png.size() < headerEnd || LoadBe32(png.data() + 8) != kPngHeaderLength || !ChunkIs(png.data() + 8, "IHDR"))
        return "is a PNG without its IHDR chunk first";
    const size_t width = LoadBe32(png.data() + 16), height = LoadBe32(png.data() + 20);
    if (width == 0 || height == 0 || width > kIconSideMax || height > kIconSideMax)
        return "is a PNG of " + SizeText(width, height) + " pixels; an icon image has 1 to 256 on each side";
    const size_t listedWidth = entry[0] == 0 ? kIconSideMax : entry[0], listedHeight = entry[1] == 0 ? kIconSideMax : entry[1];
    if (width != listedWidth || height != listedHeight)
        return "is a PNG of " + SizeText(width, height) + " where the list of images says " +
               SizeText(listedWidth, listedHeight);
    if (!PngReachesEnd(png)) return "is a PNG cut short (its chunks end before IEND)";
    return "";
}

bool IsPng(const std::vector<uint8_t>& data) {
    return data.size() >= sizeof kPngSignature && std::equal(std::begin(kPngSignature), std::end(kPngSignature), data.begin());
}

std::string ImageName(size_t index, size_t count) {
    return "image " + std::to_string(index + 1) + " of " + std::to_string(count);
}

// Raises EFaceError when two images share bytes: repeated, a file's few
// bytes would otherwise become thousands of copies. O(n log n).
void RefuseSharedBytes(const uint8_t* directory, size_t count) {
    std::vector<std::pair<uint64_t, size_t>> starts;  // offset, image
    for (size_t i = 0; i < count; ++i) starts.push_back({LoadLe32(directory + i * kIconFileEntrySize + 12), i});
    std::sort(starts.begin(), starts.end());
    for (size_t k = 1; k < count; ++k) {
        const auto [offset, image] = starts[k - 1];
        if (offset + LoadLe32(directory + image * kIconFileEntrySize + 8) > starts[k].first)
            throw EFaceError(ImageName(std::max(image, starts[k].second), count) + " shares bytes with image " +
                             std::to_string(std::min(image, starts[k].second) + 1) + "; each image needs bytes of its own");
    }
}

void CheckIconEntry(const uint8_t* entry, size_t index, size_t count, size_t directoryEnd, size_t fileSize) {
    const uint64_t size = LoadLe32(entry + 8);
    const uint64_t offset = LoadLe32(entry + 12);
    if (size == 0) throw EFaceError(ImageName(index, count) + " is empty");
    if (offset < directoryEnd || offset + size > fileSize)
        throw EFaceError(ImageName(index, count) + " lies outside the file (" + std::to_string(size) + " bytes at offset " +
                         std::to_string(offset) + " of " + std::to_string(fileSize) + ")");
}

TIconImage ReadIconImage(const std::vector<uint8_t>& file, const uint8_t* entry, size_t index, size_t count) {
    const auto offset = static_cast<std::ptrdiff_t>(LoadLe32(entry + 12));
    TIconImage image;
    std::copy(entry, entry + 12, image.entry.begin());
    image.data.assign(file.begin() + offset, file.begin() + offset + LoadLe32(entry + 8));
    if (IsPng(image.data))
        if (const std::string problem = PngProblem(image.data, image.entry); !problem.empty())
            throw EFaceError(ImageName(index, count) + " " + problem);
    return image;
}

}  // namespace

std::vector<TIconImage> ReadIconFile(const std::vector<uint8_t>& file) {
    if (file.empty()) throw EFaceError("the file is empty");
    if (file.size() < kIconDirSize || LoadLe16(file.data()) != 0 || LoadLe16(file.data() + 2) != kIconFileType)
        throw EFaceError("it is not an icon file (.ico)");
    const size_t count = LoadLe16(file.data() + 4);
    if (count == 0) throw EFaceError("it holds no images");
    if (count > kMaxIconImages)
        throw EFaceError("it holds " + std::to_string(count) + " images; an installer's icon holds at most " +
                         std::to_string(kMaxIconImages));
    const size_t directoryEnd = kIconDirSize + count * kIconFileEntrySize;
    if (directoryEnd > file.size()) throw EFaceError("it is cut short inside its list of images");
    const uint8_t* directory = file.data() + kIconDirSize;
    for (size_t i = 0; i < count; ++i) CheckIconEntry(directory + i * kIconFileEntrySize, i, count, directoryEnd, file.size());
    RefuseSharedBytes(directory, count);  // before any copy
    std::vector<TIconImage> images;
    for (size_t i = 0; i < count; ++i) images.push_back(ReadIconImage(file, directory + i * kIconFileEntrySize, i, count));
    return images;
}

std::vector<TResource> IconResources(const std::vector<TIconImage>& images) {
    TResource group{.type = pe::kGroupIconResource, .id = kGroupId, .language = pe::kUsEnglish, .data = {}};
    Append16(group.data, 0), Append16(group.data, kIconFileType), Append16(group.data, uint16_t(images.size()));
    std::vector<TResource> resources;
    for (size_t i = 0; i < images.size(); ++i) {
        const auto id = static_cast<uint16_t>(i + 1);
        group.data.insert(group.data.end(), images[i].entry.begin(), images[i].entry.end());
        Append16(group.data, id);
        resources.push_back({.type = pe::kIconResource, .id = id, .language = pe::kUsEnglish, .data = images[i].data});
    }
    resources.push_back(std::move(group));
    return resources;
}

std::vector<std::pair<int, int>> IconGroupSizes(const std::vector<uint8_t>& group) {
    std::vector<std::pair<int, int>> sizes;
    if (group.size() < kIconDirSize) return sizes;
    const size_t count = LoadLe16(group.data() + 4);
    for (size_t i = 0; i < count && kIconDirSize + (i + 1) * kIconGroupEntrySize <= group.size(); ++i) {
        const uint8_t* entry = group.data() + kIconDirSize + i * kIconGroupEntrySize;
        sizes.push_back({entry[0] == 0 ? 256 : entry[0], entry[1] == 0 ? 256 : entry[1]});
    }
    return sizes;
}

std::string VersionText(const TFourPartVersion& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

std::optional<TFourPartVersion> ParseVersion(const std::string& text) {
    TFourPartVersion version{};
    const char* p = text.data();
    const char* end = p + text.size();
    for (size_t i = 0; i < version.size(); ++i) {
        if (i > 0 && (p == end || *p++ != '.')) return std::nullopt;
        if (p == end || *p < '0' || *p > '9') return std::nullopt;
        const auto [next, error] = std::from_chars(p, end, version[i]);
        if (error != std::errc{}) return std::nullopt;
        p = next;
    }
    if (p != end) return std::nullopt;
    return version;
}

std::vector<uint8_t> VersionResourceBytes(const TVersionInfo& info) {
    std::vector<std::vector<uint8_t>> strings;
    for (const auto& [name, value] : info.strings) {
        const std::u16string text = Utf16(value);
        std::vector<uint8_t> bytes;
        AppendText(bytes, text);
        if (text.size() + 1 > kMaxBlock / 2)
            throw EFaceError("the version string " + name + " does not fit a version resource");
        strings.push_back(Block(Utf16(name), kTextValue, bytes, uint16_t(text.size() + 1), {}));
    }
    const std::vector<uint8_t> table = Block(Utf16(kStringTableKey), kTextValue, {}, 0, strings);
    std::vector<uint8_t> translation;
    Append16(translation, pe::kUsEnglish), Append16(translation, kUnicodeCodePage);
    const std::vector<uint8_t> var = Block(u"Translation", kBinaryValue, translation, uint16_t(translation.size()), {});
    return Block(u"VS_VERSION_INFO", kBinaryValue, FixedInfo(info), uint16_t(kFixedInfoSize),
                 {Block(u"StringFileInfo", kTextValue, {}, 0, {table}), Block(u"VarFileInfo", kTextValue, {}, 0, {var})});
}

std::optional<TVersionInfo> ReadVersionResource(const std::vector<uint8_t>& data) {
    const std::optional<TBlockView> root = ViewBlock(data, 0, data.size());
    if (!root || root->key != u"VS_VERSION_INFO" || root->valueLength != kFixedInfoSize ||
        root->valueAt + kFixedInfoSize > data.size() || LoadLe32(data.data() + root->valueAt) != kFixedSignature)
        return std::nullopt;
    TVersionInfo info;
    const uint8_t* fixed = data.data() + root->valueAt;
    auto parts = [&](size_t at) {
        const uint32_t high = LoadLe32(fixed + at), low = LoadLe32(fixed + at + 4);
        return TFourPartVersion{uint16_t(high >> 16), uint16_t(high), uint16_t(low >> 16), uint16_t(low)};
    };
    info.fileVersion = parts(8);
    info.productVersion = parts(16);
    for (const auto& [at, end] : root->children) {
        const std::optional<TBlockView> child = ViewBlock(data, at, end);
        if (!child || child->key != u"StringFileInfo" || child->children.empty()) continue;
        const auto [tableAt, tableEnd] = child->children.front();
        const std::optional<TBlockView> table = ViewBlock(data, tableAt, tableEnd);
        if (!table) continue;
        for (const auto& [stringAt, stringEnd] : table->children)
            if (const std::optional<TBlockView> text = ViewBlock(data, stringAt, stringEnd))
                info.strings.push_back({Utf8(text->key), Utf8(TextAt(data, text->valueAt, text->valueLength, stringEnd))});
    }
    return info;
}

}  // namespace vorn::pack
