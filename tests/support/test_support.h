// Helpers shared by the tests: byte vectors from hex, data of every kind,
// and one-call runs through TVornCodec.
#pragma once

#include <lzma.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compress/vorn_codec.h"

namespace vorn::test {

using Bytes = std::vector<uint8_t>;

// "41 94 03" -> {0x41, 0x94, 0x03}; spaces and newlines are ignored.
Bytes Hex(const std::string& text);
std::string ToHex(const Bytes& bytes);
Bytes Text(const std::string& text);

// Deterministic test data of a given length.
enum class DataKind { Text, Binary, Runs, Random, OneByte, Escapes };
inline constexpr DataKind kAllKinds[] = {DataKind::Text,   DataKind::Binary,  DataKind::Runs,
                                         DataKind::Random, DataKind::OneByte, DataKind::Escapes};
Bytes MakeData(DataKind kind, size_t size, uint32_t seed = 1);
std::string KindName(DataKind kind);

// The whole stream (header + codec data) CompressStream writes.
Bytes CompressBytes(TVornCodec& codec, const Bytes& input, uint8_t method);
// ExpandStream into a fresh memory stream.
Bytes ExpandBytes(TVornCodec& codec, const Bytes& stream);

// Runs one codec through RunCodec, scrambled with any Key; the raw codec data, no header.
Bytes RunCodecBytes(TVornCodec& codec, const Bytes& input, uint8_t method, Direction direction,
                    int32_t uncompressedSize = 0);
// A codec alone on a fresh component: compressing never falls back for size.
Bytes CodecCompress(const Bytes& input, uint8_t method);
Bytes CodecExpand(const Bytes& codecData, uint8_t method, int64_t uncompressedSize);
// Compresses input twice through the component and once through the codec
// alone, and expands both: "" when the streams agree and give input back,
// else what went wrong.
std::string RoundTripFault(const Bytes& input, uint8_t method);
// Expands the codec data of every kind of input of the size, whole, cut
// short and with bytes after it, over whole input blocks and from a source
// that hands out seven bytes a read (no block holds a word, so every byte
// takes the byte path): "" when both take the same bytes (their sum stands
// for them), write the same and agree on running past the end, else the
// first case where they differ.
std::string BytePathFault(uint8_t method, size_t size);

// A stream header followed by codec data.
Bytes WithHeader(const std::string& id, int32_t uncompressedSize, uint32_t checksum,
                 int32_t lockLevel, const Bytes& codecData, uint8_t archiveType = 0);

uint32_t ByteSum(const Bytes& bytes);
// 64-bit FNV-1a, to pin codec data without spelling out its bytes.
uint64_t Digest(const Bytes& bytes);

// liblzma's options of a preset with the given literal and position bits
// and dictionary.
lzma_options_lzma LzmaOptions(uint32_t preset, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dictionary);
// liblzma's raw coder over a whole input, giving at most room bytes.
Bytes LzmaRawCode(const Bytes& input, const lzma_filter* filters, bool encoding, size_t room);

// The links of one LZM chain (VORN header, chained head, chunks), in chain
// order: liblzma's raw LZMA2 encoder flushed after each piece, and its x86
// converter on each piece alone.
struct TChainCase {
    uint8_t Lc = 3, Lp = 0, Pb = 2;
    uint32_t Dictionary = 1u << 20;
    bool X86 = false;
};
std::vector<Bytes> LzmaChain(const std::vector<Bytes>& pieces, const TChainCase& c = {});

}  // namespace vorn::test
