// The 21-byte header that opens every compressed stream, and the table of
// method identifiers it may name.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "compress/stream.h"

namespace vorn {

inline constexpr int kHeaderSize = 21;
// The largest stream, and the largest data in one: the header's sizes and
// the component's are signed 32-bit.
inline constexpr int64_t kMaxStreamSize = std::numeric_limits<int32_t>::max();
inline constexpr std::array<uint8_t, 5> kHeaderMagic = {'V', 'O', 'R', 'N', 0x1A};

// Index in this table is the method index used by the dispatcher.
inline constexpr std::array<const char*, 5> CompressionIDs = {"NON", "RLE", "LZH", "CUS", "LH5"};

enum MethodIndex : uint8_t {
    kMethodStored = 0,
    kMethodRle = 1,
    kMethodLzh = 2,
    kMethodCustom = 3,
    kMethodLh5 = 4,
};

// Every method a stream may name, once: its ID, the name the tools and the
// manifest use (none: nothing here writes it), its index in the dispatch
// tables, and whether the library expands and compresses it. A method past
// the built-in ones comes in through the custom door, at kMethodCustom.
struct TMethodIdentity {
    const char* Id;
    const char* Name;
    uint8_t Index;
    bool Expands;
    bool Compresses;
};

inline constexpr std::array<TMethodIdentity, 6> kMethodTable = {{
    {"NON", "non", kMethodStored, true, true},
    {"RLE", "rle", kMethodRle, true, true},
    {"LZH", "lzh", kMethodLzh, true, true},
    {"CUS", "", kMethodCustom, false, false},  // the application's own, through OnExpand
    {"LH5", "lh5", kMethodLh5, true, true},
    {"LZM", "lzma", kMethodCustom, true, true},  // LZMA, brought in by lzma::UseLzmaMethod
}};

// The built-in methods lead the table, each at its index in CompressionIDs.
consteval bool BuiltInMethodsLeadTheTable() {
    for (uint8_t i = 0; i < CompressionIDs.size(); ++i)
        if (kMethodTable[i].Index != i || std::string_view(kMethodTable[i].Id) != CompressionIDs[i]) return false;
    return true;
}
static_assert(BuiltInMethodsLeadTheTable());

// The method the tools know by this name, or none.
constexpr const TMethodIdentity* MethodNamed(std::string_view name) {
    for (const TMethodIdentity& method : kMethodTable)
        if (*method.Name != '\0' && name == method.Name) return &method;
    return nullptr;
}

// The ID of a stream written with the method index: at the custom index,
// the custom method the tools write.
constexpr const char* WrittenId(uint8_t index) {
    for (const TMethodIdentity& method : kMethodTable)
        if (method.Index == index && method.Compresses) return method.Id;
    return "?";
}

// A stored stream with checksum 0 is expanded without a comparison of sums
// (its size is still held to the header's): the one way data goes unchecked.
constexpr bool SumIsCompared(uint8_t method, uint32_t storedChecksum) {
    return storedChecksum != 0 || method != kMethodStored;
}
// What the tools say of such a stream instead of "verified".
inline constexpr char kNotChecked[] = "not checked: stored without a checksum";

struct TVornHeader {
    std::array<uint8_t, 5> Magic = kHeaderMagic;
    std::array<char, 3> CompressID = {'N', 'O', 'N'};
    int32_t UncompressedSize = 0;
    uint8_t ArchiveType = 0;  // 0: single stream; anything else is the refused multi-file type
    uint32_t Checksum = 0;
    int32_t LockLevel = 0;  // 0 plain, 1 locked, 2 locked and scrambled

    bool HasMagic() const { return Magic == kHeaderMagic; }
    std::string Id() const { return std::string(CompressID.data(), CompressID.size()); }
    bool SumIsCompared() const {
        return vorn::SumIsCompared(Id() == CompressionIDs[kMethodStored] ? kMethodStored : kMethodCustom, Checksum);
    }

    // Packed little-endian layout, exactly kHeaderSize bytes.
    static TVornHeader Decode(const uint8_t* bytes);
    std::array<uint8_t, kHeaderSize> Encode() const;
};

// The header at the stream's position, when more than a header's bytes are
// left there and they open with the magic; the position is then just behind
// it. Otherwise nothing, and the position stays where it was.
// (ExpandStream reads its header on its own: the installer carries it, and
// every byte of the installer counts.)
std::optional<TVornHeader> PeekHeader(TStream& stream);

}  // namespace vorn
