// LH5 codec data, exact bytes both ways, and hand-built streams that pin
// down how the expander reads a block header.
#include <gtest/gtest.h>

#include "compress/lh5/lh5_constants.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Expand(const Bytes& codecData, size_t size) {
    TVornCodec codec;
    return RunCodecBytes(codec, codecData, kMethodLh5, true, static_cast<int32_t>(size));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A block header whose three tables each name one symbol, so that the
// block's symbols take no bits at all.
void PutSingleTables(TBitWriter& w, uint32_t count, int charSymbol, int distClass = 0) {
    w.Put(16, count);
    w.Put(5, 0), w.Put(5, 0);
    w.Put(9, 0), w.Put(9, static_cast<uint32_t>(charSymbol));
    w.Put(4, 0), w.Put(4, static_cast<uint32_t>(distClass));
}

// Code-length code of four 2-bit codes: 0 = 00 (one zero), 1 = 01 (3..18
// zeros), 2 = 10 (20..531 zeros), 3 = 11 (length 1).
void PutFourLenCodes(TBitWriter& w) {
    w.Put(5, 4);
    w.PutAuxLength(2), w.PutAuxLength(2), w.PutAuxLength(2);
    w.Put(2, 0);  // no zero run after the third length
    w.PutAuxLength(2);
}

// Character lengths giving 'a' (97) and symbol 263 (a 10-byte match) one bit
// each: 'a' is 0, the match is 1.
void PutLiteralAndMatchChars(TBitWriter& w) {
    w.Put(9, 264);
    w.Put(2, 2), w.Put(9, 97 - 20);   // zeros 0..96
    w.Put(2, 3);                      // 97: length 1
    w.Put(2, 2), w.Put(9, 165 - 20);  // zeros 98..262
    w.Put(2, 3);                      // 263: length 1
}

TEST(Lh5Vectors, CompressorAndExpanderAgreeOnTheKnownStreams) {
    const struct {
        Bytes input;
        const char* codecData;
    } cases[] = {
        // One literal: count 1, single-symbol tables, no symbol bits.
        {Hex("41"), "00 01 00 00 04 10 00"},
        // Three literals.
        {Hex("61 62 63"), "00 03 28 08 44 C9 13 58 02 60"},
        // A literal and a 9-byte match at distance one.
        {Bytes(10, 0x61), "00 02 20 04 30 71 36 48 40 10"},
    };
    TVornCodec codec;
    codec.HeaderAllowance = -64;
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(RunCodecBytes(codec, c.input, kMethodLh5, false)), ToHex(Hex(c.codecData)));
        EXPECT_EQ(Expand(Hex(c.codecData), c.input.size()), c.input);
    }
    // An empty source gives no codec data; size 0 reads and writes nothing.
    EXPECT_TRUE(RunCodecBytes(codec, {}, kMethodLh5, false).empty());
    EXPECT_TRUE(RunCodecBytes(codec, Hex("00 01 00 00 04 10 00"), kMethodLh5, true, 0).empty());
    EXPECT_EQ(codec.Engine().ReadChecksum, 0u);
}

TEST(Lh5Vectors, SingleSymbolTablesTakeNoBits) {
    // Character table: two blocks back to back, the second header right
    // behind the first.
    TBitWriter chars;
    PutSingleTables(chars, 3, 'a');
    PutSingleTables(chars, 2, 'b');
    EXPECT_EQ(Expand(chars.Data(), 5), Text("aaabb"));

    // Distance table of class 0: 'a' then a 10-byte match repeating it.
    TBitWriter dist;
    dist.Put(16, 2);
    PutFourLenCodes(dist);
    PutLiteralAndMatchChars(dist);
    dist.Put(4, 0), dist.Put(4, 0);
    dist.Put(1, 0), dist.Put(1, 1);
    EXPECT_EQ(Expand(dist.Data(), 11), Bytes(11, 'a'));

    // Code-length table of symbol 3: every character length is 1, read
    // without bits; symbols 0 and 1 then cost one bit each.
    TBitWriter lens;
    lens.Put(16, 3);
    lens.Put(5, 0), lens.Put(5, 3);
    lens.Put(9, 2);
    lens.Put(4, 0), lens.Put(4, 0);
    lens.Put(1, 1), lens.Put(1, 0), lens.Put(1, 1);
    EXPECT_EQ(Expand(lens.Data(), 3), Hex("01 00 01"));
}

