// TVornCodec: the header, method lookup, the checksum and key rules, the
// truth of what an expansion wrote, the custom method, exception messages
// and recovery after failures.
#include <gtest/gtest.h>

#include "compress/codec_internal.h"
#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

const Bytes kText = Text("hello, vorn");
const std::string kBad = EBadChecksum().Message, kLocked = EInvalidKey().Message;

// Expands (into nothing unless out is given) and returns the exception
// message, or "" on success.
std::string ExpandError(TVornCodec& codec, const Bytes& stream, Bytes* out = nullptr) {
    TMemoryStream source(stream), dest;
    TNullStream nothing;
    try {
        codec.ExpandStream(out ? static_cast<TStream&>(dest) : nothing, source);
        if (out) *out = dest.Bytes();
        return "";
    } catch (const EVornError& e) {
        return e.Message;
    }
}

TEST(Header, LayoutIsPackedLittleEndian) {
    // The 21 header bytes of an 809-byte LH5 stream holding 1,605 bytes.
    const Bytes bytes = Hex("56 4F 52 4E 1A 4C 48 35 45 06 00 00 00 8B F6 01 00 00 00 00 00");
    const TVornHeader h = TVornHeader::Decode(bytes.data());
    EXPECT_TRUE(h.HasMagic());
    EXPECT_EQ(std::tuple(h.Id(), h.UncompressedSize, h.Checksum), std::tuple(std::string("LH5"), 1605, 128651u));
    const auto encoded = h.Encode();
    EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), bytes);
}

// From the source's position: the installer's headerless entries (installer_test, Wine).
TEST(ExpandStream, HeaderlessSourcesAreCopiedThrough) {
    TVornCodec codec;
    const Bytes header21 = WithHeader("NON", 5, 1, 0, {});
    EXPECT_EQ(ExpandBytes(codec, header21), header21) << "21 bytes are data, not a header";
    for (size_t i = 0; i < 5; ++i) {
        Bytes stream = WithHeader("NON", 1, 0, 0, Hex("41"));
        stream[i] ^= 0x20;
        EXPECT_EQ(ExpandBytes(codec, stream), stream) << "magic byte " << i;
    }
}

TEST(ExpandStream, ArchiveTypeMethodIdsAndTheRecognizeHandler) {
    TVornCodec codec;
    EXPECT_EQ(ExpandError(codec, WithHeader("???", 1, 0, 0, Hex("41"), 1)), EInvalidHeaderArchiveType().Message)
        << "the archive type is refused before the ID";
    EXPECT_EQ(ExpandError(codec, WithHeader("lh5", 1, 0, 0, Hex("41"))),
              "Unrecognized compression method: \"lh5\" in header");
    std::vector<std::string> asked;
    codec.OnRecognize = [&](const std::string& id, bool& recognized) {
        asked.push_back(id);
        recognized = id == "ZIP";
    };
    EXPECT_EQ((std::vector{codec.GetCompressMethod("CUS"), codec.GetCompressMethod("LH5"), codec.GetCompressMethod("ZIP")}),
              (std::vector<uint8_t>{kMethodCustom, kMethodLh5, kMethodCustom}));
    EXPECT_THROW(codec.GetCompressMethod("ARJ"), EUnrecognizedCompressionMethod);
    EXPECT_EQ(asked, (std::vector<std::string>{"ZIP", "ARJ"})) << "IDs of the table are not asked about";
}

TEST(ExpandStream, CustomMethodUsesTheExpandHandler) {
    TVornCodec codec;
    // Without a handler nothing is written: only a stored 0 (or the key) matches.
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 0, 0, Hex("01 02 03"))), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 5, 0, Hex("01"))), kBad);
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 5, 1, Hex("01"))), kLocked);
    codec.OnExpand = [](TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                        const std::string& id, int32_t& checksum) {
        EXPECT_EQ(std::tuple(sourceSize, destSize, id), std::tuple(3, 7, std::string("CUS")));
        uint8_t buf[3];
        dest.Write(buf, source.Read(buf, 3));
        checksum = 6;
    };
    Bytes out;
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 6, 0, Hex("01 02 03")), &out), "");
    EXPECT_EQ(out, Hex("01 02 03 00 00 00 00")) << "memory destination sized by UncompressedSize";
}

