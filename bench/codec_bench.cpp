// LH5 and LZH expand and compress through TVornCodec in memory, in MB/s of
// uncompressed data, on the same inputs: the files of bench/corpus.sh in
// $VORN_CORPUS (default /tmp/vorn-corpus), or generated text and runs
// without them. Counters: "ratio" is the stream size over the input size;
// "vs_lh5" is the stream size over the LH5 stream's. ZlibInflate (and
// LibdeflateInflate where that library was found) expand the same inputs,
// deflated at zlib's default level, into memory: the ratio to quote beside
// every figure.
#include <benchmark/benchmark.h>
#include <zlib.h>
#ifdef VORN_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace {

using vorn::TMemoryStream;
using vorn::TNullStream;
using vorn::TVornCodec;

using Bytes = std::vector<uint8_t>;

Bytes Generated(bool text) {
    Bytes out(8u << 20);
    std::mt19937 rng(11);
    static const char* const kWords[] = {"int ", "return ", "const ", "struct ", "{\n", "}\n", "(void)", ";\n"};
    for (size_t i = 0; i < out.size();) {
        if (text) {
            for (const char* w = kWords[rng() % std::size(kWords)]; *w && i < out.size(); ++w)
                out[i++] = static_cast<uint8_t>(*w);
        } else {
            const uint8_t b = static_cast<uint8_t>(rng() % 4);
            for (size_t n = 1 + rng() % 200; n > 0 && i < out.size(); --n) out[i++] = b;
        }
    }
    return out;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Compress(const Bytes& input, uint8_t method) {
    TVornCodec codec;
    TMemoryStream source(input), dest;
    codec.CompressStream(dest, source, method);
    return dest.Bytes();
}

void Expand(benchmark::State& state, uint8_t method, const Bytes& input) {
    TVornCodec codec;
    TMemoryStream source(Compress(input, method));
    for (auto _ : state) {
        TNullStream dest;
        source.Seek(0);
        codec.ExpandStream(dest, source);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void CompressInput(benchmark::State& state, uint8_t method, const Bytes& input) {
    TVornCodec codec;
    TMemoryStream source(input);
    int64_t written = 0;
    for (auto _ : state) {
        TMemoryStream dest;
        source.Seek(0);
        codec.CompressStream(dest, source, method);
        written = dest.Size();
    }
    state.counters["ratio"] = static_cast<double>(written) / static_cast<double>(input.size());
    if (method != vorn::kMethodLh5)
        state.counters["vs_lh5"] =
            static_cast<double>(written) / static_cast<double>(Compress(input, vorn::kMethodLh5).size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

Bytes Deflated(const Bytes& input) {
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, input.data(), static_cast<uLong>(input.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not deflate the input");
    out.resize(size);
    return out;
}

void ZlibInflate(benchmark::State& state, const Bytes& input) {
    const Bytes deflated = Deflated(input);
    Bytes out(input.size());
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &size, deflated.data(), static_cast<uLong>(deflated.size())) != Z_OK)
            state.SkipWithError("zlib could not inflate");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ratio"] = static_cast<double>(deflated.size()) / static_cast<double>(input.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

#ifdef VORN_HAVE_LIBDEFLATE
void LibdeflateInflate(benchmark::State& state, const Bytes& input) {
    const Bytes deflated = Deflated(input);
    Bytes out(input.size());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        if (libdeflate_zlib_decompress(d, deflated.data(), deflated.size(), out.data(), out.size(), nullptr) !=
            LIBDEFLATE_SUCCESS)
            state.SkipWithError("libdeflate could not inflate");
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
#endif

// Registers the benchmarks before main runs; the data lives as long as the
// process.
const bool kRegistered = [] {
    static std::vector<std::pair<std::string, Bytes>> inputs;
    const char* env = std::getenv("VORN_CORPUS");
    const std::filesystem::path dir = env ? env : "/tmp/vorn-corpus";
    for (const char* name : {"text.txt", "binary.elf", "log.txt", "random.bin"})
        if (std::filesystem::exists(dir / name)) inputs.emplace_back(name, ReadFile(dir / name));
    if (inputs.empty()) {
        inputs.emplace_back("generated-text", Generated(true));
        inputs.emplace_back("generated-runs", Generated(false));
    }
    for (const auto& [prefix, method] : {std::pair<std::string, uint8_t>{"Lh5", vorn::kMethodLh5},
                                         {"Lzh", vorn::kMethodLzh}}) {
        for (const auto& [name, bytes] : inputs) {
            benchmark::RegisterBenchmark((prefix + "Expand/" + name).c_str(), Expand, method, bytes)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((prefix + "Compress/" + name).c_str(), CompressInput, method, bytes)
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (const auto& [name, bytes] : inputs) {
        benchmark::RegisterBenchmark(("ZlibInflate/" + name).c_str(), ZlibInflate, bytes)
            ->Unit(benchmark::kMillisecond);
#ifdef VORN_HAVE_LIBDEFLATE
        benchmark::RegisterBenchmark(("LibdeflateInflate/" + name).c_str(), LibdeflateInflate, bytes)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    return true;
}();

}  // namespace
