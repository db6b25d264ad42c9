// vornpack: manifest checks with their lines, the package's bytes, and
// reading a built package back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "compress/vorn_header.h"
#include "setup/setup_errors.h"
#include "tests/support/test_support.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/manifest.h"
#include "tools/vornpack/package_builder.h"
#include "tools/vornpack/package_contents.h"

namespace vorn::test {
namespace {

namespace fs = std::filesystem;
using pack::Manifest;

class Vornpack : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vornpack_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& name, const Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
    Manifest Parse(const std::string& toml) { return pack::ParseManifest(toml, dir_ / "app.toml"); }
    // The manifest error message, with the manifest's path cut off.
    std::string ParseError(const std::string& toml) {
        try {
            Parse(toml);
        } catch (const pack::EManifestError& e) {
            const std::string prefix = (dir_ / "app.toml").string() + ":";
            return e.Message.rfind(prefix, 0) == 0 ? e.Message.substr(prefix.size()) : e.Message;
        }
        return "";
    }
    Bytes Build(const Manifest& manifest, const Bytes& stub) {
        TMemoryStream out;
        pack::BuildInstaller(manifest, stub, out);
        return out.Bytes();
    }

    fs::path dir_;
};

TEST_F(Vornpack, ManifestWordsBecomePackageValues) {
    WriteFile("a.exe", Hex("4D 5A"));
    const Manifest m = Parse(R"(
title = "Sample Suite"
[[file]]
source = "a.exe"
destination = '<p>\Sample\a.exe'
run = "at-end"
replace = { ask = "a.exe" }
method = "rle"
shortcuts.desktop = { name = "Sample", ask = true }
shortcuts.sendto = { name = "Send" }
)");
    ASSERT_EQ(m.files.size(), 1u);
    const pack::FileEntry& e = m.files[0];
    EXPECT_EQ(m.title, "Sample Suite");
    EXPECT_EQ(e.destination, "<p>\\Sample\\a.exe");
    EXPECT_EQ(e.run, pack::RunMode::AtEnd);
    EXPECT_EQ(e.replace.kind, pack::ReplaceRule::Ask);
    EXPECT_EQ(e.method, pack::EntryMethod::Rle);
    EXPECT_EQ(e.shortcuts[0].name, "Sample");
    EXPECT_TRUE(e.shortcuts[0].ask);
    EXPECT_EQ(e.shortcuts[4].name, "Send");
    EXPECT_FALSE(e.shortcuts[4].ask);
    EXPECT_EQ(e.line, 3);
}

TEST_F(Vornpack, EveryValidationErrorNamesItsLineAndField) {
    WriteFile("a", Hex("01"));
    WriteFile("locked", WithHeader("NON", 1, 2, 2, Hex("01")));
    const std::string ok = "[[file]]\nsource = \"a\"\n";
    const std::string long256(256, 'x');
    const struct {
        std::string toml;
        std::string error;
    } cases[] = {
        {"title = \"a|b\"\n" + ok + "destination = 'c:\\a'", "1: title: \"|\" cannot be stored in an installer"},
        {ok + "destination = ' '", "3: destination: must not be empty"},
        {ok, "1: destination: is missing"},
        {ok + "destination = '<p>\\" + long256 + "'",
         "3: destination: the installer keeps only 255 characters after <p>"},
        {ok + "destination = 'c:\\<u>\\" + long256 + "'",
         "3: destination: the installer keeps only 255 characters after <u>"},
        {ok + "destination = 'c:\\a'\nshortcuts.desktop = { name = '" + long256 + "' }",
         "4: shortcuts.desktop.name: longer than 255 characters; the installer would cut it"},
        {ok + "destination = 'c:\\a'\nshortcuts.startup = { name = '?x' }",
         "4: shortcuts.startup.name: a name starting with \"?\" would be read as a question"},
        {ok + "destination = 'c:\\a'\nreplace = { ask = '" + long256 + "' }",
         "4: replace.ask: longer than 255 characters; the installer would cut it"},
        {ok + "destination = 'c:\\a'\nreplace = 'sometimes'",
         "4: replace: must be \"always\", \"never\" or { ask = \"question\" }"},
        {ok + "destination = 'c:\\a'\nrun = 'later'", "4: run: must be \"never\", \"now\" or \"at-end\""},
        {"[[file]]\nsource = \"missing\"\ndestination = 'c:\\a'", "2: source: \"" + (dir_ / "missing").string() +
                                                                  "\" is not a readable file"},
        {ok + "destination = 'c:\\A'\n" + ok + "destination = 'C:\\a '",
         "4: destination: the same destination as the entry at line 1"
         " (rule duplicate; no-check = [\"duplicate\"] in the entry waives it)"},
        {ok + "destination = 'c:\\\u20AC\u0141'", "3: destination: \"\u0141\" has no place in code page 1252"},
        {"codepage = 1250\n" + ok + "destination = 'c:\\\u0141'", ""},
        {"codepage = 99999\n" + ok + "destination = 'c:\\a'", "1: codepage: unknown code page CP99999"},
        {ok + "destination = 'c:\\a'\ndestinaton = 'x'", "4: destinaton: unknown field"},
        {"title = 'x'", "1: file: the manifest needs at least one [[file]] table"},
        {"title = ", "1: syntax: "},
    };
    for (const auto& c : cases) {
        const std::string error = ParseError(c.toml);
        if (c.error == "1: syntax: ")
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        else
            EXPECT_EQ(error, c.error) << c.toml;
    }
    // A locked prepared stream is refused when the package is built.
    const Manifest m = Parse("[[file]]\nsource = 'locked'\ndestination = 'c:\\a'\nmethod = 'as-is'");
    TMemoryStream out;
    try {
        pack::BuildInstaller(m, {}, out);
        FAIL() << "a locked stream went in";
    } catch (const pack::EManifestError& e) {
        EXPECT_NE(e.Message.find(":1: source: a locked stream"), std::string::npos) << e.Message;
    }
}

TEST_F(Vornpack, PackageBytesFollowTheLayout) {
    // The two entries of the layout's example, with prepared streams of 1,234
    // and 100 bytes taken as they are, behind an image of 0x1C000 bytes.
    const Bytes stream1 = WithHeader("NON", 1213, 0, 0, Bytes(1213, 0x41));
    const Bytes stream2 = WithHeader("NON", 79, 0, 0, Bytes(79, 0x42));
    WriteFile("sample.exe", stream1);
    WriteFile("notes.txt", stream2);
    const Manifest m = Parse(R"(title = "Sample Suite"
[[file]]
source = "sample.exe"
destination = '<p>\Sample\sample.exe'
method = "as-is"
replace = { ask = "sample.exe" }
shortcuts.desktop = { name = "Sample", ask = true }
shortcuts.programs = { name = "Sample" }
[[file]]
source = "notes.txt"
destination = '<p>\Sample\notes.txt'
method = "as-is"
run = "at-end"
)");
    const Bytes stub(0x1C000, 0xCC);
    const Bytes file = Build(m, stub);
    ASSERT_EQ(file.size(), 0x1C000u + 1442);
    auto text = [&](size_t offset, size_t size) {
        return std::string(file.begin() + 0x1C000 + offset, file.begin() + 0x1C000 + offset + size);
    };
    auto bytes = [&](size_t offset, size_t size) {
        return Bytes(file.begin() + 0x1C000 + offset, file.begin() + 0x1C000 + offset + size);
    };
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 0x1C000), stub);
    EXPECT_EQ(text(0, 13), "Sample Suite|");
    EXPECT_EQ(text(13, 22), "<p>\\Sample\\sample.exe|");
    EXPECT_EQ(text(35, 1), "0");
    EXPECT_EQ(text(36, 8), "?Sample|");
    EXPECT_EQ(text(44, 1), "|");
    EXPECT_EQ(text(45, 7), "Sample|");
    EXPECT_EQ(text(52, 2), "||");
    EXPECT_EQ(text(54, 12), "1sample.exe|");
    EXPECT_EQ(bytes(66, 4), Hex("D2 04 00 00"));
    EXPECT_EQ(bytes(70, 1234), stream1);
    EXPECT_EQ(text(1304, 21), "<p>\\Sample\\notes.txt|");
    EXPECT_EQ(text(1325, 1), "2");
    EXPECT_EQ(text(1326, 5), "|||||");
    EXPECT_EQ(text(1331, 2), "0|");
    EXPECT_EQ(bytes(1333, 4), Hex("64 00 00 00"));
    EXPECT_EQ(bytes(1337, 100), stream2);
    EXPECT_EQ(text(1437, 1), "|");
    EXPECT_EQ(bytes(1438, 4), Hex("00 C0 01 00"));
}

