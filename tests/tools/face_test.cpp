// The installer's face: .ico files and [version] tables as vornpack takes or
// refuses them, and a stub whose resources were rebuilt, read back.
#include <gtest/gtest.h>

#include <sstream>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "compress/byte_order.h"
#include "tools/vornpack/pe/icon_and_version.h"
#include "tools/vornpack/pe/resource_section.h"
#include "tests/support/test_support.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/pe/stub_image.h"
#include "tools/vornpack/pe/execution_level.h"
#include "tools/vornpack/pe/stub_rewrite.h"

namespace vorn::test {
namespace {

namespace fs = std::filesystem;

// A PNG of 256x256 pixels: signature, IHDR (size, 8-bit RGBA), IEND.
const std::string kPng256 = "89 50 4E 47 0D 0A 1A 0A 00 00 00 0D 49 48 44 52 00 00 01 00 00 00 01 00 08 06 00 00 00"
                            " 5C 72 A8 66 00 00 00 00 49 45 4E 44 AE 42 60 82";

// An icon file header (reserved 0, type 1, count) and its directory entries
// (w, h, colours, 0, planes, bits, size, offset): a 16x16 image of 4 bytes
// at 38, then the PNG at 42 listed as 256x256 (0, 0).
std::string TwoImages(const std::string& png = kPng256) {
    char size[3];
    std::snprintf(size, sizeof size, "%02X", static_cast<unsigned>(Hex(png).size()));
    return "00 00 01 00 02 00 10 10 00 00 01 00 20 00 04 00 00 00 26 00 00 00 00 00 00 00 01 00 20 00 " +
           std::string(size) + " 00 00 00 2A 00 00 00 AA BB CC DD " + png;
}

TEST(IconFile, EachFileGivesItsImagesOrItsReason) {
    const std::string entry = " 10 10 00 00 01 00 20 00 04 00 00 00 26 00 00 00";
    const struct { const char* name; std::string hex; const char* error; } cases[] = {
        {"two images, one PNG", TwoImages(), ""},
        {"empty", "", "the file is empty"},
        {"a cursor file", "00 00 02 00 01 00", "it is not an icon file (.ico)"},
        {"no images", "00 00 01 00 00 00", "it holds no images"},
        {"more images than an installer reads back", "00 00 01 00 00 78", "it holds 30720 images; an installer's icon holds at most 30719"},
        {"cut inside the list", TwoImages().substr(0, 3 * 30), "it is cut short inside its list of images"},
        {"cut inside an image", TwoImages().substr(0, 3 * 48 - 1), "image 2 of 2 lies outside the file"},
        {"an offset into the list", "00 00 01 00 01 00 10 10 00 00 01 00 20 00 04 00 00 00 04 00 00 00 AA BB CC DD",
         "image 1 of 1 lies outside the file"},
        {"an empty image", "00 00 01 00 01 00 10 10 00 00 01 00 20 00 00 00 00 00 16 00 00 00", "image 1 of 1 is empty"},
        {"two entries on the same bytes", "00 00 01 00 02 00" + entry + entry + " AA BB CC DD",
         "image 2 of 2 shares bytes with image 1; each image needs bytes of its own"},
        {"a bare PNG signature", TwoImages(kPng256.substr(0, 3 * 8)), "image 2 of 2 is a PNG without its IHDR chunk first"},
        {"a PNG without IEND", TwoImages(kPng256.substr(0, 3 * 33)), "image 2 of 2 is a PNG cut short"},
        {"a PNG 2^31-1 wide", TwoImages(kPng256.substr(0, 3 * 16) + "7F FF FF FF" + kPng256.substr(3 * 20 - 1)),
         "image 2 of 2 is a PNG of 2147483647x256 pixels; an icon image has 1 to 256"},
        {"a PNG smaller than listed", TwoImages(kPng256.substr(0, 3 * 18) + "00 20" + kPng256.substr(3 * 20 - 1)),
         "image 2 of 2 is a PNG of 32x256 where the list of images says 256x256"},
    };
    for (const auto& c : cases) {
        try {
            const std::vector<pack::TIconImage> images = pack::ReadIconFile(Hex(c.hex));
            EXPECT_STREQ(c.error, "") << c.name;
            EXPECT_EQ(pack::IconGroupSizes(pack::IconResources(images).back().data),
                      (std::vector<std::pair<int, int>>{{16, 16}, {256, 256}})) << c.name;
            EXPECT_EQ(images[1].data, Hex(kPng256)) << c.name;
        } catch (const pack::EFaceError& error) {
            EXPECT_NE(std::string(c.error), "") << c.name << ": " << error.what();
            EXPECT_TRUE(std::string(error.what()).starts_with(c.error)) << c.name << ": " << error.what();
        }
    }
}

class Face : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("face_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
        const Bytes icon = Hex(TwoImages());
        std::ofstream(dir_ / "app.ico", std::ios::binary)
            .write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
        std::ofstream(dir_ / "a") << "a";
    }
    void TearDown() override { fs::remove_all(dir_); }
    void RebuildAndReadBack(const pack::TArchitecture& arch);
    pack::TManifest Parse(const std::string& keys) {
        return pack::ParseManifest(keys + "\n[[file]]\nsource = \"a\"\ndestination = 'c:\\a'\n", dir_ / "app.toml");
    }
    std::string ParseError(const std::string& keys) {
        try {
            Parse(keys);
        } catch (const pack::EManifestError& e) {
            return e.Message.substr((dir_ / "app.toml").string().size() + 1);
        }
        return "";
    }
    fs::path dir_;
};

TEST_F(Face, EachVersionTableIsTakenOrRefusedWithLineAndReason) {
    const std::string longText(40000, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"[version]\nfile-version = \"1.2.3.4\"\nproduct-version = \"0.0.0.65535\"\ncompany = \"Ex\"", ""},
        {"icon = \"app.ico\"", ""},
        {"[version]\nfile-version = \"1.2.3\"", "2: version.file-version: must be four numbers from 0 to 65535"},
        {"[version]\nfile-version = \"1.2.3.65536\"", "2: version.file-version: must be four numbers"},
        {"[version]\nfile-version = \"1.2.3.4.5\"", "2: version.file-version: must be four numbers"},
        {"[version]\nfile-version = \"1.2.-3.4\"", "2: version.file-version: must be four numbers"},
        {"[version]\nfile-version = \"1.2.3.4 \"", "2: version.file-version: must be four numbers"},
        {"[version]\nfile-version = \"1.2.3.4\"\nproduct-version = \"v1\"", "3: version.product-version: must be four"},
        {"[version]\ncompany = \"Ex\"", "1: version.file-version: is missing"},
        {"[version]\nfile-version = \"1.2.3.4\"\nvendor = \"Ex\"", "3: version.vendor: "},
        {"[version]\nfile-version = \"1.2.3.4\"\ncomments = \"" + longText + "\"", "1: version: the version string Comments"},
        {"icon = \"missing.ico\"", "1: icon: \"" + (dir_ / "missing.ico").string() + "\" is not a readable file"},
        {"icon = \"a\"", "1: icon: \"" + (dir_ / "a").string() + "\": it is not an icon file (.ico)"},
    };
    for (const auto& [keys, error] : cases) {
        const std::string found = ParseError(keys);
        EXPECT_EQ(found.substr(0, error.size()), error) << keys.substr(0, 80);
        EXPECT_EQ(found.empty(), error.empty()) << keys.substr(0, 80) << ": " << found;
    }
    const pack::TManifest manifest = Parse("[version]\nfile-version = \"1.2.3.4\"\nproduct-name = \"Ünïcode ✓\"");
    EXPECT_EQ(manifest.version->productVersion, (pack::TFourPartVersion{1, 2, 3, 4}));
}

