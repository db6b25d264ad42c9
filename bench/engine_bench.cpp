// The engine's byte path: stored and run-length, both directions, over
// 64 MiB in memory through TVornCodec. Throughput is in bytes of
// uncompressed data per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace {

using vorn::TMemoryStream;
using vorn::TVornCodec;

constexpr size_t kSize = 64u << 20;

// Text-like data with short runs, so run-length has something to do.
const std::vector<uint8_t>& Input() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> out(kSize);
        std::mt19937 rng(7);
        for (size_t i = 0; i < kSize;) {
            uint8_t b = static_cast<uint8_t>('a' + rng() % 26);
            size_t n = rng() % 16 == 0 ? 3 + rng() % 40 : 1;
            for (size_t k = 0; k < n && i < kSize; ++k) out[i++] = b;
        }
        return out;
    }();
    return data;
}

std::vector<uint8_t> Compressed(uint8_t method) {
    TVornCodec codec;
    TMemoryStream source(Input()), dest;
    codec.CompressStream(dest, source, method);
    return dest.Bytes();
}

void Compress(benchmark::State& state, uint8_t method) {
    TVornCodec codec;
    TMemoryStream source(Input()), dest;
    for (auto _ : state) {
        dest.SetSize(0);  // keeps its memory: the kernel's page faults are not ours
        source.Seek(0);
        codec.CompressStream(dest, source, method);
        state.counters["ratio"] = static_cast<double>(dest.Size()) / kSize;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void Expand(benchmark::State& state, uint8_t method) {
    TVornCodec codec;
    TMemoryStream source(Compressed(method)), dest;
    for (auto _ : state) {
        dest.SetSize(0);
        source.Seek(0);
        codec.ExpandStream(dest, source);
        benchmark::DoNotOptimize(dest.Bytes().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK_CAPTURE(Expand, Stored, vorn::kMethodStored)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, Stored, vorn::kMethodStored)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Expand, Rle, vorn::kMethodRle)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, Rle, vorn::kMethodRle)->Unit(benchmark::kMillisecond);

}  // namespace
