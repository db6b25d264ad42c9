// The LH5 expander on damaged and hostile data: impossible tables are
// refused, truncated and flipped streams end in the right exception or a
// checksum failure, and the fast expander agrees with the reference.
#include <gtest/gtest.h>

#include <functional>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Expand(const Bytes& codecData, int32_t size) {
    TVornCodec codec;
    return RunCodecBytes(codec, codecData, kMethodLh5, true, size);
}

// A one-symbol block whose header the caller writes from the code-length
// table on; the stream is padded with ones so that a reader running on
// never sees a tidy end.
Bytes Block(const std::function<void(TBitWriter&)>& tables) {
    TBitWriter w;
    w.Put(16, 1);
    tables(w);
    w.Put(32, 0xFFFFFFFF);
    return w.Data();
}

void SingleChar(TBitWriter& w, uint32_t symbol) { w.Put(9, 0), w.Put(9, symbol); }
void SingleDist(TBitWriter& w, uint32_t symbol) { w.Put(4, 0), w.Put(4, symbol); }
void SingleLen(TBitWriter& w, uint32_t symbol) { w.Put(5, 0), w.Put(5, symbol); }

void AuxLengths(TBitWriter& w, int width, std::vector<int> lengths, int special) {
    w.Put(width, static_cast<uint32_t>(lengths.size()));
    for (size_t i = 0; i < lengths.size(); ++i) {
        w.PutAuxLength(lengths[i]);
        if (static_cast<int>(i) + 1 == special) w.Put(2, 0);
    }
}

TEST(Lh5BadInput, ImpossibleTablesAreRefused) {
    const struct {
        const char* what;
        Bytes stream;
    } cases[] = {
        {"code lengths all zero", Block([](TBitWriter& w) { AuxLengths(w, 5, {0, 0, 0, 0}, 3); })},
        {"incomplete code", Block([](TBitWriter& w) { AuxLengths(w, 5, {2, 2, 2}, 3); })},
        {"over-full code that wraps to 0",
         Block([](TBitWriter& w) { AuxLengths(w, 5, {1, 1, 1, 1}, 3); })},
        {"length 17 in the code-length table",
         Block([](TBitWriter& w) { AuxLengths(w, 5, {1, 2, 17, 17, 16}, 3); })},
        {"length 20 in the distance table",
         Block([](TBitWriter& w) { SingleLen(w, 0), SingleChar(w, 'x'), AuxLengths(w, 4, {1, 20}, -1); })},
        {"single code-length symbol 19", Block([](TBitWriter& w) { SingleLen(w, 19); })},
        {"single code-length symbol 31", Block([](TBitWriter& w) { SingleLen(w, 31); })},
        {"single character 510", Block([](TBitWriter& w) { SingleLen(w, 0), SingleChar(w, 510); })},
        {"single character 511", Block([](TBitWriter& w) { SingleLen(w, 0), SingleChar(w, 511); })},
        {"single distance class 14",
         Block([](TBitWriter& w) { SingleLen(w, 0), SingleChar(w, 'x'), SingleDist(w, 14); })},
        {"character lengths all zero",
         Block([](TBitWriter& w) { SingleLen(w, 0), w.Put(9, 300); })},
        // Code-length code: symbol 2 (a long zero run) is 0, symbol 3 (length 1) is 1.
        {"zero run past the 511 entries", Block([](TBitWriter& w) {
             AuxLengths(w, 5, {0, 0, 1, 1}, 3);
             w.Put(9, 511), w.Put(1, 1), w.Put(1, 1), w.Put(1, 0), w.Put(9, 510 - 20);
         })},
    };
    TVornCodec codec;
    for (const auto& c : cases) {
        try {
            RunCodecBytes(codec, c.stream, kMethodLh5, true, 1);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ELZHBadDecodeTable& e) {
            EXPECT_STREQ(e.what(), "Bad decode table in archive!") << c.what;
        }
        EXPECT_THROW(ReferenceExpand(c.stream, 1), ELZHBadDecodeTable) << c.what;
    }
    // Through the component, the exception passes unchanged.
    const Bytes stream = WithHeader("LH5", 1, 0x78, 0, cases[0].stream);
    EXPECT_THROW(ExpandBytes(codec, stream), ELZHBadDecodeTable);
}