// The carried stub with an icon and version information: the listing reads
// them back, the manifest resource and every byte outside the resources and
// the sections behind them stay, and a second build gives the same bytes;
// for the PE32 and the PE32+ stub alike.
TEST_F(Face, ARebuiltStubReadsBackAndKeepsItsCode) {
    for (const pack::TArchitecture* arch : pack::kArchitectures) {
        SCOPED_TRACE(arch->name);
        RebuildAndReadBack(*arch);
    }
}

void Face::RebuildAndReadBack(const pack::TArchitecture& arch) {
    std::vector<uint8_t> stub = pack::CarriedStub(arch);
    if (stub.empty()) GTEST_SKIP() << "this vornpack carries no " << arch.name << " stub";
    const pack::TManifest manifest = Parse(
        "icon = \"app.ico\"\n[version]\nfile-version = \"1.2.3.4\"\nproduct-version = \"5.6.7.8\"\ncompany = \"Éx\"");
    std::vector<uint8_t> rebuilt = stub;
    pack::ApplyFace(manifest, rebuilt);
    std::vector<uint8_t> again = stub;
    pack::ApplyFace(manifest, again);
    EXPECT_EQ(rebuilt, again);

    TMemoryStream stream(rebuilt);
    const pack::TInstallerFace face = pack::ReadFace(stream);
    ASSERT_TRUE(face.version);
    EXPECT_EQ(face.version->productVersion, (pack::TFourPartVersion{5, 6, 7, 8}));
    EXPECT_EQ(face.version->strings.front(), (std::pair<std::string, std::string>{"CompanyName", "Éx"}));
    EXPECT_EQ(face.iconSizes.size(), 2u);
    const auto manifestOf = [](const std::vector<uint8_t>& image) {
        return pack::FindResource(pack::ReadResources(image), pack::pe::kManifestResource)->data;
    };
    EXPECT_EQ(manifestOf(rebuilt), manifestOf(stub));

    const pack::TPeLayout before = pack::ReadPeLayout(stub), after = pack::ReadPeLayout(rebuilt);
    const size_t rsrc = *pack::ResourceSection(before);
    const setup::TPeSection& old = before.sections[rsrc];
    const auto code = static_cast<std::ptrdiff_t>(before.sections[0].rawOffset);
    EXPECT_TRUE(std::equal(stub.begin() + code, stub.begin() + old.rawOffset, rebuilt.begin() + code)) << "the code moved";
    for (size_t i = rsrc + 1; i < before.sections.size(); ++i) {
        const setup::TPeSection &was = before.sections[i], &is = after.sections[i];
        EXPECT_TRUE(std::equal(stub.begin() + was.rawOffset, stub.begin() + was.rawOffset + was.rawSize,
                               rebuilt.begin() + is.rawOffset)) << "section " << i;
        EXPECT_EQ(is.virtualAddress - was.virtualAddress,
                  after.headers.directories[setup::pe::kRelocationDirectory].address -
                      before.headers.directories[setup::pe::kRelocationDirectory].address);
    }
    EXPECT_EQ(pack::StubProblem(rebuilt, arch), "");
}

