#include "tests/support/test_support.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>
#include <stdexcept>
#include <tuple>

#include "compress/codec_internal.h"
#include "compress/vorn_header.h"

namespace vorn::test {

Bytes Hex(const std::string& text) {
    std::string digits = text;
    std::erase_if(digits, [](unsigned char c) { return std::isspace(c); });
    if (digits.size() % 2 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::invalid_argument("bad hex: " + text);
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string ToHex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) out.append(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%02X ", b)));
    return out.substr(0, out.size() - !out.empty());
}

Bytes MakeData(DataKind kind, size_t size, uint32_t seed) {
    static const char* const kWords[] = {"the ", "install ", "folder ", "stream ", "codec ",
                                         "{\n", "}\n", "return ", "int ", "0x1A, ", "\t", ";\n"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const uint32_t r = rng();
        switch (kind) {
            case DataKind::Text:
                for (const char* w = kWords[r % std::size(kWords)]; *w; ++w) out.push_back(static_cast<uint8_t>(*w));
                break;
            case DataKind::Binary:  // like machine code: small values, repeated opcodes, addresses
                out.push_back(static_cast<uint8_t>((r & 3) == 0 ? 0 : (r >> 8) % 40 + 0x80 * ((r >> 20) & 1)));
                break;
            case DataKind::Runs: {
                const auto b = static_cast<uint8_t>(r % 8 == 0 ? 0x94 : rng() % 4);
                out.insert(out.end(), 1 + rng() % 300, b);
                break;
            }
            case DataKind::Random: out.push_back(static_cast<uint8_t>(r)); break;
            case DataKind::OneByte: out.push_back(0x61); break;
            case DataKind::Escapes: out.push_back(r % 4 ? 0x94 : static_cast<uint8_t>(rng())); break;
        }
    }
    out.resize(size);
    return out;
}

std::string KindName(DataKind kind) {
    static const char* const kNames[] = {"Text", "Binary", "Runs", "Random", "OneByte", "Escapes"};
    return kNames[static_cast<int>(kind)];
}

Bytes CompressBytes(TVornCodec& codec, const Bytes& input, uint8_t method) {
    TMemoryStream source(input);
    TMemoryStream dest;
    const TCompressResult done = codec.CompressStream(dest, source, method);
    const Bytes& out = dest.Bytes();
    // Every compressing test also checks the result against what was written.
    if (done.BytesWritten != dest.Size() ||
        (!out.empty() && (TVornHeader::Decode(out.data()).Id() != CompressionIDs[done.Method] ||
                          TVornHeader::Decode(out.data()).Checksum != done.Checksum)))
        throw std::logic_error("CompressStream's result differs from what it wrote");
    return out;
}

Bytes ExpandBytes(TVornCodec& codec, const Bytes& stream) {
    TMemoryStream source(stream), dest;
    codec.ExpandStream(dest, source);
    return dest.Bytes();
}

Bytes RunCodecBytes(TVornCodec& codec, const Bytes& input, uint8_t method, Direction direction,
                    int32_t uncompressedSize) {
    TMemoryStream source(input), dest;
    uint32_t sum = 0;
    codec.RunCodec(dest, source, static_cast<int32_t>(input.size()), uncompressedSize, method, sum,
                   direction, Scrambling::On);
    return dest.Bytes();
}

Bytes CodecCompress(const Bytes& input, uint8_t method) {
    TVornCodec codec;
    codec.HeaderAllowance = INT32_MIN / 2;
    return RunCodecBytes(codec, input, method, Direction::Compress);
}

Bytes CodecExpand(const Bytes& codecData, uint8_t method, int64_t uncompressedSize) {
    TVornCodec codec;
    return RunCodecBytes(codec, codecData, method, Direction::Expand, static_cast<int32_t>(uncompressedSize));
}

std::string RoundTripFault(const Bytes& input, uint8_t method) {
    TVornCodec codec;
    const Bytes stream = CompressBytes(codec, input, method);
    if (CompressBytes(codec, input, method) != stream) return "second stream differs";
    if (ExpandBytes(codec, stream) != input) return "stream expands wrong";
    if (CodecExpand(CodecCompress(input, method), method, static_cast<int64_t>(input.size())) != input)
        return "codec data expands wrong";
    return "";
}

namespace {

class TStingyStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    size_t Read(void* buffer, size_t n) override { return TMemoryStream::Read(buffer, std::min<size_t>(n, 7)); }
};

}  // namespace

std::string BytePathFault(uint8_t method, size_t size) {
    for (DataKind kind : kAllKinds) {
        const Bytes data = CodecCompress(MakeData(kind, size, 3), method);
        // Bytes past the codec data show how far each path reads ahead.
        for (size_t cut : {data.size() + 16, data.size(), data.size() - 1, data.size() / 2}) {
            auto run = [&](TMemoryStream&& source) {
                TVornCodec codec;
                TMemoryStream dest;
                uint32_t sum = 0;
                codec.RunCodec(dest, source, static_cast<int32_t>(cut), static_cast<int32_t>(size), method, sum,
                               Direction::Expand, Scrambling::Off);
                return std::tuple(dest.Bytes(), EngineOf(codec).ReadChecksum, EngineOf(codec).ReadPastEnd);
            };
            Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(cut, data.size())));
            part.resize(cut, 0xA5);
            if (run(TMemoryStream(part)) != run(TStingyStream(part))) return KindName(kind) + " cut " + std::to_string(cut);
        }
    }
    return "";
}

Bytes WithHeader(const std::string& id, int32_t uncompressedSize, uint32_t checksum,
                 int32_t lockLevel, const Bytes& codecData, uint8_t archiveType) {
    TVornHeader header;
    std::copy_n(id.begin(), 3, header.CompressID.begin());
    header.UncompressedSize = uncompressedSize, header.Checksum = checksum;
    header.LockLevel = lockLevel, header.ArchiveType = archiveType;
    const auto encoded = header.Encode();
    Bytes out(encoded.size() + codecData.size());
    std::copy(codecData.begin(), codecData.end(), std::copy(encoded.begin(), encoded.end(), out.begin()));
    return out;
}

uint32_t ByteSum(const Bytes& bytes) { return std::accumulate(bytes.begin(), bytes.end(), uint32_t{0}); }

uint64_t Digest(const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325u;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3u;
    return h;
}

}  // namespace vorn::test
