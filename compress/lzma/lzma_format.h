// The codec data of an "LZM" stream, written once for both directions:
// a small versioned head, then raw LZMA data (no .lzma or .xz framing).
// The uncompressed size is the VORN header's; the head carries what the
// decoder needs beyond it and a CRC-32 of the expanded bytes, which sees
// the compensating changes the header's byte sum cannot.
//
//   offset  size  field
//   0       1     version (kLzmaHeadVersion)
//   1       1     properties: (pb * 5 + lp) * 9 + lc
//   2       4     dictionary size, little-endian
//   6       1     branch filter applied after LZMA (LzmaFilter)
//   7       4     CRC-32 (IEEE, reflected, as zlib's crc32) of the expanded bytes
//   11            raw LZMA data, with or without an end marker
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "compress/vorn_header.h"

namespace vorn::lzma {

inline constexpr char kMethodId[] = "LZM";
inline constexpr uint8_t kLzmaHeadVersion = 1;
inline constexpr int kHeadSize = 11;

inline constexpr int kMaxLc = 8;
inline constexpr int kMaxLp = 4;
inline constexpr int kMaxPb = 4;
// The decoder refuses larger dictionaries before allocating anything.
inline constexpr uint32_t kMaxDictionarySize = 64u << 20;

enum class LzmaFilter : uint8_t { None = 0, X86 = 1 };

struct TLzmaHead {
    uint8_t Lc = 3;
    uint8_t Lp = 0;
    uint8_t Pb = 2;
    uint32_t DictionarySize = 1u << 23;
    LzmaFilter Filter = LzmaFilter::None;
    uint32_t Crc32 = 0;

    std::array<uint8_t, kHeadSize> Encode() const;
    // Nothing when the version, the properties, the dictionary size or the
    // filter are out of range.
    static std::optional<TLzmaHead> Decode(const uint8_t* bytes);
};

// What opens an "LZM" stream of size bytes whose byte sum is byteSum: the
// VORN header, then the head.
std::array<uint8_t, kHeaderSize + kHeadSize> StreamOpening(const TLzmaHead& head, int32_t size, uint32_t byteSum);

}  // namespace vorn::lzma