TEST(Lh5BadInput, EdgesOfTheTablesThatAreStillValid) {
    // A zero run that ends exactly at entry 511 fills only the spare entry.
    const Bytes run = Block([](TBitWriter& w) {
        AuxLengths(w, 5, {0, 0, 1, 1}, 3);
        w.Put(9, 511), w.Put(1, 1), w.Put(1, 1), w.Put(1, 0), w.Put(9, 509 - 20);
        SingleDist(w, 0);
    });
    EXPECT_EQ(Expand(run, 1), Hex("01"));
    // A distance table of 15 lengths: the spare 15th may even be 20.
    const Bytes spare = Block([](TBitWriter& w) {
        SingleLen(w, 0), SingleChar(w, 'x');
        AuxLengths(w, 4, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20}, -1);
    });
    EXPECT_EQ(Expand(spare, 1), Hex("78"));
}

Bytes Sample(size_t size) {
    Bytes data = MakeData(DataKind::Text, size, 5);
    const Bytes binary = MakeData(DataKind::Binary, size / 2, 6);
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(size / 3), binary.begin(), binary.end());
    return data;
}

// Both decoders give the same bytes, or both refuse the tables.
void ExpectSameAsReference(const Bytes& codecData, int32_t size, const std::string& what) {
    Bytes fast, slow;
    bool fastRefused = false, slowRefused = false;
    try {
        fast = Expand(codecData, size);
    } catch (const ELZHBadDecodeTable&) {
        fastRefused = true;
    }
    try {
        slow = ReferenceExpand(codecData, size);
    } catch (const ELZHBadDecodeTable&) {
        slowRefused = true;
    }
    ASSERT_EQ(fastRefused, slowRefused) << what;
    if (fastRefused) return;
    ASSERT_EQ(fast, slow) << what;
    // Never short, and at most the tail of one match past the size.
    ASSERT_GE(fast.size(), static_cast<size_t>(size)) << what;
    ASSERT_LE(fast.size(), static_cast<size_t>(size) + 255) << what;
}

TEST(Lh5BadInput, FlippedBitsAgreeWithTheReference) {
    const Bytes input = Sample(3000);
    TVornCodec codec;
    const Bytes codecData = RunCodecBytes(codec, input, kMethodLh5, false);
    const int32_t size = static_cast<int32_t>(input.size());
    for (size_t bit = 0; bit < codecData.size() * 8; ++bit) {
        Bytes damaged = codecData;
        damaged[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
        ExpectSameAsReference(damaged, size, "bit " + std::to_string(bit));
    }
}

TEST(Lh5BadInput, TruncatedAndRandomStreamsAgreeWithTheReference) {
    const Bytes input = Sample(20000);
    TVornCodec codec;
    const Bytes codecData = RunCodecBytes(codec, input, kMethodLh5, false);
    const int32_t size = static_cast<int32_t>(input.size());
    for (size_t cut = 0; cut < codecData.size(); cut += 1 + cut / 8)
        ExpectSameAsReference(Bytes(codecData.begin(), codecData.begin() + static_cast<std::ptrdiff_t>(cut)),
                              size, "cut at " + std::to_string(cut));
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        Bytes random = MakeData(DataKind::Random, 64 + seed * 7, seed);
        random[0] = 0;  // small blocks get further into the header
        ExpectSameAsReference(random, 5000, "random seed " + std::to_string(seed));
    }
}

TEST(Lh5BadInput, DamagedStreamsEndInTheRightException) {
    const Bytes input = Sample(6000);
    TVornCodec codec;
    const Bytes stream = CompressBytes(codec, input, kMethodLh5);
    ASSERT_EQ(stream[5], 'L');
    int failures = 0;
    auto check = [&](const Bytes& damaged) {
        try {
            EXPECT_EQ(ExpandBytes(codec, damaged), input);
        } catch (const EBadChecksum&) {
            ++failures;
        } catch (const ELZHBadDecodeTable&) {
            ++failures;
        }
    };
    for (size_t cut = kHeaderSize + 1; cut < stream.size(); cut += 37) check(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)));
    for (size_t i = kHeaderSize; i < stream.size(); i += 11) {
        Bytes damaged = stream;
        damaged[i] ^= 0x10;
        check(damaged);
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace vorn::test