TEST_F(Vornpack, BuiltPackageReadsBackAndIsReproducible) {
    const Bytes data = MakeData(DataKind::Runs, 50000);
    WriteFile("readme.txt", data);
    WriteFile("random.bin", MakeData(DataKind::Random, 3000));
    WriteFile("empty", {});
    const std::string toml = R"(title = "T"
[[file]]
source = "readme.txt"
destination = '<w>\readme.txt'
method = "rle"
shortcuts.startup = { name = "Read me", ask = true }
[[file]]
source = "random.bin"
destination = 'random.bin'
method = "rle"
replace = "never"
[[file]]
source = "empty"
destination = 'd:\empty'
)";
    const Bytes first = Build(Parse(toml), Hex("00 01 02"));
    EXPECT_EQ(Build(Parse(toml), Hex("00 01 02")), first) << "same manifest, same bytes";

    TMemoryStream installer(first);
    std::vector<pack::PackageEntry> entries;
    std::vector<Bytes> contents;
    std::string title;
    pack::WalkPackage(installer, {[&](const std::string& t) { title = t; },
                                  [&](const pack::PackageEntry& e, TStream& s) {
                                      entries.push_back(e);
                                      TVornCodec codec;
                                      TMemoryStream out;
                                      codec.ExpandStream(out, s);
                                      contents.push_back(out.Bytes());
                                  }});
    EXPECT_EQ(title, "T");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].shortcuts[1], "?Read me");
    EXPECT_EQ(pack::MethodName(entries[0]), "RLE");
    EXPECT_EQ(contents[0], data);
    EXPECT_EQ(pack::MethodName(entries[1]), "NON") << "random data is stored";
    EXPECT_EQ(pack::DescribeReplace(entries[1].replace), "never");
    EXPECT_EQ(pack::MethodName(entries[2]), "headerless") << "an empty file is an empty stream";
    EXPECT_EQ(entries[2].streamLength, 0u);
    EXPECT_TRUE(contents[2].empty());
}

