// The methods the tools write, by name: the built-in ones through the
// component, LZMA through its own writer behind the component's custom
// door. What the tools know of a method is its row here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compress/lzma/lzma_compress.h"
#include "compress/lzma/lzma_format.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace vorn::tools {

struct TMethodIdentity;

// Writes a whole stream of the source, from its position, with the method.
using TMethodWriter = TCompressResult (*)(TVornCodec& codec, TStream& dest, TStream& source,
                                          const TMethodIdentity& method, int level);
inline TCompressResult WriteBuiltIn(TVornCodec& codec, TStream& dest, TStream& source,
                                    const TMethodIdentity& method, int);

// LZMA at the level, with the x86 branch filter for x86 programs.
inline TCompressResult WriteLzma(TVornCodec& codec, TStream& dest, TStream& source, const TMethodIdentity&,
                                 int level) {
    const lzma::TLzmaSettings settings(level, lzma::FilterSuitedTo(source));
    return lzma::CompressLzmaStream(codec, dest, source, settings);
}

struct TLevelRange {
    int Min = 0, Max = 0, Default = 0;
};

// A method's ID in the stream header, the name the tools and the manifest
// use, the method index it is written at, its levels (none: Min == Max),
// its writer, and whether a solid build puts its entries into chains
// (lzma::TChainEncoder).
struct TMethodIdentity {
    const char* Id;
    const char* Name;
    uint8_t Index;
    TLevelRange Levels;
    TMethodWriter Write;
    bool Solid;

    constexpr bool HasLevels() const { return Levels.Max > Levels.Min; }
};

inline TCompressResult WriteBuiltIn(TVornCodec& codec, TStream& dest, TStream& source,
                                    const TMethodIdentity& method, int) {
    return codec.CompressStream(dest, source, method.Index);
}

inline constexpr TLevelRange kLzmaLevels{lzma::kMinLevel, lzma::kMaxLevel, lzma::kDefaultLevel};

inline constexpr std::array<TMethodIdentity, 5> kMethodTable = {{
    {"NON", "non", kMethodStored, {}, WriteBuiltIn, false},
    {"RLE", "rle", kMethodRle, {}, WriteBuiltIn, false},
    {"LZH", "lzh", kMethodLzh, {}, WriteBuiltIn, false},
    {"LH5", "lh5", kMethodLh5, {}, WriteBuiltIn, false},
    {lzma::kMethodId, "lzma", lzma::kMethodIndex, kLzmaLevels, WriteLzma, true},
}};

// The method the tools know by this name, or none.
constexpr const TMethodIdentity* MethodNamed(std::string_view name) {
    for (const TMethodIdentity& method : kMethodTable)
        if (name == method.Name) return &method;
    return nullptr;
}

// The method the tools know by this stream ID, or none.
constexpr const TMethodIdentity* MethodWithId(std::string_view id) {
    for (const TMethodIdentity& method : kMethodTable)
        if (id == method.Id) return &method;
    return nullptr;
}

// The ID of a stream the tools wrote at the method index.
constexpr const char* WrittenId(uint8_t index) {
    for (const TMethodIdentity& method : kMethodTable)
        if (method.Index == index) return method.Id;
    return "?";
}

// The names of the methods, in the table's order.
std::vector<std::string> WritableMethodNames();

}  // namespace vorn::tools
