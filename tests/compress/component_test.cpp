// TVornCodec: header recognition, method lookup, checksum and key rules,
// exception messages, and recovery after failures.
#include <gtest/gtest.h>

#include "compress/exceptions.h"
#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

const Bytes kText = {'h', 'e', 'l', 'l', 'o', ',', ' ', 'v', 'o', 'r', 'n'};

// Expands and returns the exception message, or "" on success.
std::string ExpandError(TVornCodec& codec, const Bytes& stream, Bytes* out = nullptr) {
    try {
        Bytes result = ExpandBytes(codec, stream);
        if (out) *out = result;
        return "";
    } catch (const EVornError& e) {
        return e.Message;
    }
}

TEST(Exceptions, MessagesAreExact) {
    EXPECT_STREQ(EUnrecognizedCompressionMethod("XyZ").what(),
                 "Unrecognized compression method: \"XyZ\" in header");
    EXPECT_STREQ(EInvalidHeaderArchiveType().what(),
                 "Expand can't handle caMulti archive type in compressed header");
    EXPECT_STREQ(EBadChecksum().what(), "Bad checksum during expansion -- data may be invalid");
    EXPECT_STREQ(EInvalidKey().what(), "File locked -- valid key required");
    EXPECT_STREQ(ELZHBadDecodeTable().what(), "Bad decode table in archive!");
    EXPECT_STREQ(EUnableToCompress().what(), "Could not compress data, will store instead");
    EXPECT_EQ(EBadChecksum().HelpContext, 0);
}

TEST(Header, LayoutIsPackedLittleEndian) {
    // The 21 header bytes of an 809-byte LH5 stream holding 1,605 bytes.
    const Bytes bytes = Hex("56 4F 52 4E 1A 4C 48 35 45 06 00 00 00 8B F6 01 00 00 00 00 00");
    const TVornHeader h = TVornHeader::Decode(bytes.data());
    EXPECT_TRUE(h.HasMagic());
    EXPECT_EQ(h.Id(), "LH5");
    EXPECT_EQ(h.UncompressedSize, 1605);
    EXPECT_EQ(h.ArchiveType, 0);
    EXPECT_EQ(h.Checksum, 128651u);
    EXPECT_EQ(h.LockLevel, 0);
    const auto encoded = h.Encode();
    EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), bytes);
}

TEST(ExpandStream, HeaderlessSourcesAreCopiedThrough) {
    TVornCodec codec;
    // 21 bytes that form a complete header are data, not a header.
    const Bytes header21 = WithHeader("NON", 5, 1, 0, {});
    EXPECT_EQ(ExpandBytes(codec, header21), header21);
    EXPECT_EQ(ExpandBytes(codec, {}), Bytes{});
    // 22 bytes and more with any magic byte changed are copied unchanged.
    for (size_t i = 0; i < 5; ++i) {
        Bytes stream = WithHeader("NON", 1, 0, 0, Hex("41"));
        stream[i] ^= 0x20;
        EXPECT_EQ(ExpandBytes(codec, stream), stream) << "magic byte " << i;
    }
}

TEST(ExpandStream, HeaderlessCopyStartsAtTheSourcePosition) {
    TVornCodec codec;
    Bytes data = MakeData(DataKind::Text, 100);
    TMemoryStream source(data), dest;
    source.Seek(30);
    codec.ExpandStream(dest, source);
    EXPECT_EQ(dest.Bytes(), Bytes(data.begin() + 30, data.end()));
}

TEST(ExpandStream, ArchiveTypeIsRefusedBeforeTheId) {
    TVornCodec codec;
    EXPECT_EQ(ExpandError(codec, WithHeader("???", 1, 0, 0, Hex("41"), 1)),
              EInvalidHeaderArchiveType().Message);
    EXPECT_EQ(ExpandError(codec, WithHeader("NON", 1, 0, 0, Hex("41"), 0xFF)),
              EInvalidHeaderArchiveType().Message);
}

