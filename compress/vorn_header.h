// The 21-byte header that opens every compressed stream, and the table of
// method identifiers it may name.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

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
