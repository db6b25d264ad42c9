// The LZM expander through TVornCodec in memory beside liblzma's raw LZMA1
// decoder on the same data (liblzma preset 6, dictionary no larger than the
// input), in MB/s of uncompressed data. Inputs as in codec_bench.cpp: the
// files of bench/corpus.sh in $VORN_CORPUS (default /tmp/vorn-corpus).
// Counter "ratio": the LZMA data's size over the input's.
#include <benchmark/benchmark.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
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
    lzma_filter Filters[2]{};
    explicit TReference(size_t size) {
        lzma_lzma_preset(&Options, 6);
        Options.dict_size = static_cast<uint32_t>(std::clamp<size_t>(size, LZMA_DICT_SIZE_MIN, Options.dict_size));
        Filters[0] = {LZMA_FILTER_LZMA1, &Options};
        Filters[1] = {LZMA_VLI_UNKNOWN, nullptr};
    }
};

Bytes Encode(const Bytes& input, const TReference& ref) {
    Bytes out(input.size() + input.size() / 2 + 4096);
    size_t pos = 0;
    if (lzma_raw_buffer_encode(ref.Filters, nullptr, input.data(), input.size(), out.data(), &pos, out.size()) != LZMA_OK)
        throw std::runtime_error("liblzma could not encode the input");
    out.resize(pos);
    return out;
}

Bytes LzmStream(const Bytes& input, const TReference& ref) {
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
    const Bytes data = Encode(input, ref);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void LzmaExpand(benchmark::State& state, const Bytes& input) {
    const TReference ref(input.size());
    vorn::TVornCodec codec;
    vorn::UseCustomMethods(codec);
    vorn::TMemoryStream source(LzmStream(input, ref));
    for (auto _ : state) {
        vorn::TNullStream dest;
        source.Seek(0);
        codec.ExpandStream(dest, source);
    }
    state.counters["ratio"] = static_cast<double>(source.Size()) / static_cast<double>(input.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void LiblzmaRawDecode(benchmark::State& state, const Bytes& input) {
    const TReference ref(input.size());
    const Bytes data = Encode(input, ref);
    Bytes out(input.size());
    for (auto _ : state) {
        size_t inPos = 0, outPos = 0;
        const lzma_ret r = lzma_raw_buffer_decode(ref.Filters, nullptr, data.data(), &inPos, data.size(),
                                                  out.data(), &outPos, out.size());
        if (r != LZMA_OK || outPos != input.size()) state.SkipWithError("liblzma could not decode");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ratio"] = static_cast<double>(data.size()) / static_cast<double>(input.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const bool kRegistered = [] {
    static std::vector<std::pair<std::string, Bytes>> inputs;
    const char* env = std::getenv("VORN_CORPUS");
    const std::filesystem::path dir = env ? env : "/tmp/vorn-corpus";
    for (const char* name : {"text.txt", "binary.elf"})
        if (std::filesystem::exists(dir / name)) inputs.emplace_back(name, ReadFile(dir / name));
    for (const auto& [name, bytes] : inputs) {
        benchmark::RegisterBenchmark(("LzmaExpand/" + name).c_str(), LzmaExpand, bytes)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("LiblzmaRawDecode/" + name).c_str(), LiblzmaRawDecode, bytes)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
