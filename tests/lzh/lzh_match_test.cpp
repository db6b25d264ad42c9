// The match trees against brute force: the window slides as in the
// compressor, and after an insertion the longest match must be the longest
// one in the window. The data repeats 60-byte strings, so newer equal
// strings replace older nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "compress/lzh/lzh_constants.h"
#include "compress/lzh/lzh_match.h"
#include "compress/lzh/lzh_model.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

int CommonPrefix(const uint8_t* a, const uint8_t* b) {
    int k = 0;
    while (k < LzhMaxMatch && a[k] == b[k]) ++k;
    return k;
}

// The compressor's window without the coding: the ring with its copy,
// a look-ahead of 60 bytes, one deletion and one insertion per byte.
class Window {
public:
    explicit Window(const Bytes& data) : data_(data) {
        LzhAllocateState(z, true);
        LzhInitTree(z);
        uint8_t* ring = z.RingBuf.get();
        std::fill(ring, ring + LzhRingBufSize, 0x20);
        for (int k = 0; k < LzhMaxMatch; ++k) ring[LzhRingStart + k] = data_[next_++];
        for (int k = 1; k <= LzhMaxMatch; ++k) LzhInsertNode(z, LzhRingStart - k);
        LzhInsertNode(z, LzhRingStart);
    }
    ~Window() { LzhFreeState(z); }

    bool Step() {
        if (next_ >= data_.size()) return false;
        LzhDeleteNode(z, s_);
        z.RingBuf[s_] = data_[next_];
        if (s_ < LzhMirrorLen) z.RingBuf[s_ + LzhRingSize] = data_[next_];
        ++next_;
        s_ = (s_ + 1) & LzhRingMask;
        r_ = (r_ + 1) & LzhRingMask;
        LzhInsertNode(z, r_);
        return true;
    }

    int r() const { return r_; }
    int Coded() const { return static_cast<int>(next_) - LzhMaxMatch; }

    // The longest match of r's string among the 4,036 positions before it.
    int BruteForceLongest() const {
        int best = 0;
        for (int d = 0; d < LzhRingStart; ++d)
            best = std::max(best, CommonPrefix(&z.RingBuf[r_], &z.RingBuf[(r_ - d - 1) & LzhRingMask]));
        return best > LzhThreshold ? best : 0;
    }

    TLzhState z;

private:
    Bytes data_;
    size_t next_ = 0;
    int s_ = 0;
    int r_ = LzhRingStart;
};

// Few letters and many copies of earlier stretches: long matches, equal
// 60-byte strings, deep trees.
Bytes RepetitiveData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        if (out.size() > 100 && rng() % 2) {
            const size_t from = out.size() - 1 - rng() % std::min<size_t>(out.size() - 1, 5000);
            const size_t n = 1 + rng() % 100;
            for (size_t k = 0; k < n; ++k) out.push_back(out[from + k]);
        } else {
            for (size_t n = 1 + rng() % 20; n > 0; --n) out.push_back(static_cast<uint8_t>('a' + rng() % 4));
        }
    }
    out.resize(size);
    return out;
}

TEST(LzhMatch, TreesFindTheLongestMatchInTheWindow) {
    Window w(RepetitiveData(14000, 2));
    int checked = 0;
    while (w.Step()) {
        if (w.Coded() % 5 != 0) continue;
        const int len = w.z.LzhMatchLen;
        ASSERT_EQ(len, w.BruteForceLongest()) << "at " << w.Coded();
        if (len > 0) {
            const int p = (w.r() - w.z.LzhMatchPos - 1) & LzhRingMask;
            ASSERT_LT(w.z.LzhMatchPos, LzhRingStart);
            ASSERT_GE(CommonPrefix(&w.z.RingBuf[w.r()], &w.z.RingBuf[p]), len);
        }
        ++checked;
    }
    EXPECT_GT(checked, 2000);
}

}  // namespace
}  // namespace vorn::test