TEST(ExpandStream, MethodIdsAndRecognizeHandler) {
    TVornCodec codec;
    int asked = 0;
    EXPECT_EQ(codec.GetCompressMethod("CUS"), kMethodCustom);
    EXPECT_EQ(codec.GetCompressMethod("LH5"), kMethodLh5);
    EXPECT_EQ(ExpandError(codec, WithHeader("lh5", 1, 0, 0, Hex("41"))),
              "Unrecognized compression method: \"lh5\" in header");

    std::vector<std::string> seen;
    codec.OnRecognize = [&](const std::string& id, bool& recognized) {
        ++asked;
        seen.push_back(id);
        recognized = id == "ZIP";
    };
    EXPECT_EQ(codec.GetCompressMethod("CUS"), kMethodCustom);
    EXPECT_EQ(asked, 0) << "CUS is in the table; the handler is not asked";
    EXPECT_EQ(codec.GetCompressMethod("ZIP"), kMethodCustom);
    EXPECT_THROW(codec.GetCompressMethod("ARJ"), EUnrecognizedCompressionMethod);
    EXPECT_EQ(seen, (std::vector<std::string>{"ZIP", "ARJ"}));
}

TEST(ExpandStream, CustomMethodUsesTheExpandHandler) {
    TVornCodec codec;
    const Bytes stream = WithHeader("CUS", 7, 0, 0, Hex("01 02 03"));
    // Without a handler nothing is written; stored checksum 0 then matches.
    EXPECT_EQ(ExpandError(codec, stream), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 5, 0, Hex("01"))), EBadChecksum().Message);
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 5, 1, Hex("01"))), EInvalidKey().Message);
    codec.Key = 5;  // the stored checksum minus the key is the (empty) sum
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 5, 1, Hex("01"))), "");
    codec.Key = 0;

    codec.OnExpand = [](TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                        const std::string& id, int32_t& checksum) {
        EXPECT_EQ(sourceSize, 3);
        EXPECT_EQ(destSize, 7);
        EXPECT_EQ(id, "CUS");
        uint8_t buf[3];
        source.Read(buf, 3);
        dest.Write(buf, 3);
        checksum = 6;
    };
    Bytes out;
    EXPECT_EQ(ExpandError(codec, WithHeader("CUS", 7, 6, 0, Hex("01 02 03")), &out), "");
    EXPECT_EQ(out, Hex("01 02 03 00 00 00 00")) << "memory destination sized by UncompressedSize";
}

TEST(ExpandStream, ChecksumRules) {
    TVornCodec codec;
    const uint32_t sum = ByteSum(kText);
    EXPECT_EQ(ExpandError(codec, WithHeader("NON", 11, sum, 0, kText)), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("NON", 11, sum + 1, 0, kText)), EBadChecksum().Message);
    // "NON" with a stored 0 is accepted without comparing; RLE is not.
    EXPECT_EQ(ExpandError(codec, WithHeader("NON", 11, 0, 0, kText)), "");
    EXPECT_EQ(ExpandError(codec, WithHeader("RLE", 11, 0, 0, kText)), EBadChecksum().Message);
}

TEST(ExpandStream, ChecksumWrapsAt32Bits) {
    TVornCodec codec;
    codec.Key = -1;  // 0xFFFFFFFF: stored = sum + key wraps to sum - 1
    const uint32_t sum = ByteSum(kText);
    EXPECT_EQ(ExpandError(codec, WithHeader("NON", 11, sum - 1, 1, kText)), "");
}

TEST(ExpandStream, LockLevels) {
    const uint32_t sum = ByteSum(kText);
    const int32_t key = 0x01020304;
    Bytes scrambled = kText;
    for (size_t i = 0; i < scrambled.size(); ++i) scrambled[i] ^= static_cast<uint8_t>(key >> (8 * (i % 4)));

    struct Case {
        int32_t lockLevel;
        int32_t key;
        uint32_t stored;
        const Bytes* data;
        std::string error;
    };
    const Case cases[] = {
        // Negative behaves as 0: no key needed, plain data.
        {-5, 0, sum, &kText, ""},
        {-5, key, sum + key, &kText, EBadChecksum().Message},
        // Level 1: key needed, checksum offset, data plain.
        {1, 0, sum + key, &kText, EInvalidKey().Message},
        {1, key, sum + key, &kText, ""},
        {1, key, sum, &kText, ""},
        {1, key + 1, sum + key, &kText, EInvalidKey().Message},
        // Level 2: data scrambled with the key.
        {2, 0, sum + key, &scrambled, EInvalidKey().Message},
        {2, key, sum + key, &scrambled, ""},
        // Above 2 behaves as 1: the data is not unscrambled.
        {3, key, sum + key, &kText, ""},
        {3, 0, sum + key, &kText, EInvalidKey().Message},
    };
    for (const Case& c : cases) {
        TVornCodec codec;
        codec.Key = c.key;
        Bytes out;
        EXPECT_EQ(ExpandError(codec, WithHeader("NON", 11, c.stored, c.lockLevel, *c.data), &out), c.error)
            << "lock level " << c.lockLevel << " key " << c.key;
        if (c.error.empty()) {
            EXPECT_EQ(out, kText) << "lock level " << c.lockLevel;
        }
    }
}