TEST(Lh5Vectors, ZeroRunAfterTheThirdCodeLength) {
    // Each stream has a code-length table that the character table (a single
    // 'x') never uses; a misread bit shifts everything after it.
    auto stream = [](int n, std::vector<int> lengths, int run) {
        TBitWriter w;
        w.Put(16, 1);
        w.Put(5, static_cast<uint32_t>(n));
        for (size_t i = 0; i < lengths.size(); ++i) {
            w.PutAuxLength(lengths[i]);
            if (i == 2) w.Put(2, static_cast<uint32_t>(run));
        }
        w.Put(9, 0), w.Put(9, 'x');
        w.Put(4, 0), w.Put(4, 0);
        return w.Data();
    };
    // n = 3 still reads the two bits.
    EXPECT_EQ(Expand(stream(3, {1, 1, 0}, 3), 1), Text("x"));
    // n = 2 does not.
    EXPECT_EQ(Expand(stream(2, {1, 1}, 0), 1), Text("x"));
    // A run of 3 carries the index from 3 to 6, past n = 4: the list ends.
    EXPECT_EQ(Expand(stream(4, {1, 2, 2}, 3), 1), Text("x"));
    // A run of 1 then a fifth length: entries 0, 1, 2, (3 = 0), 4.
    EXPECT_EQ(Expand(stream(5, {1, 2, 0, 2}, 1), 1), Text("x"));
}

TEST(Lh5Vectors, LongCodeLengthsAndDistanceClasses) {
    // Distance lengths 1..13, 13: lengths from 7 on take 7 + k unary bits,
    // and class 13 needs 13 bits, past the 8-bit lookup table.
    TBitWriter w;
    w.Put(16, 4);
    PutFourLenCodes(w);
    PutLiteralAndMatchChars(w);
    w.Put(4, 14);
    for (int len : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 13}) w.PutAuxLength(len);
    w.Put(1, 0);                                   // 'a'
    w.Put(1, 1), w.Put(13, 0x1FFF), w.Put(12, 0);  // class 13: distance 4,096 reaches the initial spaces
    w.Put(1, 1), w.Put(1, 0);                      // class 0: repeat the last byte
    w.Put(1, 1), w.Put(6, 0x3E), w.Put(4, 4);      // class 5: distance 16 + 4 = 20 reaches the 'a'
    const Bytes expected = [] {
        Bytes out = Text("a");
        out.resize(21, ' ');
        for (size_t k = 0; k < 10; ++k) out.push_back(out[k]);
        return out;
    }();
    EXPECT_EQ(Expand(w.Data(), expected.size()), expected);
    EXPECT_EQ(ReferenceExpand(w.Data(), static_cast<int32_t>(expected.size())), expected);
}

TEST(Lh5Vectors, ZeroRunsInTheCharacterLengths) {
    // 'a' (97) and 'b' at 97 + 1 + run: symbol 1 with 15 is a run of 18,
    // symbol 2 with 0 a run of 20, and a run of 19 is symbol 0 then symbol 1
    // with 15.
    for (int run : {18, 19, 20}) {
        TBitWriter w;
        w.Put(16, 2);
        PutFourLenCodes(w);
        w.Put(9, static_cast<uint32_t>(98 + run + 1));
        w.Put(2, 2), w.Put(9, 97 - 20);
        w.Put(2, 3);
        if (run == 18) w.Put(2, 1), w.Put(4, 15);
        if (run == 19) w.Put(2, 0), w.Put(2, 1), w.Put(4, 15);
        if (run == 20) w.Put(2, 2), w.Put(9, 0);
        w.Put(2, 3);
        w.Put(4, 0), w.Put(4, 0);
        w.Put(1, 1), w.Put(1, 0);
        const Bytes expected = {static_cast<uint8_t>(98 + run), 97};
        EXPECT_EQ(Expand(w.Data(), 2), expected) << "run " << run;
    }
}

TEST(Lh5Vectors, HeaderCountZeroMeans65536Symbols) {
    TBitWriter w;
    PutSingleTables(w, 0, 'x');
    PutSingleTables(w, 1, 'y');
    Bytes expected(65536, 'x');
    expected.push_back('y');
    EXPECT_EQ(Expand(w.Data(), expected.size()), expected);
}

TEST(Lh5Vectors, MatchesAtTheStartAndPastTheSize) {
    // A first match reaches before the first byte and copies the initial
    // spaces; one of distance 0 and length 256 repeats the previous byte.
    TBitWriter w;
    w.Put(16, 3);
    PutFourLenCodes(w);
    w.Put(9, 510);
    w.Put(2, 2), w.Put(9, 97 - 20);
    w.Put(2, 3);                        // 'a': 0
    w.Put(2, 2), w.Put(9, 411 - 20);    // zeros 98..508
    w.Put(2, 3);                        // 509 (length 256): 1
    w.Put(4, 0), w.Put(4, 0);
    w.Put(1, 1), w.Put(1, 0), w.Put(1, 1);
    Bytes expected(256, ' ');
    expected.push_back('a');
    expected.insert(expected.end(), 256, 'a');
    EXPECT_EQ(Expand(w.Data(), expected.size()), expected);
    // A size that ends inside the last match still gets all of its bytes.
    EXPECT_EQ(Expand(w.Data(), 300), expected);
}

}  // namespace
}  // namespace vorn::test
