// The package reader: the layout read field by field, and damaged packages
// that must stop with an error instead of reading on.
#include <gtest/gtest.h>

#include "setup/package_reader.h"
#include "setup/setup_errors.h"
#include "tests/setup/package_builder.h"
#include "tests/support/test_support.h"

namespace vorn::setup {
namespace {

using test::AsBytes;
using test::Bytes;
using vorn::test::Hex;

constexpr uint32_t kExampleImageSize = 0x1C000;

test::TestPackage SampleSuite() {
    test::TestEntry program{"<p>\\Sample\\sample.exe", '0', {"?Sample", "", "Sample", "", ""},
                            "1sample.exe", Bytes(1234, 0xA5)};
    test::TestEntry notes{"<p>\\Sample\\notes.txt", '2', {}, "0", Bytes(100, 0x5A)};
    return {"Sample Suite", {program, notes}};
}

TEST(PackageReader, SampleSuiteLayoutReadsFieldByField) {
    const Bytes file = test::InstallerBytes(Bytes(kExampleImageSize, 0), SampleSuite());
    ASSERT_EQ(file.size(), kExampleImageSize + 1442u);
    // Title, entry 1's fields and its StreamLength, as the package starts.
    const Bytes head = Hex(
        "53 61 6D 70 6C 65 20 53 75 69 74 65 7C"
        "3C 70 3E 5C 53 61 6D 70 6C 65 5C 73 61 6D 70 6C 65 2E 65 78 65 7C 30"
        "3F 53 61 6D 70 6C 65 7C 7C 53 61 6D 70 6C 65 7C 7C 7C"
        "31 73 61 6D 70 6C 65 2E 65 78 65 7C D2 04 00 00");
    EXPECT_EQ(Bytes(file.begin() + kExampleImageSize, file.begin() + kExampleImageSize + 70), head);
    // End marker and PackageStart close the file.
    EXPECT_EQ(Bytes(file.end() - 5, file.end()), Hex("7C 00 C0 01 00"));

    TMemoryStream stream(file);
    TPackageReader reader(stream);
    reader.Locate();
    EXPECT_EQ(reader.ReadField(), "Sample Suite");
    EXPECT_EQ(reader.ReadField(), "<p>\\Sample\\sample.exe");
    EXPECT_EQ(reader.ReadRunMode(), 0);
    for (const char* shortcut : {"?Sample", "", "Sample", "", ""}) EXPECT_EQ(reader.ReadField(), shortcut);
    EXPECT_EQ(reader.ReadField(), "1sample.exe");
    EXPECT_EQ(stream.Position(), kExampleImageSize + 66);
    ASSERT_EQ(reader.ReadStreamLength(), 1234u);
    TMemoryStream entryStream;
    reader.CopyStream(entryStream, 1234);
    EXPECT_EQ(entryStream.Bytes(), Bytes(1234, 0xA5));
    EXPECT_EQ(stream.Position(), kExampleImageSize + 1304);
    EXPECT_EQ(reader.ReadField(), "<p>\\Sample\\notes.txt");
    EXPECT_EQ(reader.ReadRunMode(), 2);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(reader.ReadField(), "");
    EXPECT_EQ(reader.ReadField(), "0");
    EXPECT_EQ(reader.ReadStreamLength(), 100u);
    reader.CopyStream(entryStream, 100);
    EXPECT_EQ(reader.ReadField(), "");  // end marker
    EXPECT_THROW(reader.ReadField(), EPackageError);  // never into the trailer
}

TEST(PackageReader, RunModeDigitSharesItsSegmentWithTheDesktopField) {
    TMemoryStream stream(test::WithTrailer(AsBytes("0|2Readme||"), 0));
    TPackageReader reader(stream);
    reader.Locate();
    EXPECT_EQ(reader.ReadRunMode(), 0);
    EXPECT_EQ(reader.ReadField(), "");
    EXPECT_EQ(reader.ReadRunMode(), 2);
    EXPECT_EQ(reader.ReadField(), "Readme");
    EXPECT_THROW(reader.ReadRunMode(), EConvertError);  // a separator is no digit
}

// A minimal PE header: one section whose raw data ends at 0x400.
Bytes PeImage() {
    Bytes image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x40;
    const Bytes pe = Hex("50 45 00 00 4C 01 01 00");  // "PE\0\0", i386, one section
    std::copy(pe.begin(), pe.end(), image.begin() + 0x40);
    image[0x40 + 20] = 0xE0;  // optional header size
    const size_t section = 0x40 + 24 + 0xE0;
    const Bytes raw = Hex("00 02 00 00 00 02 00 00");  // SizeOfRawData 0x200 at 0x200
    std::copy(raw.begin(), raw.end(), image.begin() + section + 16);
    return image;
}

TEST(PackageReader, PackageStartMustLieBehindTheProgramImage) {
    TMemoryStream pe(PeImage());
    EXPECT_EQ(ExecutableImageEnd(pe), 0x400);
    TMemoryStream plain(AsBytes("not a program"));
    EXPECT_EQ(ExecutableImageEnd(plain), 0);

    Bytes installer = PeImage();
    const Bytes body = test::PackageBody({"", {}});
    installer.insert(installer.end(), body.begin(), body.end());
    TMemoryStream good(test::WithTrailer(installer, 0x400));
    TPackageReader reader(good);
    reader.Locate();
    EXPECT_EQ(reader.ReadField(), "");
}

struct Damage {
    const char* name;
    Bytes file;
};

class DamagedPackage : public testing::TestWithParam<Damage> {};

// Every damaged package stops with EPackageError before anything is read on.
TEST_P(DamagedPackage, StopsWithAPackageError) {
    TMemoryStream stream(GetParam().file);
    TPackageReader reader(stream);
    auto readAll = [&] {
        reader.Locate();
        reader.ReadField();
        for (;;) {
            if (reader.ReadField().empty()) return;
            reader.ReadRunMode();
            for (int i = 0; i < 6; ++i) reader.ReadField();
            TNullStream sink;
            reader.CopyStream(sink, reader.ReadStreamLength());
        }
    };
    EXPECT_THROW(readAll(), EPackageError);
}

const Bytes kOneEntry = test::PackageBody({"T", {{"c:\\a", '0', {}, "", AsBytes("abc")}}});

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedPackage,
    testing::Values(
        Damage{"TooShortForATrailer", AsBytes("MZ")},
        Damage{"ProgramWithoutPackage", test::WithTrailer(PeImage(), 0)},
        Damage{"TrailerPointsPastTheEnd", test::WithTrailer(AsBytes("T||"), 0xFFFFFFFF)},
        Damage{"TrailerPointsAtItself", test::WithTrailer(AsBytes("T||"), 3)},
        Damage{"EndsInsideTheTitle", test::WithTrailer(AsBytes("Title without end"), 0)},
        Damage{"EndsInsideAShortcut", test::WithTrailer(AsBytes("T|c:\\a|0Desk"), 0)},
        Damage{"EndsInsideStreamLength", test::WithTrailer(AsBytes("T|c:\\a|0||||||\x03"), 0)},
        Damage{"StreamLengthPastTheEnd",
               test::WithTrailer(Bytes(kOneEntry.begin(), kOneEntry.end() - 3), 0)}),
    [](const testing::TestParamInfo<Damage>& info) { return info.param.name; });

}  // namespace
}  // namespace vorn::setup
