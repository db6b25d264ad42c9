// The tools' buffered stream against the stream below it.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/test_support.h"
#include "tools/common/buffered_stream.h"

namespace vorn::test {
namespace {

// TBufferedStream must be indistinguishable from the stream below it: every
// mix of reads, writes, seeks and resizes gives the same bytes, positions
// and sizes as the same calls made on that stream directly.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

TEST(BufferedStream, RandomOperationsMatchTheStreamBelow) {
    for (size_t capacity : {1u, 16u, 1000u}) {
        TMemoryStream model(Pattern(3000, 1)), inner(Pattern(3000, 1));
        tools::TBufferedStream buffered(inner, capacity);
        std::mt19937 rng(static_cast<uint32_t>(capacity));
        for (int step = 0; step < 4000; ++step) {
            const size_t n = rng() % 40 + (rng() % 50 == 0 ? 2000 : 0);
            const unsigned op = rng() % 6;
            if (op < 2) {
                std::vector<uint8_t> a(n), b(n);
                ASSERT_EQ(buffered.Read(a.data(), n), model.Read(b.data(), n));
                ASSERT_EQ(a, b);
            } else if (op < 4) {
                const auto bytes = Pattern(n, static_cast<uint8_t>(step));
                buffered.Write(bytes.data(), n);
                model.Write(bytes.data(), n);
            } else {
                const int64_t to = static_cast<int64_t>(rng() % 4000);
                op == 4 ? buffered.Seek(to) : buffered.SetSize(to);
                op == 4 ? model.Seek(to) : model.SetSize(to);
            }
            ASSERT_EQ(buffered.Position(), model.Position()) << "step " << step;
            ASSERT_EQ(buffered.Size(), model.Size()) << "step " << step;
        }
        buffered.Flush();
        EXPECT_EQ(inner.Bytes(), model.Bytes()) << "capacity " << capacity;
    }
}

}  // namespace
}  // namespace vorn::test
