// The codec data of an "LZM" stream, written once for both directions:
// a small versioned head, then raw LZMA data (no .lzma or .xz framing).
// The uncompressed size is the VORN header's; the head carries what the
// decoder needs beyond it and a CRC-32 of the expanded bytes, which sees
// the compensating changes the header's byte sum cannot.
//
//   offset  size  field
//   0       1     version: kLzmaHeadVersion (a lone stream),
//                 kChainedHeadVersion (a link of a chain, below) or
//                 kSeededHeadVersion (a seeded stream, below)
//   1       1     properties: (pb * 5 + lp) * 9 + lc
//   2       4     dictionary size, little-endian
//   6       1     branch filter applied after LZMA (LzmaFilter)
//   7       4     CRC-32 (IEEE, reflected, as zlib's crc32) of the expanded bytes
//   11            lone: raw LZMA data, with or without an end marker
//   11      4     chained: the chain offset, little-endian
//   15            chained: LZMA2 chunks
//   11      4     seeded: where the seed starts in its installer, little-endian
//   15      4     seeded: the seed's size, little-endian
//   19            seeded: raw LZMA data, as a lone stream's
//
// With a filter confined to code (X86Code, X64Code), the head goes on
// before the data with where the code starts in the expanded bytes and how
// long it is (4 bytes each, little-endian): a lone head is then 19 bytes,
// a chained or seeded one 23.
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
//
// A seeded stream is a lone stream whose dictionary starts out holding a
// seed, a stretch of the installer that carries it, as if the seed had
// been expanded just before it: its bytes count in the positions, and the
// first literal follows the seed's last byte. The reader names the
// installer (SetSeed, lzma_method.h). vornpack seeds the remover with the
// stub's code and data, which the remover largely shares. The dictionary
// holds at least the whole seed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "compress/lzma/x86_filter.h"
#include "compress/stream.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

inline constexpr char kMethodId[] = "LZM";
// The method index of an "LZM" stream: it enters through the custom door.
inline constexpr uint8_t kMethodIndex = kMethodCustom;
inline constexpr uint8_t kLzmaHeadVersion = 1;
inline constexpr uint8_t kChainedHeadVersion = 2;
inline constexpr uint8_t kSeededHeadVersion = 3;
inline constexpr int kHeadSize = 11;         // a lone stream's head
inline constexpr int kChainedHeadSize = 15;  // a chained one's
inline constexpr int kSeededHeadSize = 19;   // a seeded one's
inline constexpr int kCodeRangeSize = 8;  // after the head, for a filter confined to code
inline constexpr int kMaxHeadSize = kSeededHeadSize + kCodeRangeSize;

inline constexpr int kMaxLc = 8;
inline constexpr int kMaxLp = 4;
inline constexpr int kMaxPb = 4;
// The decoder refuses larger dictionaries before allocating anything.
inline constexpr uint32_t kMaxDictionarySize = 64u << 20;

// X64 is the X86 filter with x86-64's RIP-relative operands; X86Code and
// X64Code are those confined to a program's code (x86_filter.h).
enum class LzmaFilter : uint8_t { None = 0, X86 = 1, X64 = 2, X86Code = 3, X64Code = 4 };
inline constexpr LzmaFilter kLastFilter = LzmaFilter::X64Code;
constexpr bool ConfinedToCode(LzmaFilter filter) { return filter == LzmaFilter::X86Code || filter == LzmaFilter::X64Code; }

// What is wrong with an "LZM" stream, as the expander finds it. A CRC-32
// that differs is a failed check, reported as a bad checksum.
enum class LzmaFault : uint8_t {
    None,
    HeadCutShort,
    UnknownVersion,
    BadProperties,
    DictionaryTooLarge,
    UnknownFilter,
    NegativeSize,
    ChainLiteralBits,
    NoChain,
    OffsetPastChain,
    OffsetInsideChain,
    ChainMismatch,
    DataCutShort,
    DataDamaged,
    DataLeftOver,
    CrcDiffers,
    BadSeed,
    NoSeed,
};

// The words of a refusal for the fault (lzma_fault_words.cpp), and whether
// the build tells faults apart at all: the installer's build, which shows
// none, gives nullptr and false, and carries neither the text nor the code
// that tells them apart.
const char* LzmaFaultWords(LzmaFault fault);
bool LzmaFaultsNamed();

struct TLzmaHead {
    uint8_t Lc = 3;
    uint8_t Lp = 0;
    uint8_t Pb = 2;
    uint32_t DictionarySize = 1u << 23;
    LzmaFilter Filter = LzmaFilter::None;
    uint32_t Crc32 = 0;
    bool Chained = false;
    uint32_t ChainOffset = 0;  // chained heads only
    uint32_t SeedStart = 0;    // seeded heads only: an offset in the installer
    uint32_t SeedSize = 0;     // seeded heads only, never 0 there
    uint32_t CodeStart = 0;    // filters confined to code only
    uint32_t CodeSize = 0;

    bool Seeded() const { return SeedSize != 0; }
    bool CodeOnly() const { return ConfinedToCode(Filter); }
    int Size() const {
        return (Chained ? kChainedHeadSize : Seeded() ? kSeededHeadSize : kHeadSize) + (CodeOnly() ? kCodeRangeSize : 0);
    }
    // What the head's filter converts (x86_filter.h).
    TX86Scope X86Scope() const;
    // lc, lp and pb in one byte, as stored: (pb * 5 + lp) * 9 + lc.
    uint8_t Properties() const { return static_cast<uint8_t>((Pb * 5 + Lp) * 9 + Lc); }
    // Size() bytes are used.
    std::array<uint8_t, kMaxHeadSize> Encode() const;
    // The head in bytes[0, n): nothing when they are too few or out of range.
    static std::optional<TLzmaHead> Decode(const uint8_t* bytes, size_t n);
    // Why Decode gives nothing; None when it gives a head. The installer,
    // which names no faults, carries only Decode.
    static LzmaFault Problem(const uint8_t* bytes, size_t n);
};

// What opens an "LZM" stream of size bytes whose byte sum is byteSum: the
// VORN header, then the head.
std::vector<uint8_t> StreamOpening(const TLzmaHead& head, int32_t size, uint32_t byteSum);

// The head at source's position, which is left where it was; why there is
// none goes to why, when asked.
std::optional<TLzmaHead> PeekLzmaHead(TStream& source, LzmaFault* why = nullptr);

}  // namespace vorn::lzma
