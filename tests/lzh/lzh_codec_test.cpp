// The LZH codec: exact codec data, the compressor's output pinned, round
// trips, codes past 16 bits, and data cut short.
#include <gtest/gtest.h>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes Compress(const Bytes& input) { return CodecCompress(input, kMethodLzh); }
Bytes Expand(const Bytes& codecData, int64_t size) { return CodecExpand(codecData, kMethodLzh, size); }

TEST(LzhCodec, Vectors) {
    const struct {
        Bytes output;
        const char* codecData;
        bool written;  // by the compressor from output, else a stream only the expander reads
        int32_t size;
    } cases[] = {
        {{}, "", true, 0},
        {Text("abc"), "F6 FB BD E0", true, 3},                    // three 9-bit literals
        {Hex("78"), "04", true, 1},                                // an 8-bit literal
        {Hex("20"), "D6 00", true, 1},                             // a 9-bit literal
        {Bytes(10, 0x61), "F6 C9 00 00", true, 10},                // literal, match of 9 at distance 0
        {Hex("20 20 20 61 62 63"), "8C 00 7B 7D DE F0", true, 6},  // match into the spaces, three literals
        // Match(4, 1) copies spaces of the initial ring, then the two just
        // copied; Match(3, 4095) reads each look-ahead position just before
        // overwriting it, and no byte has been written there: fixed 0.
        {Hex("20 20 20 20 00 00 00"), "8D 00 C6 7F FE", false, 7},
        // 'z', Match(60, 0): the size is checked before each symbol only.
        {Bytes(61, 'z'), "06 06 00 00", false, 2},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(!c.written || ToHex(Compress(c.output)) == c.codecData) << ToHex(Compress(c.output));
        EXPECT_EQ(Expand(Hex(c.codecData), c.size), c.output) << c.codecData;
    }
    TVornCodec codec;
    EXPECT_TRUE(RunCodecBytes(codec, Hex("FF FF FF"), kMethodLzh, Direction::Expand, 0).empty());
    EXPECT_EQ(EngineOf(codec).ReadChecksum, 0u) << "a size of 0 reads nothing";
    EXPECT_TRUE(RunCodecBytes(codec, Hex("FF FF FF"), kMethodLzh, Direction::Expand, -5).empty());
}

TEST(LzhCodec, OutputIsPinnedBitForBit) {
    // The match trees' choices (the longest, the nearest of equals) and the
    // model's rebuilds at 0x8000 (two in the random input) decide every bit.
    const std::pair<DataKind, uint64_t> cases[] = {
        {DataKind::Text, 0x0dafe74c5f8f97c6u},    {DataKind::Binary, 0x3cdef94f18bf8830u},
        {DataKind::Runs, 0x5583101445fac006u},    {DataKind::Random, 0x541d7c87b186216bu},
        {DataKind::OneByte, 0xba7002cbba803a53u}, {DataKind::Escapes, 0x845f6ed05837ad12u},
    };
    for (const auto& [kind, digest] : cases) {
        const Bytes codecData = Compress(MakeData(kind, 70000, 13));
        EXPECT_EQ(Digest(codecData), digest) << KindName(kind) << " 0x" << std::hex << Digest(codecData);
    }
}

TEST(LzhCodec, MatchesReachBack4036Bytes) {
    // 60 letters repeated 4,036 bytes later are one match; a byte later
    // they are 60 literals.
    auto size = [](size_t gap) {
        Bytes input = MakeData(DataKind::Random, gap + 60, 3);
        for (uint8_t& b : input) b = static_cast<uint8_t>('a' + b % 26);
        std::copy_n(input.begin(), 60, input.begin() + static_cast<std::ptrdiff_t>(gap));
        return Compress(input).size();
    };
    EXPECT_GT(size(4037), size(4036) + 30);
}

