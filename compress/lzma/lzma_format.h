// The codec data of an "LZM" stream, written once for both directions:
// a small versioned head, then raw LZMA data (no .lzma or .xz framing).
// The uncompressed size is the VORN header's; the head carries what the
// decoder needs beyond it and a CRC-32 of the expanded bytes, which sees
// the compensating changes the header's byte sum cannot.
//
//   offset  size  field
//   0       1     version: kLzmaHeadVersion (a lone stream) or
//                 kChainedHeadVersion (a link of a chain, below)
//   1       1     properties: (pb * 5 + lp) * 9 + lc
//   2       4     dictionary size, little-endian
//   6       1     branch filter applied after LZMA (LzmaFilter)
//   7       4     CRC-32 (IEEE, reflected, as zlib's crc32) of the expanded bytes
//   11            lone: raw LZMA data, with or without an end marker
//   11      4     chained: the chain offset, little-endian
//   15            chained: LZMA2 chunks
//
// A chain is one LZMA2 stream cut at chunk boundaries into consecutive
// streams (the encoder flushes at the end of each file), so that a
// package's files share one dictionary, as if compressed as one. The
// streams of a chain are expanded one after another by the same codec:
// the dictionary, the coder state and the probabilities carry over from
// one to the next. The chain offset is how many bytes (before the branch
// filter) the chain's earlier streams expanded to, modulo 2^32; a stream
// at offset 0 starts a chain, and its first chunk resets the dictionary.
// Each link still has its own size, byte sum, filter and CRC-32. The
// dictionary size and properties are the chain's, the same in every link.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "compress/vorn_header.h"

namespace vorn::lzma {

inline constexpr char kMethodId[] = "LZM";
inline constexpr uint8_t kLzmaHeadVersion = 1;
inline constexpr uint8_t kChainedHeadVersion = 2;
inline constexpr int kHeadSize = 11;          // a lone stream's head
inline constexpr int kChainedHeadSize = 15;   // a chained one's

inline constexpr int kMaxLc = 8;
inline constexpr int kMaxLp = 4;
inline constexpr int kMaxPb = 4;
// The decoder refuses larger dictionaries before allocating anything.
inline constexpr uint32_t kMaxDictionarySize = 64u << 20;

enum class LzmaFilter : uint8_t { None = 0, X86 = 1 };

// What is wrong with an "LZM" stream, in the words its refusal gives. A
// CRC-32 that differs has none: the check failed, and says so itself.
// Arrays, so that each has one address in every unit that compares it.
inline constexpr char kHeadCutShort[] = "the LZM head is cut short";
inline constexpr char kUnknownVersion[] = "the LZM head has an unknown version";
inline constexpr char kBadProperties[] = "the LZM properties byte is out of range (225 or more)";
inline constexpr char kDictionaryTooLarge[] = "the LZM dictionary is larger than 64 MiB";
inline constexpr char kUnknownFilter[] = "the LZM head names an unknown branch filter";
inline constexpr char kNegativeSize[] = "the stream's size is negative";
inline constexpr char kChainLiteralBits[] = "the LZM chain's lc + lp is over 4";
inline constexpr char kNoChain[] =
    "the LZM link continues a chain that is not there (an earlier link is missing or damaged)";
inline constexpr char kOffsetPastChain[] =
    "the LZM link's chain offset lies past the chain's end (a link is missing, or the offset is wrong)";
inline constexpr char kOffsetInsideChain[] =
    "the LZM link's chain offset lies inside the chain (links out of order, or the offset is wrong)";
inline constexpr char kChainMismatch[] = "the LZM link's dictionary or properties differ from its chain's";
inline constexpr char kDataCutShort[] = "the LZM data end too soon";
inline constexpr char kDataDamaged[] = "the LZM data are damaged";
inline constexpr char kDataLeftOver[] = "the LZM data go on past the stream's end";
inline constexpr char kCrcDiffers[] = "the LZM CRC-32 differs";  // reported as a bad checksum

struct TLzmaHead {
    uint8_t Lc = 3;
    uint8_t Lp = 0;
    uint8_t Pb = 2;
    uint32_t DictionarySize = 1u << 23;
    LzmaFilter Filter = LzmaFilter::None;
    uint32_t Crc32 = 0;
    bool Chained = false;
    uint32_t ChainOffset = 0;  // chained heads only

    int Size() const { return Chained ? kChainedHeadSize : kHeadSize; }
    // lc, lp and pb in one byte, as stored: (pb * 5 + lp) * 9 + lc.
    uint8_t Properties() const { return static_cast<uint8_t>((Pb * 5 + Lp) * 9 + Lc); }
    // Size() bytes are used.
    std::array<uint8_t, kChainedHeadSize> Encode() const;
    // From the first kHeadSize bytes: nothing when the version, the
    // properties, the dictionary size or the filter are out of range. A
    // chained head's offset is still to be read (DecodeChainOffset).
    static std::optional<TLzmaHead> Decode(const uint8_t* bytes);
    // Which of them is out of range, in the words above; nullptr for none.
    static const char* Problem(const uint8_t* bytes);
    // The kChainedHeadSize - kHeadSize bytes after them.
    void DecodeChainOffset(const uint8_t* bytes);
};

// What opens an "LZM" stream of size bytes whose byte sum is byteSum: the
// VORN header, then the head.
std::vector<uint8_t> StreamOpening(const TLzmaHead& head, int32_t size,
                                                                   uint32_t byteSum);

}  // namespace vorn::lzma
