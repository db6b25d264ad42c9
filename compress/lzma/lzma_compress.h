// Writing "LZM" streams, with liblzma's raw LZMA1 encoder. Linked into the
// tools' compress side only: the installer never carries an encoder.
#pragma once

#include <cstdint>
#include <span>

#include "compress/lzma/lzma_format.h"
#include "compress/vorn_codec.h"

namespace vorn::lzma {

inline constexpr int kMinLevel = 0;
inline constexpr int kMaxLevel = 9;
inline constexpr int kDefaultLevel = 6;
inline constexpr const char* kKeyRefusedMessage =
    "An LZM stream cannot be locked with a key; leave out the key or choose another method";

// What a seeded stream (lzma_format.h) starts its dictionary with: bytes
// its installer holds at Start. None for a lone stream.
struct TLzmaSeed {
    std::span<const uint8_t> Bytes;
    uint32_t Start = 0;
};

struct TLzmaSettings {
    TLzmaSettings(int level = kDefaultLevel, LzmaFilter filter = LzmaFilter::None, TLzmaSeed seed = {})
        : Level(level), Filter(filter), Seed(seed) {}
    int Level;  // liblzma preset, kMinLevel to kMaxLevel
    LzmaFilter Filter;
    TLzmaSeed Seed;
};

// Writes a whole stream, VORN header ("LZM", the size, the byte sum), the
// head and the LZMA data, from source's position to its end, like
// TVornCodec::CompressStream: stored as "NON" when LZMA cannot shrink the
// data, an empty source gives an empty stream, progress and cancel go
// through codec.OnShowProgress. The dictionary is the preset's, but never
// larger than the data and the seed need, nor smaller than the seed. A Key
// on the codec is refused (EVornError with kKeyRefusedMessage), as is a
// level out of range or a seed over 64 MiB. The result's Method is
// kMethodCustom for an LZM stream.
TCompressResult CompressLzmaStream(TVornCodec& codec, TStream& dest, TStream& source,
                                   const TLzmaSettings& settings);

// The filter that suits the data at source's position: X86 for x86 and
// x86-64 programs and libraries (PE images and ELF files, known by their
// headers), None for anything else; with ripRelative, X64 for x86-64 ones.
// Lone streams keep X86, so that they stay what earlier builds made of the
// same files. Reads a few bytes and puts the position back.
LzmaFilter FilterSuitedTo(TStream& source, bool ripRelative = false);

// A filter with, when it is confined to code, the code's range.
struct TBranchFilter {
    LzmaFilter Filter = LzmaFilter::None;
    uint32_t CodeStart = 0;
    uint32_t CodeSize = 0;
};

// The filter for a chain's link: for an x86 or x86-64 PE image with code
// sections, X86Code or X64Code over the stretch they fill; otherwise what
// FilterSuitedTo(source, true) says. Reads the headers and puts the
// position back.
TBranchFilter CodeFilterSuitedTo(TStream& source);

// Whether the data at source's position are a PE image, of any machine.
// Reads a few bytes and puts the position back.
bool IsWindowsProgram(TStream& source);

}  // namespace vorn::lzma
