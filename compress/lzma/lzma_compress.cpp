// The "LZM" writer of lone streams: liblzma's raw LZMA1 encoder, through
// the writers' one pass (lzma_writer.cpp).
#include "compress/lzma/lzma_compress.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <string>
#include <vector>

#include "compress/byte_order.h"
#include "compress/codec_state.h"
#include "compress/exceptions.h"
#include "compress/lzma/lzma_encoder.h"
#include "compress/vorn_header.h"

namespace vorn::lzma {

namespace {

std::array<lzma_filter, 2> Lzma1(lzma_options_lzma& options) {
    return {{{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}}};
}

// Machine numbers of x86 code in PE and in ELF headers.
constexpr uint16_t kPeI386 = 0x014C, kPeAmd64 = 0x8664;
constexpr uint16_t kElf386 = 3, kElfX86_64 = 62;
constexpr int kPeHeaderOffsetField = 0x3C;
constexpr int kElfMachineField = 18;

// Up to n bytes at offset from start; fewer at the end of the data.
size_t ReadAt(TStream& source, int64_t start, int64_t offset, uint8_t* bytes, size_t n) {
    source.Seek(start + offset);
    return source.Read(bytes, n);
}

// The machine of the PE image whose DOS header is head (n bytes read at
// start), if it is one.
std::optional<uint16_t> PeMachine(TStream& source, int64_t start, const uint8_t* head, size_t n) {
    if (n < kPeHeaderOffsetField + 4 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
    uint8_t pe[6] = {};
    if (ReadAt(source, start, LoadLe32(&head[kPeHeaderOffsetField]), pe, sizeof pe) != sizeof pe || pe[0] != 'P' ||
        pe[1] != 'E' || pe[2] || pe[3])
        return std::nullopt;
    return LoadLe16(&pe[4]);
}

// The filter for the program at start, if it is one: X64 for x86-64 code
// when ripRelative asks for it.
LzmaFilter ProgramFilter(TStream& source, int64_t start, bool ripRelative) {
    const LzmaFilter x64 = ripRelative ? LzmaFilter::X64 : LzmaFilter::X86;
    uint8_t head[64] = {};
    const size_t n = ReadAt(source, start, 0, head, sizeof head);
    if (n == sizeof head && head[0] == 'M' && head[1] == 'Z') {
        const std::optional<uint16_t> machine = PeMachine(source, start, head, n);
        return machine == kPeAmd64 ? x64 : machine == kPeI386 ? LzmaFilter::X86 : LzmaFilter::None;
    }
    if (n >= kElfMachineField + 2 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
        const uint16_t machine = LoadLe16(&head[kElfMachineField]);
        return machine == kElfX86_64 ? x64 : machine == kElf386 ? LzmaFilter::X86 : LzmaFilter::None;
    }
    return LzmaFilter::None;
}

// The stretch of a PE image (at start) that its code sections fill, from
// the first one's start to the last one's end; empty without any.
struct TCodeRange {
    uint32_t Start = 0;
    uint32_t End = 0;
};
TCodeRange PeCodeRange(TStream& source, int64_t start, const uint8_t* head) {
    constexpr uint32_t kContainsCode = 0x20;
    constexpr int kMostSections = 96;  // what the loader takes
    const uint32_t pe = LoadLe32(&head[kPeHeaderOffsetField]);
    uint8_t fileHeader[24] = {};
    if (ReadAt(source, start, pe, fileHeader, sizeof fileHeader) != sizeof fileHeader) return {};
    const int sections = std::min<int>(LoadLe16(&fileHeader[6]), kMostSections);
    int64_t at = int64_t{pe} + sizeof fileHeader + LoadLe16(&fileHeader[20]);
    TCodeRange code{UINT32_MAX, 0};
    for (int i = 0; i < sections; ++i, at += 40) {
        uint8_t section[40];
        if (ReadAt(source, start, at, section, sizeof section) != sizeof section) return {};
        const uint32_t size = LoadLe32(&section[16]), place = LoadLe32(&section[20]);
        if (!(LoadLe32(&section[36]) & kContainsCode) || size == 0) continue;
        code.Start = std::min(code.Start, place);
        code.End = std::max(code.End, place + std::min(size, UINT32_MAX - place));
    }
    return code.End > code.Start ? code : TCodeRange{};
}

}  // namespace

lzma_options_lzma LevelOptions(int level, int64_t size) {
    if (level < kMinLevel || level > kMaxLevel)
        throw EVornError("LZMA level " + std::to_string(level) + " is not between 0 and 9");
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, static_cast<uint32_t>(level)))
        throw EVornError("liblzma has no preset " + std::to_string(level));
    const uint64_t fits = std::bit_ceil(static_cast<uint64_t>(std::max<int64_t>(size, 1)));
    options.dict_size = static_cast<uint32_t>(
        std::min<uint64_t>(options.dict_size, std::max<uint64_t>(fits, LZMA_DICT_SIZE_MIN)));
    return options;
}

