#include "compress/lzma/lzma_format.h"

#include <algorithm>

#include "compress/byte_order.h"

namespace vorn::lzma {

namespace {

constexpr int kPropertiesLimit = (kMaxPb * 5 + kMaxLp) * 9 + kMaxLc + 1;  // 225

constexpr bool KnownVersion(uint8_t version) { return version >= kLzmaHeadVersion && version <= kSeededHeadVersion; }

constexpr bool KnownFilter(uint8_t filter) { return filter <= static_cast<uint8_t>(kLastFilter); }

// The size of a head that starts with bytes[0, kHeadSize).
constexpr size_t HeadSizeOf(const uint8_t* bytes) {
    const uint8_t version = bytes[0];
    const bool codeOnly = ConfinedToCode(static_cast<LzmaFilter>(bytes[6]));
    return (version == kChainedHeadVersion   ? kChainedHeadSize
            : version == kSeededHeadVersion ? kSeededHeadSize
                                            : kHeadSize) +
           (codeOnly ? kCodeRangeSize : 0);
}

// A seeded head's seed: something, and within the dictionary.
constexpr bool SeedFits(uint32_t seedSize, uint32_t dictionarySize) {
    return seedSize != 0 && seedSize <= dictionarySize;
}

}  // namespace

std::array<uint8_t, kMaxHeadSize> TLzmaHead::Encode() const {
    std::array<uint8_t, kMaxHeadSize> bytes{};
    bytes[0] = Chained ? kChainedHeadVersion : Seeded() ? kSeededHeadVersion : kLzmaHeadVersion;
    bytes[1] = Properties();
    StoreLe32(&bytes[2], DictionarySize);
    bytes[6] = static_cast<uint8_t>(Filter);
    StoreLe32(&bytes[7], Crc32);
    if (Chained) StoreLe32(&bytes[kHeadSize], ChainOffset);
    if (Seeded()) {
        StoreLe32(&bytes[kHeadSize], SeedStart);
        StoreLe32(&bytes[kChainedHeadSize], SeedSize);
    }
    if (CodeOnly()) {
        const int range = Size() - kCodeRangeSize;
        StoreLe32(&bytes[range], CodeStart);
        StoreLe32(&bytes[range + 4], CodeSize);
    }
    return bytes;
}

TX86Scope TLzmaHead::X86Scope() const {
    const bool rip = Filter == LzmaFilter::X64 || Filter == LzmaFilter::X64Code;
    if (!CodeOnly()) return {.RipRelative = rip};
    // Code that would pass the end of 32-bit positions ends there.
    const uint32_t end = CodeStart + std::min(CodeSize, UINT32_MAX - CodeStart);
    return {.RipRelative = rip, .CodeOnly = true, .CodeStart = CodeStart, .CodeEnd = end};
}

std::vector<uint8_t> StreamOpening(const TLzmaHead& head, int32_t size, uint32_t byteSum) {
    TVornHeader header;
    std::copy_n(kMethodId, 3, header.CompressID.begin());
    header.UncompressedSize = size;
    header.Checksum = byteSum;
    const auto vorn = header.Encode();
    const auto own = head.Encode();
    std::vector<uint8_t> bytes(kHeaderSize + head.Size());
    std::copy(vorn.begin(), vorn.end(), bytes.begin());
    std::copy_n(own.begin(), head.Size(), bytes.begin() + kHeaderSize);
    return bytes;
}

LzmaFault TLzmaHead::Problem(const uint8_t* bytes, size_t n) {
    if (n < kHeadSize) return LzmaFault::HeadCutShort;
    if (!KnownVersion(bytes[0])) return LzmaFault::UnknownVersion;
    if (bytes[1] >= kPropertiesLimit) return LzmaFault::BadProperties;
    if (LoadLe32(&bytes[2]) > kMaxDictionarySize) return LzmaFault::DictionaryTooLarge;
    if (!KnownFilter(bytes[6])) return LzmaFault::UnknownFilter;
    if (n < HeadSizeOf(bytes)) return LzmaFault::HeadCutShort;
    if (bytes[0] == kSeededHeadVersion && !SeedFits(LoadLe32(&bytes[kChainedHeadSize]), LoadLe32(&bytes[2])))
        return LzmaFault::BadSeed;
    return LzmaFault::None;
}

// The checks of Problem, made here again as a plain yes or no.
std::optional<TLzmaHead> TLzmaHead::Decode(const uint8_t* bytes, size_t n) {
    if (n < kHeadSize || !KnownVersion(bytes[0]) || !KnownFilter(bytes[6]) || n < HeadSizeOf(bytes)) return std::nullopt;
    if (bytes[1] >= kPropertiesLimit) return std::nullopt;
    TLzmaHead head;
    head.Chained = bytes[0] == kChainedHeadVersion;
    head.Lc = bytes[1] % 9;
    head.Lp = bytes[1] / 9 % 5;
    head.Pb = static_cast<uint8_t>(bytes[1] / 45);
    head.DictionarySize = LoadLe32(&bytes[2]);
    if (head.DictionarySize > kMaxDictionarySize) return std::nullopt;
    head.Filter = static_cast<LzmaFilter>(bytes[6]);
    head.Crc32 = LoadLe32(&bytes[7]);
    if (head.Chained) head.ChainOffset = LoadLe32(&bytes[kHeadSize]);
    if (bytes[0] == kSeededHeadVersion) {
        head.SeedStart = LoadLe32(&bytes[kHeadSize]);
        head.SeedSize = LoadLe32(&bytes[kChainedHeadSize]);
        if (!SeedFits(head.SeedSize, head.DictionarySize)) return std::nullopt;
    }
    if (head.CodeOnly()) {
        const int range = head.Size() - kCodeRangeSize;
        head.CodeStart = LoadLe32(&bytes[range]);
        head.CodeSize = LoadLe32(&bytes[range + 4]);
    }
    return head;
}

std::optional<TLzmaHead> PeekLzmaHead(TStream& source, LzmaFault* why) {
    const int64_t start = source.Position();
    uint8_t bytes[kMaxHeadSize];
    const size_t n = source.Read(bytes, sizeof bytes);
    source.Seek(start);
    if (why) *why = TLzmaHead::Problem(bytes, n);
    return TLzmaHead::Decode(bytes, n);
}

}  // namespace vorn::lzma
