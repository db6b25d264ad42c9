// SHA-256 over 64 MiB in memory, as the remover hashes an installed file
// before it deletes it (and vornpack each entry for the record): the
// processor's SHA instructions where it has them, and the portable rounds.
// nettle's, where it is installed, is the reference. This is the tools'
// build (-O3); the remover is built for size (-Os), where the form of the
// portable rounds matters more.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "setup/remover/sha256.h"

#ifdef VORN_HAVE_NETTLE
#include <nettle/sha2.h>
#endif

namespace {

constexpr size_t kSize = 64u << 20;
constexpr size_t kReadBlock = 64u << 10;  // fed as the remover reads

const std::vector<uint8_t>& Input() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> out(kSize);
        std::mt19937 rng(11);
        for (uint8_t& byte : out) byte = static_cast<uint8_t>(rng());
        return out;
    }();
    return data;
}

void Sha256(benchmark::State& state, vorn::setup::Sha256Code code) {
    const std::vector<uint8_t>& data = Input();
    for (auto _ : state) {
        vorn::setup::TSha256 sha(code);
        for (size_t at = 0; at < kSize; at += kReadBlock) sha.Add(data.data() + at, kReadBlock);
        benchmark::DoNotOptimize(sha.Finish());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}
BENCHMARK_CAPTURE(Sha256, Fastest, vorn::setup::Sha256Code::Fastest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Sha256, Portable, vorn::setup::Sha256Code::Portable)->Unit(benchmark::kMillisecond);

#ifdef VORN_HAVE_NETTLE
void Sha256Nettle(benchmark::State& state) {
    const std::vector<uint8_t>& data = Input();
    for (auto _ : state) {
        sha256_ctx context;
        sha256_init(&context);
        for (size_t at = 0; at < kSize; at += kReadBlock) sha256_update(&context, kReadBlock, data.data() + at);
        uint8_t digest[SHA256_DIGEST_SIZE];
        sha256_digest(&context, sizeof digest, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}
BENCHMARK(Sha256Nettle)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
