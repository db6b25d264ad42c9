// The LZM expander through TVornCodec in memory beside liblzma's raw LZMA1
// decoder on the same data (liblzma preset 6, dictionary no larger than the
// input), in MB/s of uncompressed data. Inputs as in codec_bench.cpp: the
// files of bench/corpus.sh in $VORN_CORPUS (default /tmp/vorn-corpus).
// Counter "ratio": the LZMA data's size over the input's.
#include <benchmark/benchmark.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <functional>
#include <vector>

#include "compress/lzma/lzma_format.h"
#include "compress/custom_methods.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TReference {
    lzma_options_lzma Options{};
    explicit TReference(size_t size) {
        lzma_lzma_preset(&Options, 6);
        Options.dict_size = static_cast<uint32_t>(std::clamp<size_t>(size, LZMA_DICT_SIZE_MIN, Options.dict_size));
    }
    std::array<lzma_filter, 2> Filters() const {
        return {{{LZMA_FILTER_LZMA1, const_cast<lzma_options_lzma*>(&Options)}, {LZMA_VLI_UNKNOWN, nullptr}}};
    }
};

Bytes Encode(const Bytes& input, const TReference& ref) {
    Bytes out(input.size() + input.size() / 2 + 4096);
    size_t pos = 0;
    const auto filters = ref.Filters();
    if (lzma_raw_buffer_encode(filters.data(), nullptr, input.data(), input.size(), out.data(), &pos, out.size()) !=
        LZMA_OK)
        throw std::runtime_error("liblzma could not encode the input");
    out.resize(pos);
    return out;
}

Bytes LzmStream(const Bytes& input, const TReference& ref, const Bytes& data) {
    vorn::lzma::TLzmaHead head;
    head.Lc = static_cast<uint8_t>(ref.Options.lc);
    head.Lp = static_cast<uint8_t>(ref.Options.lp);
    head.Pb = static_cast<uint8_t>(ref.Options.pb);
    head.DictionarySize = ref.Options.dict_size;
    head.Crc32 = static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size())));
    uint32_t sum = 0;
    for (uint8_t b : input) sum += b;
    const auto opening = vorn::lzma::StreamOpening(head, static_cast<int32_t>(input.size()), sum);
    Bytes out(opening.begin(), opening.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// An input with its LZMA data, encoded once, on first use: the encoder
// takes many times as long as the decoders, and a benchmark runs its
// function several times.
struct TCase {
    Bytes Input;
    TReference Reference;
    Bytes Raw;  // liblzma's LZMA1 data
    Bytes Lzm;  // the same data behind an LZM head
    explicit TCase(Bytes input) : Input(std::move(input)), Reference(Input.size()) {}
    void Prepare() {
        if (!Raw.empty()) return;
        Raw = Encode(Input, Reference);
        Lzm = LzmStream(Input, Reference, Raw);
    }
};

void LzmaExpand(benchmark::State& state, TCase& c) {
    c.Prepare();
    vorn::TVornCodec codec;
    vorn::UseCustomMethods(codec);
    vorn::TMemoryStream source(c.Lzm);
    for (auto _ : state) {
        vorn::TNullStream dest;
        source.Seek(0);
        codec.ExpandStream(dest, source);
    }
    state.counters["ratio"] = static_cast<double>(source.Size()) / static_cast<double>(c.Input.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.Input.size()));
}

void LiblzmaRawDecode(benchmark::State& state, TCase& c) {
    c.Prepare();
    Bytes out(c.Input.size());
    const auto filters = c.Reference.Filters();
    for (auto _ : state) {
        size_t inPos = 0, outPos = 0;
        const lzma_ret r = lzma_raw_buffer_decode(filters.data(), nullptr, c.Raw.data(), &inPos, c.Raw.size(),
                                                  out.data(), &outPos, out.size());
        if (r != LZMA_OK || outPos != c.Input.size()) state.SkipWithError("liblzma could not decode");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ratio"] = static_cast<double>(c.Raw.size()) / static_cast<double>(c.Input.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.Input.size()));
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const bool kRegistered = [] {
    static std::vector<std::pair<std::string, TCase>> cases;
    const char* env = std::getenv("VORN_CORPUS");
    const std::filesystem::path dir = env ? env : "/tmp/vorn-corpus";
    for (const char* name : {"text.txt", "binary.elf", "code.pe"})
        if (std::filesystem::exists(dir / name)) cases.emplace_back(name, TCase(ReadFile(dir / name)));
    for (auto& [name, c] : cases) {
        benchmark::RegisterBenchmark(("LzmaExpand/" + name).c_str(), LzmaExpand, std::ref(c))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("LiblzmaRawDecode/" + name).c_str(), LiblzmaRawDecode, std::ref(c))
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