TEST(ExpandStream, ChecksumAndKeyRules) {
    const uint32_t sum = ByteSum(kText);
    const int32_t key = 0x01020304;
    Bytes scrambled = kText;
    for (size_t i = 0; i < scrambled.size(); ++i) scrambled[i] ^= static_cast<uint8_t>(key >> (8 * (i % 4)));
    const struct { const char* id; int32_t lockLevel, key; uint32_t stored; const Bytes& data; std::string error; } cases[] = {
        {"NON", 0, 0, sum, kText, ""},
        {"NON", 0, 0, sum + 1, kText, kBad},
        {"NON", 0, 0, 0, kText, ""},  // "NON" with a stored 0 is not compared; RLE is
        {"RLE", 0, 0, 0, kText, kBad},
        {"NON", -5, key, sum + key, kText, kBad},  // negative: as 0, the key plays no part
        {"NON", 1, 0, sum + key, kText, kLocked},  // locked: a key is needed, the sum may be offset by it
        {"NON", 1, key, sum + key, kText, ""},
        {"NON", 1, key, sum, kText, ""},
        {"NON", 1, key + 1, sum + key, kText, kLocked},
        {"NON", 1, -1, sum - 1, kText, ""},  // the offset wraps at 32 bits
        {"NON", 2, 0, sum + key, scrambled, kLocked},  // 2: the data is scrambled with the key
        {"NON", 2, key, sum + key, scrambled, ""},
        {"NON", 3, key, sum + key, kText, ""},  // above 2: as 1, not unscrambled
    };
    for (const auto& c : cases) {
        TVornCodec codec;
        codec.Key = c.key;
        Bytes out;
        EXPECT_EQ(ExpandError(codec, WithHeader(c.id, 11, c.stored, c.lockLevel, c.data), &out), c.error)
            << c.id << " lock level " << c.lockLevel << " key " << c.key;
        if (c.error.empty()) { EXPECT_EQ(out, kText) << "lock level " << c.lockLevel; }
    }
    TVornCodec codec;  // locked and no key: nothing read or written
    TMemoryStream source(WithHeader("NON", 11, 1, 1, kText));
    TNullStream dest;
    EXPECT_THROW(codec.ExpandStream(dest, source), EInvalidKey);
    EXPECT_EQ(std::pair(dest.Size(), source.Position()), std::pair(int64_t{0}, int64_t{kHeaderSize}));
}

TEST(Truth, SizesThatLieAndCutStreamsFailForEveryMethod) {
    // Text and a run of zeros: zeros missing or invented leave the sum alone.
    Bytes input = MakeData(DataKind::Text, 3000);
    input.resize(4004, 0);
    TVornCodec codec;
    for (uint8_t method : {kMethodStored, kMethodRle, kMethodLzh, kMethodLh5}) {
        const Bytes stream = CompressBytes(codec, input, method);
        const TVornHeader h = TVornHeader::Decode(stream.data());
        ASSERT_EQ(h.Id(), CompressionIDs[method]);
        const Bytes data(stream.begin() + kHeaderSize, stream.end());
        for (int32_t size : {4004, 4003, 4005, INT32_MAX, -50})
            for (uint32_t sum : {h.Checksum, method == kMethodStored ? 0u : h.Checksum})  // stored 0: no sum compared
                EXPECT_EQ(ExpandError(codec, WithHeader(h.Id(), size, sum, 0, data)), size == 4004 ? "" : kBad)
                    << h.Id() << " claiming " << size << " with sum " << sum;
        EXPECT_LT(EngineOf(codec).OutCount, 5000) << h.Id() << ": a claim of 2 GiB stops at the end of the data";
        EXPECT_EQ(ExpandError(codec, Bytes(stream.begin(), stream.end() - 1)), kBad) << h.Id() << " cut by a byte";
        codec.Key = 7;  // a locked stream cannot tell damage from a wrong key
        EXPECT_EQ(ExpandError(codec, WithHeader(h.Id(), 4005, h.Checksum + 7, 1, data)), EInvalidKey().Message);
        codec.Key = 0;
    }
}