TEST_F(Vornpack, DamagedPackagesAreRefused) {
    WriteFile("a", MakeData(DataKind::Text, 1000));
    const Bytes good = Build(Parse("[[file]]\nsource='a'\ndestination='c:\\a'\nmethod='rle'"), Hex("00"));
    auto walk = [](const Bytes& file) {
        TMemoryStream installer(file);
        pack::WalkPackage(installer, {});
    };
    walk(good);
    EXPECT_THROW(walk(Bytes(good.begin(), good.end() - 1)), setup::EPackageError);
    Bytes trailer = good;
    trailer[trailer.size() - 2] = 0x7F;  // points past the end
    EXPECT_THROW(walk(trailer), setup::EPackageError);
    Bytes cut(good.begin(), good.begin() + 20);  // ends inside the destination
    cut.insert(cut.end(), {1, 0, 0, 0});
    EXPECT_THROW(walk(cut), setup::EPackageError);
}

TEST(ExtractPath, MacrosBecomeFoldersAndNothingEscapes) {
    EXPECT_EQ(pack::ExtractPath("<P>\\Sample\\App.EXE", "1252"), "program files/sample/app.exe");
    EXPECT_EQ(pack::ExtractPath("<w>\\a.ini", "1252"), "windows/a.ini");
    EXPECT_EQ(pack::ExtractPath("<s>\\a.dll", "1252"), "windows/system/a.dll");
    EXPECT_EQ(pack::ExtractPath("c:\\tmp<u>\\x", "1252"), "c/tmpdate stamp/x");
    EXPECT_EQ(pack::ExtractPath("d:\\..\\..\\etc\\passwd", "1252"), "d/etc/passwd");
    EXPECT_EQ(pack::ExtractPath("\\..\\x", "1252"), "installer drive/x");
    EXPECT_EQ(pack::ExtractPath("c:\\a/../../b", "1252"), "c/a/b");
    EXPECT_EQ(pack::ExtractPath("c:\\caf\xE9", "1252"), "c/caf\xC3\xA9");
}

}  // namespace
}  // namespace vorn::test
