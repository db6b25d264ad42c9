#include "tools/vornpack/build/store_decision.h"

#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "compress/vorn_header.h"

namespace vorn::pack {

namespace {

// Pieces spread over the file: its head, its tail and between, each long
// enough for the methods' windows to find what repeats nearby.
constexpr int kSamplePieces = 4;
constexpr int64_t kPieceSize = 8 << 10;
constexpr int64_t kSampleSize = kSamplePieces * kPieceSize;
// Below this a full run costs little more than judging a sample does.
constexpr int64_t kSmallestJudged = 4 * kSampleSize;
// The sample is held to the full run's rule, a byte saved, so that what
// the full run would compress, however little, is still compressed.
constexpr int32_t kRequiredSaving = 1;

// Bytes that take at most this many bits each in a code fitted to their
// frequencies: every method with an entropy coder makes them smaller,
// whatever repeats or not, so the sample need not be compressed. (A
// run-length entry may get a full run it did not need; the full run
// still decides what is stored.)
constexpr double kSkewedBitsPerByte = 7.0;

std::vector<uint8_t> TakeSample(TStream& source, int64_t start, int64_t size) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kSampleSize));
    size_t filled = 0;
    for (int i = 0; i < kSamplePieces; ++i) {
        source.Seek(start + (size - kPieceSize) * i / (kSamplePieces - 1));
        filled += source.Read(bytes.data() + filled, static_cast<size_t>(kPieceSize));
    }
    bytes.resize(filled);
    return bytes;
}

// Bits per byte of an order-0 code for bytes: their entropy.
double EntropyBitsPerByte(std::span<const uint8_t> bytes) {
    std::array<size_t, 256> counts{};
    for (const uint8_t b : bytes) ++counts[b];
    const auto total = static_cast<double>(bytes.size());
    double bits = 0;
    for (const size_t n : counts)
        if (n > 0) bits -= static_cast<double>(n) * std::log2(static_cast<double>(n) / total);
    return bits / total;
}

}  // namespace

bool WorthCompressing(TStream& source, const SampleCompressor& compress) {
    const int64_t start = source.Position();
    const int64_t size = source.Size() - start;
    if (size < kSmallestJudged) return true;
    std::vector<uint8_t> bytes = TakeSample(source, start, size);
    source.Seek(start);
    if (EntropyBitsPerByte(bytes) <= kSkewedBitsPerByte) return true;
    TMemoryStream sample(std::move(bytes));
    TVornCodec codec;
    codec.HeaderAllowance = kRequiredSaving;
    TNullStream nowhere;
    return compress(codec, nowhere, sample).Method != kMethodStored;
}

}  // namespace vorn::pack