TEST(Truth, TheLastByteBelongsToTheDataButNothingBeyondIt) {
    // The last byte of each holds a few data bits, all 0, then fill bits:
    // without it, bits made up as 0 would give the same output.
    TVornCodec codec;
    const Bytes lzh = Hex("F6 C9 00 00"), lh5 = Hex("00 01 00 00 04 10 00");  // ten 'a'; one 'A'
    EXPECT_EQ(ExpandError(codec, WithHeader("LZH", 10, 10 * 'a', 0, lzh)), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("LZH", 10, 10 * 'a', 0, Bytes(lzh.begin(), lzh.end() - 1))), kBad);
    EXPECT_EQ(ExpandError(codec, WithHeader("LH5", 1, 'A', 0, lh5)), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("LH5", 1, 'A', 0, Bytes(lh5.begin(), lh5.end() - 1))), kBad);
}

TEST(Truth, ACancelledExpansionStillEndsAsACancel) {
    const Bytes input = MakeData(DataKind::Text, 100000);
    for (uint8_t method : {kMethodLzh, kMethodLh5}) {
        TVornCodec codec;
        const Bytes stream = CompressBytes(codec, input, method);
        std::vector<int32_t> seen;
        codec.OnShowProgress = [&](int32_t& p) {
            seen.push_back(p);
            if (seen.size() == 2) p = -1;  // at the first refill
        };
        EXPECT_EQ(ExpandError(codec, stream), kBad) << CompressionIDs[method];
        EXPECT_EQ(seen.size(), 3u) << "no further refill, and the closing call";
        EXPECT_LT(EngineOf(codec).OutCount, 100000) << "stopped where the data ended";
    }
}

TEST(ExpandStream, MemoryDestinationIsSizedOnceAndNeverCut) {
    TVornCodec codec;
    const Bytes data = MakeData(DataKind::Random, 100);
    TMemoryStream source(WithHeader("NON", 100, ByteSum(data), 0, data)), dest(Bytes(10, 0xEE));
    int64_t sizeSeen = 0;
    codec.OnShowProgress = [&](int32_t&) { sizeSeen = sizeSeen ? sizeSeen : dest.Size(); };
    codec.ExpandStream(dest, source);
    EXPECT_EQ(sizeSeen, 110);
    EXPECT_EQ(dest.Bytes(), [&] { Bytes b = data; b.resize(110, 0); return b; }());
    // A negative size in a damaged header cuts nothing already there.
    TMemoryStream source2(WithHeader("NON", -50, 0, 0, kText)), dest2(Bytes(40, 0xEE));
    dest2.Seek(40);
    EXPECT_THROW(codec.ExpandStream(dest2, source2), EBadChecksum);
    EXPECT_EQ(dest2.Size(), 40 + 11);
}

TEST(ExpandStream, ComponentRecoversAfterEveryKindOfFailure) {
    TVornCodec codec;
    const Bytes good = WithHeader("NON", 11, ByteSum(kText), 0, kText);
    for (const Bytes& bad : {WithHeader("NON", 11, 1, 0, kText), WithHeader("NON", 11, 1, 2, kText),
                             WithHeader("XXX", 11, 1, 0, kText), WithHeader("LH5", 9, 1, 0, Hex("00 01 FF FF"))}) {
        EXPECT_NE(ExpandError(codec, bad), "");
        EXPECT_EQ(ExpandBytes(codec, good), kText);
        EXPECT_EQ(EngineOf(codec).InBuffer, nullptr) << "buffers are released between runs";
    }
    codec.OnShowProgress = [](int32_t& p) {
        if (p == 100) throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(ExpandBytes(codec, good), std::runtime_error);
    codec.OnShowProgress = nullptr;
    EXPECT_EQ(ExpandBytes(codec, good), kText);
}

}  // namespace
}  // namespace vorn::test