TLzmaHead HeadFor(const lzma_options_lzma& options, LzmaFilter filter, uint32_t crc32) {
    TLzmaHead head;
    head.Lc = static_cast<uint8_t>(options.lc);
    head.Lp = static_cast<uint8_t>(options.lp);
    head.Pb = static_cast<uint8_t>(options.pb);
    head.DictionarySize = options.dict_size;
    head.Filter = filter;
    head.Crc32 = crc32;
    return head;
}

TBranchFilter CodeFilterSuitedTo(TStream& source) {
    const int64_t start = source.Position();
    TBranchFilter filter{ProgramFilter(source, start, true)};
    uint8_t head[64] = {};
    if (filter.Filter != LzmaFilter::None && ReadAt(source, start, 0, head, sizeof head) == sizeof head &&
        head[0] == 'M' && head[1] == 'Z') {
        const TCodeRange code = PeCodeRange(source, start, head);
        if (code.End > code.Start)
            filter = {filter.Filter == LzmaFilter::X64 ? LzmaFilter::X64Code : LzmaFilter::X86Code, code.Start,
                      code.End - code.Start};
    }
    source.Seek(start);
    return filter;
}

bool IsWindowsProgram(TStream& source) {
    const int64_t start = source.Position();
    uint8_t head[64] = {};
    const size_t n = ReadAt(source, start, 0, head, sizeof head);
    const bool program = PeMachine(source, start, head, n).has_value();
    source.Seek(start);
    return program;
}

LzmaFilter FilterSuitedTo(TStream& source, bool ripRelative) {
    const int64_t start = source.Position();
    const LzmaFilter filter = ProgramFilter(source, start, ripRelative);
    source.Seek(start);
    return filter;
}

TCompressResult CompressLzmaStream(TVornCodec& codec, TStream& dest, TStream& source,
                                   const TLzmaSettings& settings) {
    if (codec.Key != 0) throw EVornError(kKeyRefusedMessage);
    const int64_t sourceStart = source.Position();
    const int64_t destStart = dest.Position();
    const int32_t size = SizeToCompress(source);
    if (size == 0) return {kMethodStored, 0, 0};

    const std::span<const uint8_t> seed = settings.Seed.Bytes;
    if (seed.size() > kMaxDictionarySize) throw EVornError("An LZM stream's seed cannot pass 64 MiB");
    const auto seedSize = static_cast<uint32_t>(seed.size());
    lzma_options_lzma options = LevelOptions(settings.Level, int64_t{size} + seedSize);
    options.dict_size = std::max(options.dict_size, seedSize);
    options.preset_dict = seed.empty() ? nullptr : seed.data();
    options.preset_dict_size = seedSize;
    TRawEncoder encoder(Lzma1(options).data());
    TLzmaHead head = HeadFor(options, settings.Filter, 0);
    head.SeedStart = settings.Seed.Start;
    head.SeedSize = seedSize;
    const int64_t budget = int64_t{size} - codec.HeaderAllowance - head.Size();
    const std::optional<uint32_t> sum =
        WriteStream(codec, dest, source, size, head, encoder.Stream(), LZMA_FINISH, budget);
    if (!sum) {
        // Stored instead, over the attempt, with nothing of it left behind.
        const int64_t reached = dest.Position();
        source.Seek(sourceStart);
        dest.Seek(destStart);
        const TCompressResult stored = codec.CompressStream(dest, source, kMethodStored);
        if (dest.Position() < reached) dest.SetSize(dest.Position());
        return stored;
    }
    return {kMethodIndex, dest.Position() - destStart, *sum};
}

}  // namespace vorn::lzma
