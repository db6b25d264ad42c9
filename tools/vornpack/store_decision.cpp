#include "tools/vornpack/store_decision.h"

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

TMemoryStream TakeSample(TStream& source, int64_t start, int64_t size) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kSampleSize));
    size_t filled = 0;
    for (int i = 0; i < kSamplePieces; ++i) {
        source.Seek(start + (size - kPieceSize) * i / (kSamplePieces - 1));
        filled += source.Read(bytes.data() + filled, static_cast<size_t>(kPieceSize));
    }
    bytes.resize(filled);
    return TMemoryStream(std::move(bytes));
}

}  // namespace

bool WorthCompressing(TStream& source, const SampleCompressor& compress) {
    const int64_t start = source.Position();
    const int64_t size = source.Size() - start;
    if (size < kSmallestJudged) return true;
    TMemoryStream sample = TakeSample(source, start, size);
    source.Seek(start);
    TVornCodec codec;
    codec.HeaderAllowance = kRequiredSaving;
    TNullStream nowhere;
    return compress(codec, nowhere, sample).Method != kMethodStored;
}

}  // namespace vorn::pack
