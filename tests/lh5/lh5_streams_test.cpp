// LH5 codec data: exact bytes both ways, hand-built streams that pin down
// how a block header is read, and impossible tables that must be refused.
#include <gtest/gtest.h>

#include <functional>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/lh5/lh5_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Expand(const Bytes& codecData, size_t size) {
    return CodecExpand(codecData, kMethodLh5, static_cast<int64_t>(size));
}

// The stream of one block of count symbols, its tables written by the
// caller; padded with ones so that a reader running on never sees a tidy end.
Bytes Block(uint32_t count, const std::function<void(TBitWriter&)>& body) {
    TBitWriter w;
    w.Put(16, count);
    body(w);
    w.Put(32, 0xFFFFFFFF);
    return w.Data();
}

// Tables of one symbol each, read without any bits.
void SingleLen(TBitWriter& w, uint32_t symbol) { w.Put(5, 0), w.Put(5, symbol); }
void SingleChar(TBitWriter& w, uint32_t symbol) { w.Put(9, 0), w.Put(9, symbol); }
void SingleDist(TBitWriter& w, uint32_t symbol) { w.Put(4, 0), w.Put(4, symbol); }

// A code-length or distance table; special: the length after which a
// 2-bit zero run (here 0) follows.
void AuxLengths(TBitWriter& w, int width, std::vector<int> lengths, int special = -1) {
    w.Put(width, static_cast<uint32_t>(lengths.size()));
    for (size_t i = 0; i < lengths.size(); ++i) {
        w.PutAuxLength(lengths[i]);
        if (static_cast<int>(i) + 1 == special) w.Put(2, 0);
    }
}

// Code-length code of four 2-bit codes: 0 = 00 (one zero), 1 = 01 (3..18
// zeros), 2 = 10 (20..531 zeros), 3 = 11 (length 1).
void FourLenCodes(TBitWriter& w) { AuxLengths(w, 5, {2, 2, 2, 2}, 3); }

// Character lengths 1 for 'a' (code 0) and for symbol `match` (code 1).
void LiteralAndMatch(TBitWriter& w, int match) {
    w.Put(9, static_cast<uint32_t>(match + 1));
    w.Put(2, 2), w.Put(9, 97 - 20), w.Put(2, 3);
    w.Put(2, 2), w.Put(9, static_cast<uint32_t>(match - 98 - 20)), w.Put(2, 3);
}

TEST(Lh5Streams, KnownStreamsBothWays) {
    const struct {
        Bytes input;
        const char* codecData;
    } cases[] = {
        {Hex("41"), "00 01 00 00 04 10 00"},                      // one literal, single-symbol tables
        {Hex("61 62 63"), "00 03 28 08 44 C9 13 58 02 60"},        // three literals
        {Bytes(10, 0x61), "00 02 20 04 30 71 36 48 40 10"},        // literal, 9-byte match at distance one
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(CodecCompress(c.input, kMethodLh5)), ToHex(Hex(c.codecData)));
        EXPECT_EQ(Expand(Hex(c.codecData), c.input.size()), c.input);
    }
    EXPECT_TRUE(CodecCompress({}, kMethodLh5).empty());
    TVornCodec codec;  // size 0 reads nothing
    EXPECT_TRUE(RunCodecBytes(codec, Hex("00 01 00 00 04 10 00"), kMethodLh5, true, 0).empty());
    EXPECT_EQ(codec.Engine().ReadChecksum, 0u);
}

TEST(Lh5Streams, HandBuiltBlocks) {
    Bytes longRun(256, ' ');  // a first match copies the initial spaces
    longRun.push_back('a');
    longRun.insert(longRun.end(), 256, 'a');
    Bytes classes = Text("a");  // 'a', 20 initial spaces, then 10 bytes from distance 20
    classes.resize(21, ' ');
    for (size_t k = 0; k < 10; ++k) classes.push_back(classes[k]);
    Bytes count0(65536, 'x');
    count0.push_back('y');
    const struct {
        const char* what;
        Bytes stream;
        Bytes expected;
    } cases[] = {
        {"two single-symbol blocks back to back", [] {
             TBitWriter w;
             w.Put(16, 3), SingleLen(w, 0), SingleChar(w, 'a'), SingleDist(w, 0);
             w.Put(16, 2), SingleLen(w, 0), SingleChar(w, 'b'), SingleDist(w, 0);
             return w.Data();
         }(), Text("aaabb")},
        {"count 0 means 65,536 symbols", [] {
             TBitWriter w;
             w.Put(16, 0), SingleLen(w, 0), SingleChar(w, 'x'), SingleDist(w, 0);
             w.Put(16, 1), SingleLen(w, 0), SingleChar(w, 'y'), SingleDist(w, 0);
             return w.Data();
         }(), count0},
        {"single distance class 0", Block(2, [](TBitWriter& w) {
             FourLenCodes(w), LiteralAndMatch(w, 263), SingleDist(w, 0), w.Put(2, 1);
         }), Bytes(11, 'a')},
        {"single code-length symbol 3: all 510 lengths 1", Block(3, [](TBitWriter& w) {
             SingleLen(w, 3), w.Put(9, 2), SingleDist(w, 0), w.Put(3, 5);
         }), Hex("01 00 01")},
        {"distance lengths past the 8-bit table, classes 13, 0 and 5", Block(4, [](TBitWriter& w) {
             FourLenCodes(w), LiteralAndMatch(w, 263);
             AuxLengths(w, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 13});
             w.Put(1, 0);
             w.Put(1, 1), w.Put(13, 0x1FFF), w.Put(12, 0);  // distance 4,096
             w.Put(1, 1), w.Put(1, 0);
             w.Put(1, 1), w.Put(6, 0x3E), w.Put(4, 4);     // distance 20
         }), classes},
        {"match of 256 at the start and one ending past the size", Block(3, [](TBitWriter& w) {
             FourLenCodes(w), LiteralAndMatch(w, 509), SingleDist(w, 0), w.Put(3, 5);
         }), longRun},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Expand(c.stream, c.expected.size()), c.expected) << c.what;
        EXPECT_EQ(ReferenceExpand(c.stream, static_cast<int32_t>(c.expected.size())), c.expected) << c.what;
    }
    EXPECT_EQ(Expand(cases[5].stream, 300), longRun) << "the last match is written whole";
}