// Each carried stub with two resources of type 10 (id 1: 1,000 bytes, id
// 2: 8), laid out by the writer: root at 0, type directory at 24 (entries
// at 40 and 48), id directories at 56 and 80, data entries at 104 and 120.
// Each row makes one field lie, in the tree or in the headers.
TEST(ResourceSection, HostileLayoutsAreRefusedByName) {
    for (const pack::TArchitecture* arch : pack::kArchitectures) {
        std::vector<uint8_t> stub = pack::CarriedStub(*arch);
        if (stub.empty()) GTEST_SKIP() << "this vornpack carries no " << arch->name << " stub";
        pack::ReplaceResources(stub, {{.type = 10, .id = 1, .language = 0, .codePage = 0, .data = Bytes(1000, 'a')},
                                       {.type = 10, .id = 2, .language = 0, .codePage = 0, .data = Bytes(8, 'b')}});
        const pack::TPeLayout layout = pack::ReadPeLayout(stub);
        const size_t rsrc = *pack::ResourceSection(layout);
        const setup::TPeSection section = layout.sections[rsrc], reloc = layout.sections[rsrc + 1];
        const int64_t tree = section.rawOffset, optional = layout.headers.OptionalAt();
        const auto header = [&](size_t i) { return layout.headers.SectionTableAt() + int64_t(i) * setup::pe::kSectionHeaderSize; };
        const struct { const char* name; int64_t at; uint32_t value; std::string refusal; } cases[] = {
            {"data below the section", tree + 104, section.virtualAddress - 1, "a resource's data lies outside the resource"},
            {"data past the section", tree + 104, section.virtualAddress + section.rawSize - 4, "a resource's data lies outside"},
            {"a subdirectory outside the section", tree + 20, 0x80000000u | section.rawSize, "a resource directory lies outside"},
            {"a leaf where a directory belongs", tree + 20, 104, "its resource tree is not three levels deep"},
            {"two ids sharing the 1,000 bytes", tree + 52, 0x80000000u | 56, "its resources share data: copied leaf by leaf"},
            {".rsrc at raw offset 0", header(rsrc) + setup::pe::kSectionRawOffsetField, 0, "'s raw data (at offset 0x0) overlaps the headers"},
            {"FileAlignment 2 GiB", optional + setup::pe::kFileAlignmentField, 0x80000000u, "its FileAlignment is 0x80000000; it must"},
            {"SectionAlignment below FileAlignment", optional + setup::pe::kSectionAlignmentField, 0x100, "its SectionAlignment is 0x100"},
            {"a section stored behind .rsrc", header(rsrc - 1) + setup::pe::kSectionRawOffsetField, reloc.rawOffset,
             ", listed before its resources, lies behind them in the file and would be moved without its header"},
            {".reloc inside .rsrc in memory", header(rsrc + 1) + setup::pe::kSectionAddressField, section.virtualAddress + 16,
             "its section " + std::to_string(rsrc + 2) + " (at 0x" + (std::stringstream() << std::uppercase << std::hex
                 << section.virtualAddress + 16).str() + ") lies in memory inside its section " + std::to_string(rsrc + 1)},
            {"a section mapped behind .rsrc", header(rsrc - 1) + setup::pe::kSectionAddressField, reloc.virtualAddress + 0x10000,
             ", listed before its resources, lies behind them in memory"},
        };
        for (const auto& c : cases) {
            std::vector<uint8_t> lying = stub;
            StoreLe32(lying.data() + c.at, c.value);
            std::string refusals = pack::StubProblem(lying, *arch) + " | ";
            try {
                pack::ReplaceResources(lying, pack::ReadResources(lying));
            } catch (const pack::EPeImageError& error) {
                refusals += error.Message;
            }
            EXPECT_NE(refusals.find(c.refusal), std::string::npos) << arch->name << ", " << c.name << ": " << refusals;
        }
    }
}

}  // namespace
}  // namespace vorn::test