TEST(ExpandStream, LockedWithoutKeyTouchesNothing) {
    TVornCodec codec;
    TMemoryStream source(WithHeader("NON", 11, 1, 1, kText));
    TNullStream dest;
    EXPECT_THROW(codec.ExpandStream(dest, source), EInvalidKey);
    EXPECT_EQ(dest.Size(), 0);
    EXPECT_EQ(source.Position(), kHeaderSize);
}

TEST(ExpandStream, MemoryDestinationIsSizedBeforeExpansion) {
    TVornCodec codec;
    const Bytes data = MakeData(DataKind::Random, 100);
    TMemoryStream source(WithHeader("NON", 100, ByteSum(data), 0, data));
    TMemoryStream dest(Bytes(10, 0xEE));
    size_t sizeSeen = 0;
    codec.OnShowProgress = [&](int32_t&) {
        if (!sizeSeen) sizeSeen = static_cast<size_t>(dest.Size());
    };
    codec.ExpandStream(dest, source);
    EXPECT_EQ(sizeSeen, 110u);
    EXPECT_EQ(dest.Size(), 110);
    EXPECT_EQ(Bytes(dest.Bytes().begin(), dest.Bytes().begin() + 100), data);
    EXPECT_EQ(dest.Bytes()[100], 0);
}

TEST(ExpandStream, NegativeSizeInADamagedHeaderCutsNothing) {
    TVornCodec codec;
    TMemoryStream source(WithHeader("NON", -50, 0, 0, kText));
    TMemoryStream dest(Bytes(40, 0xEE));
    dest.Seek(40);
    codec.ExpandStream(dest, source);
    EXPECT_EQ(dest.Size(), 40 + 11);
}

TEST(ExpandStream, ComponentRecoversAfterEveryKindOfFailure) {
    TVornCodec codec;
    const Bytes good = WithHeader("NON", 11, ByteSum(kText), 0, kText);
    const Bytes failures[] = {
        WithHeader("NON", 11, 1, 0, kText),       // bad checksum
        WithHeader("NON", 11, 1, 2, kText),       // locked, no key
        WithHeader("XXX", 11, 1, 0, kText),       // unknown method
        WithHeader("NON", 11, 1, 0, kText, 1),    // multi-file archive
    };
    for (const Bytes& bad : failures) {
        EXPECT_NE(ExpandError(codec, bad), "");
        EXPECT_EQ(ExpandBytes(codec, good), kText);
        EXPECT_EQ(codec.Engine().InBuffer, nullptr) << "buffers are released between runs";
    }
    codec.OnShowProgress = [](int32_t& p) {
        if (p == 100) throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(ExpandBytes(codec, good), std::runtime_error);
    codec.OnShowProgress = nullptr;
    EXPECT_EQ(ExpandBytes(codec, good), kText);
}

TEST(Component, TargetPathAndOwnership) {
    TVornCodec codec;
    codec.SetTargetPath("c:\\apps");
    EXPECT_EQ(codec.TargetPath(), "c:\\apps\\");
    codec.SetTargetPath("c:\\apps\\");
    EXPECT_EQ(codec.TargetPath(), "c:\\apps\\");
    codec.SetTargetPath("");
    EXPECT_EQ(codec.TargetPath(), "");

    // An owner frees what it owns; an owned component freed first unlinks itself.
    auto* owner = new TComponent(nullptr);
    auto* first = new TVornCodec(owner);
    new TVornCodec(owner);
    EXPECT_EQ(first->Owner(), owner);
    delete first;
    delete owner;  // the sanitizer build catches a double free or a leak here
}

}  // namespace
}  // namespace vorn::test