TEST(Lh5Streams, ZeroRunsInTheLengthTables) {
    // After the third code length a 2-bit run follows even when n = 3, not
    // when n = 2; a run may carry the index past n.
    const struct {
        int n;
        std::vector<int> lengths;
        int run;
    } aux[] = {{3, {1, 1, 0}, 3}, {2, {1, 1}, 0}, {4, {1, 2, 2}, 3}, {5, {1, 2, 0, 2}, 1}};
    for (const auto& c : aux) {
        const Bytes stream = Block(1, [&](TBitWriter& w) {
            w.Put(5, static_cast<uint32_t>(c.n));
            for (size_t i = 0; i < c.lengths.size(); ++i) {
                w.PutAuxLength(c.lengths[i]);
                if (i == 2) w.Put(2, static_cast<uint32_t>(c.run));
            }
            SingleChar(w, 'x'), SingleDist(w, 0);
        });
        EXPECT_EQ(Expand(stream, 1), Text("x")) << "n " << c.n;
    }
    // Character lengths: runs of 18 (symbol 1), 19 (symbols 0 and 1), 20
    // (symbol 2) between 'a' and the next literal.
    for (int run : {18, 19, 20}) {
        const Bytes stream = Block(2, [&](TBitWriter& w) {
            FourLenCodes(w);
            w.Put(9, static_cast<uint32_t>(98 + run + 1));
            w.Put(2, 2), w.Put(9, 97 - 20), w.Put(2, 3);
            if (run == 18) w.Put(2, 1), w.Put(4, 15);
            if (run == 19) w.Put(2, 0), w.Put(2, 1), w.Put(4, 15);
            if (run == 20) w.Put(2, 2), w.Put(9, 0);
            w.Put(2, 3), SingleDist(w, 0), w.Put(2, 2);
        });
        EXPECT_EQ(Expand(stream, 2), (Bytes{static_cast<uint8_t>(98 + run), 97})) << "run " << run;
    }
    // Still valid: a zero run ending exactly at entry 511, and a spare 15th
    // distance length of 20.
    EXPECT_EQ(Expand(Block(1, [](TBitWriter& w) {
                  AuxLengths(w, 5, {0, 0, 1, 1}, 3);
                  w.Put(9, 511), w.Put(3, 6), w.Put(9, 509 - 20), SingleDist(w, 0);
              }), 1), Hex("01"));
    EXPECT_EQ(Expand(Block(1, [](TBitWriter& w) {
                  SingleLen(w, 0), SingleChar(w, 'x');
                  AuxLengths(w, 4, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20});
              }), 1), Hex("78"));
}

TEST(Lh5Streams, ImpossibleTablesAreRefused) {
    using W = TBitWriter;
    const struct {
        const char* what;
        std::function<void(W&)> tables;
    } cases[] = {
        {"code lengths all zero", [](W& w) { AuxLengths(w, 5, {0, 0, 0, 0}, 3); }},
        {"incomplete code", [](W& w) { AuxLengths(w, 5, {2, 2, 2}, 3); }},
        {"over-full code that wraps to 0", [](W& w) { AuxLengths(w, 5, {1, 1, 1, 1}, 3); }},
        {"length 17 in the code-length table", [](W& w) { AuxLengths(w, 5, {1, 2, 17, 17, 16}, 3); }},
        {"length 20 in the distance table",
         [](W& w) { SingleLen(w, 0), SingleChar(w, 'x'), AuxLengths(w, 4, {1, 20}); }},
        {"single code-length symbol 19", [](W& w) { SingleLen(w, 19); }},
        {"single code-length symbol 31", [](W& w) { SingleLen(w, 31); }},
        {"single character 510", [](W& w) { SingleLen(w, 0), SingleChar(w, 510); }},
        {"single character 511", [](W& w) { SingleLen(w, 0), SingleChar(w, 511); }},
        {"single distance class 14", [](W& w) { SingleLen(w, 0), SingleChar(w, 'x'), SingleDist(w, 14); }},
        {"character lengths all zero", [](W& w) { SingleLen(w, 0), w.Put(9, 300); }},
        // Code-length code: symbol 2 (a long zero run) is 0, symbol 3 (length 1) is 1.
        {"zero run past the 511 entries", [](W& w) {
             AuxLengths(w, 5, {0, 0, 1, 1}, 3);
             w.Put(9, 511), w.Put(3, 6), w.Put(9, 510 - 20);
         }},
    };
    for (const auto& c : cases) {
        const Bytes stream = Block(1, c.tables);
        try {
            Expand(stream, 1);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ELZHBadDecodeTable& e) {
            EXPECT_STREQ(e.what(), "Bad decode table in archive!") << c.what;
        }
        EXPECT_THROW(ReferenceExpand(stream, 1), ELZHBadDecodeTable) << c.what;
    }
    TVornCodec codec;  // through the component the exception passes unchanged
    EXPECT_THROW(ExpandBytes(codec, WithHeader("LH5", 1, 0x78, 0, Block(1, cases[0].tables))), ELZHBadDecodeTable);
}

}  // namespace
}  // namespace vorn::test