TEST(LzhRoundTrip, EveryLengthClassAndKind) {
    const size_t sizes[] = {0, 1, 2, 3, 59, 60, 61, 100, 4095, 4096, 4097, 8191, 8192, 8193, 12288, 16384, 70000};
    for (DataKind kind : kAllKinds) {
        for (size_t size : sizes)
            EXPECT_EQ(RoundTripFault(MakeData(kind, size, static_cast<uint32_t>(size)), kMethodLzh), "")
                << KindName(kind) << " " << size;
        EXPECT_EQ(RoundTripFault(MakeData(kind, 3 << 20, 77), kMethodLzh), "") << KindName(kind);
    }
}

// Runs of 13 letters, each coded as one match of its length: every
// letter's previous run lies within the window, and the pair of letters at
// each boundary is new there. Nine lengths whose counts grow like Fibonacci
// numbers (each the sum of the two before, plus one) stack the unused
// symbols nine levels under the root, so the bytes 200..255 at the end take
// codes of 17 and 18 bits.
Bytes LongCodeData() {
    const int counts[] = {345, 345, 691, 1037, 1729, 2767, 4497, 7265, 11763};
    Bytes out;
    int letter = 0, step = 1, inBlock = 0;
    for (int h = 8; h >= 0; --h) {
        for (int n = 0; n < counts[h]; ++n) {
            out.insert(out.end(), static_cast<size_t>(52 + h), static_cast<uint8_t>('A' + letter));
            letter = (letter + step) % 13;
            if (++inBlock == 13) inBlock = 0, step = step % 12 + 1;
        }
    }
    for (int b = 200; b < 256; ++b) out.push_back(static_cast<uint8_t>(b));
    return out;
}

TEST(LzhCodec, CodesLongerThan16BitsGoOutWhole) {
    EXPECT_EQ(RoundTripFault(LongCodeData(), kMethodLzh), "");
}

TEST(LzhExpander, BlockStretchesTakeAndWriteWhatTheBytePathDoes) {
    EXPECT_EQ(BytePathFault(kMethodLzh, 24000), "");
}

// Every flipped bit of a stream's codec data, and every cut, is refused
// as damaged or gives as many bytes with the same sum: the byte sum cannot
// see bytes that trade places (67 of these flips), but the count must hold.
TEST(LzhBadInput, FlippedAndCutStreamsAreRefused) {
    TVornCodec codec;
    const Bytes input = MakeData(DataKind::Text, 3000, 5);
    const Bytes stream = CompressBytes(codec, input, kMethodLzh);
    auto expectRefusedOrWhole = [&](const Bytes& damaged, const std::string& what) {
        try {
            const Bytes out = ExpandBytes(codec, damaged);
            EXPECT_EQ(std::pair(out.size(), ByteSum(out)), std::pair(input.size(), ByteSum(input))) << what;
        } catch (const EBadChecksum&) {
        }
    };
    for (size_t bit = kHeaderSize * 8; bit < stream.size() * 8; ++bit) {
        Bytes damaged = stream;
        damaged[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
        expectRefusedOrWhole(damaged, "bit " + std::to_string(bit));
    }
    for (size_t cut = kHeaderSize + 1; cut < stream.size(); cut += 5)
        expectRefusedOrWhole(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)),
                             "cut at " + std::to_string(cut));
}

// Missing bits read as 0 and the expander stops at the first symbol that
// took one: a cut stream expands as the start of the same stream padded
// with zero bytes.
TEST(LzhCodec, TruncatedDataReadsZeroBits) {
    const Bytes input = MakeData(DataKind::Text, 30000, 4);
    const Bytes full = Compress(input);
    for (size_t cut : {size_t{0}, size_t{1}, full.size() / 3, full.size() - 1}) {
        const Bytes truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        Bytes padded = truncated;
        padded.resize(full.size() + 64, 0);
        const Bytes out = Expand(truncated, input.size());
        const Bytes whole = Expand(padded, input.size());
        EXPECT_LE(out.size(), input.size() + 59) << cut;
        EXPECT_TRUE(out.size() <= whole.size() && std::equal(out.begin(), out.end(), whole.begin())) << cut;
    }
}

}  // namespace
}  // namespace vorn::test
