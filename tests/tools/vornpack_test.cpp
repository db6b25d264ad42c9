// vornpack: manifest checks with their lines, the destination rules, the
// package's bytes, reading a built package back, and the buffered output.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "compress/custom_methods.h"
#include "compress/vorn_header.h"
#include "setup/setup_errors.h"
#include "tests/support/test_support.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/manifest/folder_source.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/build/package_builder.h"
#include "tools/vornpack/read/package_contents.h"
#include "tools/vornpack/build/store_decision.h"
#include "tools/vornpack/build/uninstall_entries.h"
#include "tools/vornpack/pe/execution_level.h"
#include "tools/vornpack/pe/stub_image.h"

namespace vorn::test {
namespace {

namespace fs = std::filesystem;
using pack::TManifest;

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
    TManifest Parse(const std::string& toml) { return pack::ParseManifest(toml, dir_ / "app.toml"); }
    // The manifest error message without the manifest's path; "" when it is accepted.
    std::string ParseError(const std::string& toml) {
        try {
            Parse(toml);
        } catch (const pack::EManifestError& e) {
            return e.Message.substr((dir_ / "app.toml").string().size() + 1);
        }
        return "";
    }
    Bytes Build(const TManifest& manifest, const Bytes& stub, size_t jobs = 1, int64_t chainTarget = 32 << 20) {
        TMemoryStream out;
        pack::BuildInstaller(manifest, stub, out, {.jobs = jobs, .progress = {}, .chainTarget = chainTarget, .make = {}});
        return out.Bytes();
    }

    fs::path dir_;
};

TEST_F(Vornpack, EveryValidationErrorNamesItsLineAndField) {
    WriteFile("a", Hex("01"));
    const std::string ok = "[[file]]\nsource = \"a\"\n";
    const std::string long256(256, 'x');
    const std::string dots(100, '.');
    std::string deepKey = "a";
    for (int i = 0; i < 50000; ++i) deepKey += ".a";
    const struct {
        std::string toml;
        std::string error;
    } cases[] = {
        {"title = \"a|b\"\n" + ok + "destination = 'c:\\a'", "1: title: \"|\" cannot be stored in an installer"},
        {ok + "destination = ' '", "3: destination: must not be empty"},
        {ok, "1: destination: is missing"},
        {ok + "destination = '<p>\\" + long256 + "'",
         "3: destination: the installer keeps only 255 characters after <p>"},
        {ok + "destination = 'c:\\a'\nshortcuts.desktop = { name = '" + long256 + "' }",
         "4: shortcuts.desktop.name: longer than 255 characters; the installer would cut it"},
        {ok + "destination = 'c:\\a'\nshortcuts.startup = { name = '?x' }",
         "4: shortcuts.startup.name: a name starting with \"?\" would be read as a question"},
        {ok + "destination = 'c:\\a'\nreplace = 'sometimes'",
         "4: replace: must be \"always\", \"never\" or { ask = \"question\" }"},
        {"[[file]]\nsource = \"missing\"\ndestination = 'c:\\a'", "2: source: \"" + (dir_ / "missing").string() +
                                                                  "\" is not a readable file"},
        {ok + "destination = 'c:\\A'\n" + ok + "destination = 'C:\\a '",
         "4: destination: \"" + (dir_ / "a").string() + "\" (line 4) goes to the same destination as \"" +
             (dir_ / "a").string() + "\" (line 1) (rule duplicate; no-check = [\"duplicate\"] in the entry waives it)"},
        {ok + "destination = 'c:\\\u20AC\u0141'", "3: destination: \"\u0141\" has no place in code page 1252"},
        {"codepage = 1250\n" + ok + "destination = 'c:\\\u0141'", ""},
        {"codepage = 99999\n" + ok + "destination = 'c:\\a'", "1: codepage: unknown code page 99999; the installer"},
        {"codepage = '1252//TRANSLIT'\n" + ok + "destination = 'c:\\a'", "1: codepage: unknown code page 1252//"},
        {"codepage = 932\n" + ok + "destination = 'c:\\a'", "1: codepage: code page 932 is a double-byte code page"},
        {"title = 'x'", "1: file: the manifest needs at least one [[file]] or [[folder]] table"},
        {"[[file]]\nsource = 5", "2: source: expected a string, found an integer"},  // one check for every type
        {ok + "destination = 'c:\\a'\nreplace = []", "4: replace: expected a string or a table, found an array"},
        {ok + "destination = 'c:\\a'\nmethod = 'zip'",
         "4: method: must be \"lh5\", \"lzma\", \"lzh\", \"rle\", \"non\" or \"as-is\""},
        {ok + "destination = 'c:\\a'\nlevel = 3", "4: level: only the \"lzma\" method has levels"},
        {"level = 3\n" + ok + "destination = 'c:\\a'", "1: level: only the \"lzma\" method has levels"},
        {"method = 'lzma'\n" + ok + "destination = 'c:\\a'\nlevel = 10", "5: level: must be an integer from 0 to 9"},
        {"solid = true\n" + ok + "destination = 'c:\\a'", "1: solid: only \"lzma\" entries can be solid"},
        {"solid = 1\nmethod = 'lzma'\n" + ok + "destination = 'c:\\a'", "1: solid: expected a boolean, found an integer"},
        {ok + "destination = 'c:\\a'\nsolid = true", "4: solid: unknown field"},
        // [install]: all-users shortcuts need an administrator and have no Send To.
        {"elevation = 'user'\n[install]\nshortcuts = 'all-users'\n" + ok + "destination = '<l>\\a'",
         "3: install.shortcuts: \"all-users\" needs elevation = \"admin\""},
        {"[install]\nshortcuts = 'everyone'\n" + ok + "destination = 'c:\\a'",
         "2: install.shortcuts: must be \"user\" (the default) or \"all-users\""},
        {"[install]\nshortcuts = 'all-users'\n" + ok + "destination = 'c:\\a'\nshortcuts.sendto = { name = 'x' }",
         "3: shortcuts.sendto: Windows keeps Send To for each user alone"},
        {"[install]\nswitches = 1\n" + ok + "destination = 'c:\\a'", "2: install.switches: expected a boolean"},
        // Habits from elsewhere, each with the hint that mends it.
        {ok + "destination = \"<p>\\bin\\new.txt\"", "3: destination: holds the control character 8, which no "
         "Windows name can hold; write Windows paths in single quotes: '<p>\\bin\\new.txt'"},
        {ok + "destination = \"<p>\\MyCAD\\a.txt\"", "3: syntax: Error while parsing string: unknown escape "
         "sequence '\\M': write Windows paths in single quotes: '<p>\\MyCAD\\a.txt'"},
        {"[[file]]\nsource = 'sub\\a'\ndestination = 'c:\\a'",
         "2: source: \"" + (dir_ / "sub\\a").string() + "\" is not a readable file; write \"/\" between folders: \"sub/a\""},
        {ok + "destination = '$INSTDIR\\b.txt'", "3: destination: \"$instdir\" is never expanded: the installer would "
         "make a folder of that name; write <p>\\Product for it"},
        {ok + "destination = '%WinDir%\\b.txt'", "3: destination: \"%windir%\" is never expanded: the installer would "
         "make a folder of that name; write <w> for it"},
        {ok + "destination = 'c:\\a'\nshortcut.desktop = { name = 'x' }", "4: shortcut: unknown field; did you mean \"shortcuts\"?"},
        {"[version]\nfile_version = '1.2.3.4'\n" + ok + "destination = 'c:\\a'",
         "2: version.file_version: unknown field; did you mean \"file-version\"?"},
        {"[[files]]\nsource = 'a'", "1: files: unknown field; did you mean [[file]]?"},
        // 50,000 dotted parts once overflowed the parser's stack; dots in strings and comments are no nesting.
        {"\n[" + deepKey + "]\n" + ok, "2: syntax: nested more than 32 levels deep"},
        {"x = " + std::string(40, '[') + std::string(40, ']') + "\n" + ok, "1: syntax: nested more than 32"},
        {"title = \"\"\"\n" + dots + "\\\"\"\"\" # " + dots + "\n" + ok + "destination = 'c:\\a'", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseError(c.toml).substr(0, c.error.size()), c.error) << c.toml;
}

// [uninstall]: what it refuses, and the record and remover it adds, read
// back from the built installer as list and verify read them.
TEST_F(Vornpack, UninstallAddsARecordOfEveryFileAndTheRemoverLast) {
    WriteFile("a", Hex("01 02 03"));
    WriteFile("b", {});
    const std::string a = "[[file]]\nsource = 'a'\ndestination = ";
    const std::string table = "[uninstall]\nfolder = '<l>\\Tool'\n";
    const std::pair<std::string, std::string> refused[] = {
        {a + "'c:\\a'\nremove = true", "4: remove: tells the remover what to do, and there is none"},
        {"title = 'T'\n[uninstall]\n" + a + "'c:\\a'", "2: uninstall.folder: is missing"},
        {"[uninstall]\nfolder = 'c:\\t'\n" + a + "'c:\\a'", "1: uninstall: Settings needs the product's name"},
        {"title = 'T'\n" + table + "id = 'a\\b'\n" + a + "'c:\\a'", "2: uninstall.id: the registry key's name"},
        {"title = 'T'\n" + table + a + "'\\a'", "4: destination: with [uninstall], every destination starts with"},
        {"title = 'T'\n" + table + a + "'<L>\\tool\\Uninstall.exe'", "2: destination: the entry at line 2 goes to the same"},
        {"title = 'T'\nelevation = 'user'\n[uninstall]\nfolder = '<p>\\T'\n" + a + "'<l>\\a'",
         "3: uninstall.folder: <p> is a folder only an administrator can write, and elevation = \"user\" asks for no "
         "administrator; install into <l>"},
    };
    for (const auto& [toml, error] : refused) EXPECT_EQ(ParseError(toml).substr(0, error.size()), error) << toml;

    const TManifest manifest = Parse("title = 'Tool'\nelevation = 'user'\n[version]\nfile-version = '1.2.3.4'\n"
                                     "company = 'Me'\n" + table + a + "'<l>\\Tool\\a.bin'\nremove = false\n"
                                     "shortcuts.desktop = { name = 'Tool', ask = true }\n"
                                     "[[file]]\nsource = 'b'\ndestination = 'c:\\data\\<u>.log'\nmethod = 'non'\n"
                                     "shared = true\n");
    const setup::TUninstallRecord record{
                          "Tool", "Tool", "1.2.3.4", "Me", true, "<l>\\Tool", "",
                          {{"<l>\\Tool\\a.bin", 3, "039058c6f2c0cb492c533b0a4d14ef77cc0f78abccced5287d84a1a2011cfb81",
                            setup::Removal::Never, setup::Sharing::Own},
                           {"c:\\data\\<u>.log", 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                            setup::Removal::Auto, setup::Sharing::Shared}},
                          {{"Desktop", "Tool", ""}}};
    TManifest built = manifest;
    const pack::TUninstallFiles files(manifest, {});
    for (const pack::TFileEntry& entry : files.Entries(manifest)) built.files.push_back(entry);
    TMemoryStream installer;
    pack::BuildInstaller(built, Hex("00"), installer,
                         {.jobs = 2, .progress = {}, .make = [&](const std::vector<pack::TBuiltEntry>& before) {
                              return setup::RecordText(pack::UninstallRecord(manifest, before));
                          }});
    std::vector<std::string> last;
    std::optional<setup::TUninstallRecord> found;
    pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry& e, TStream& s) {
                                      last = {e.destination, pack::DescribeRunMode(e.runMode)};
                                      setup::TRecordReader reader;
                                      if (auto r = pack::RecordOfEntry(e, s, reader)) found = r;
                                  }});
    EXPECT_EQ(last, (std::vector<std::string>{"<l>\\Tool\\uninstall.exe", "now"}));
    EXPECT_EQ(found, record);
}

// The remover, whatever the build, is LZMA seeded with the stub's code and
// data, outside any chain; it expands only where the reader names the
// installer, and then as carried. A stub without resources seeds nothing.
TEST_F(Vornpack, TheRemoverIsSeededWithTheStubsProgram) {
    const std::vector<uint8_t> stub = pack::CarriedStub(*pack::kArchitectures[0]);
    if (stub.empty()) GTEST_SKIP() << "this vornpack carries no stub";
    WriteFile("a", MakeData(kAllKinds[1], 30000, 2));
    const std::string files = "[uninstall]\nfolder = '<p>\\T'\n"
                              "[[file]]\nsource = 'a'\ndestination = '<p>\\T\\a'\nmethod = 'lzma'\n";
    for (const bool solid : {false, true})
        for (const Bytes& program : {Bytes(stub), Hex("00")}) {
            TManifest manifest = Parse(std::string(solid ? "solid = true\n" : "") + "title = 'T'\n" + files);
            const pack::TUninstallFiles uninstall(manifest, {});
            for (const pack::TFileEntry& entry : uninstall.Entries(manifest)) manifest.files.push_back(entry);
            TMemoryStream installer;
            pack::BuildInstaller(manifest, program, installer,
                                 {.jobs = 2, .progress = {}, .make = [](const std::vector<pack::TBuiltEntry>&) {
                                      return std::string("record");
                                  }});
            std::optional<pack::TPackageEntry> remover;
            Bytes removerBytes;
            TVornCodec codec;
            UseCustomMethods(codec);
            lzma::SetSeed(codec, installer);
            pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry& e, TStream& s) {
                                              TMemoryStream out;
                                              codec.ExpandStream(out, s);
                                              if (e.index != manifest.files.size()) return;
                                              remover = e;
                                              removerBytes = out.Bytes();
                                          }});
            std::ifstream carried(manifest.files.back().source, std::ios::binary);
            EXPECT_EQ(removerBytes, Bytes(std::istreambuf_iterator<char>(carried), {})) << solid;
            ASSERT_TRUE(remover);
            EXPECT_FALSE(remover->chainOffset);
            EXPECT_EQ(remover->header.Id(), lzma::kMethodId);
            EXPECT_EQ(remover->seedSize.has_value(), program.size() > 1);
            if (program.size() == 1) continue;
            TVornCodec unseeded;
            UseCustomMethods(unseeded);
            EXPECT_THROW(pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry&, TStream& s) {
                                                           TMemoryStream out;
                                                           unseeded.ExpandStream(out, s);
                                                       }}),
                         EVornError);
        }
}

// Only the sample is compressed, and a file is stored when it does not
// shrink; bytes of skewed frequencies are not even sampled.
TEST(StoreDecision, ASampleThatDoesNotShrinkStoresTheFileWithoutAFullRun) {
    const Bytes block = MakeData(DataKind::Random, 4 << 10);  // even bytes that a window finds again
    Bytes repeated;
    while (repeated.size() < (1u << 20)) repeated.insert(repeated.end(), block.begin(), block.end());
    const struct {
        Bytes data;
        bool worth, sampled;
    } cases[] = {{MakeData(DataKind::Random, 3 << 20), false, true},
                 {repeated, true, true},
                 {MakeData(DataKind::Text, 3 << 20), true, false},
                 {MakeData(DataKind::Random, 100000), true, false}};  // too small to judge by a sample
    for (const auto& c : cases) {
        TMemoryStream source(c.data);
        int64_t sampled = 0;
        const bool worth = pack::WorthCompressing(source, [&](TVornCodec& codec, TStream& dest, TStream& sample) {
            sampled = sample.Size();
            return codec.CompressStream(dest, sample, kMethodLh5);
        });
        EXPECT_EQ(worth, c.worth) << c.data.size();
        EXPECT_EQ(sampled > 0, c.sampled) << c.data.size();
        EXPECT_LE(sampled, 32 << 10);
        EXPECT_EQ(source.Position(), 0);
    }
}

// A [[folder]] gives one entry per file its globs take, in the byte order
// of the paths, with the table's settings; the manifest's order holds
// across tables, and a clash with a [[file]] is the duplicate it is.
TEST_F(Vornpack, FolderTablesGiveOneEntryPerFileInByteOrder) {
    for (const char* folder : {"tree/Bin", "tree/My Docs/sub", "tree/empty/deeper", "tree/debug"})
        fs::create_directories(dir_ / folder);
    for (const char* file : {"Bin/app.dll", "Bin/app.pdb", "My Docs/read me.txt", "My Docs/sub/c.txt", "a.txt",
                             "debug/x.pdb"})
        WriteFile(std::string("tree/") + file, Hex("01"));
    const std::string folder = "[[folder]]\nsource = 'tree'\ndestination = '<p>\\T/'\n";
    const struct {
        std::string toml;
        std::vector<std::string> entries;  // destinations after <p>\T\, in order
    } cases[] = {
        {folder, {"Bin\\app.dll", "Bin\\app.pdb", "My Docs\\read me.txt", "My Docs\\sub\\c.txt", "a.txt", "debug\\x.pdb"}},
        {folder + "exclude = ['*.pdb']", {"Bin\\app.dll", "My Docs\\read me.txt", "My Docs\\sub\\c.txt", "a.txt"}},
        {folder + "include = ['My Docs']", {"My Docs\\read me.txt", "My Docs\\sub\\c.txt"}},
        {folder + "include = ['**/sub/*.txt', 'a.txt', 'b*']", {"My Docs\\sub\\c.txt", "a.txt"}},
        {"[[file]]\nsource = 'tree/a.txt'\ndestination = '<p>\\T\\first'\n" + folder + "include = ['a.*']\n"
         "[[file]]\nsource = 'tree/a.txt'\ndestination = '<p>\\T\\last'", {"first", "a.txt", "last"}},
    };
    for (const auto& c : cases) {
        const TManifest m = Parse(c.toml);
        std::vector<std::string> entries;
        for (const pack::TFileEntry& entry : m.files) entries.push_back(entry.destination.substr(6));
        EXPECT_EQ(entries, c.entries) << c.toml;
    }
    const TManifest stored = Parse(folder + "method = 'non'\nno-check = ['length']");
    EXPECT_EQ(stored.files.back().method, vorn::tools::MethodNamed("non"));
    EXPECT_EQ(stored.files.back().waived, std::set<std::string>{"length"});
    EXPECT_EQ(stored.notes.size(), 1u) << "one note for empty/ and empty/deeper/";
    const std::string tree = (dir_ / "tree").string();
    EXPECT_EQ(Parse(folder + "include = ['a.txt', 'MyApp.ex']\nexclude = [\n'*.tmp']").warnings,
              (std::vector<std::string>{(dir_ / "app.toml").string() + ":4: include: \"MyApp.ex\" matches nothing under \"" +
                                            tree + "\"",
                                        (dir_ / "app.toml").string() + ":5: exclude: \"*.tmp\" matches nothing under \"" +
                                            tree + "\""}));

    fs::create_symlink("a.txt", dir_ / "tree/link.txt");
    const std::pair<std::string, std::string> refused[] = {
        {folder, "2: source: \"" + (dir_ / "tree/link.txt").string() + "\" is a symbolic link; leave it out with exclude"},
        {folder + "exclude = ['link.txt']\nrun = 'now'", "5: run: belongs to a [[file]]; a [[folder]] gives replace, "
                                                         "method, level, remove, shared and no-check to all its files"},
        {folder + "includ = ['*']", "4: includ: unknown field; did you mean \"include\"?"},
        {"[[folder]]\ndestination = '<p>\\T'", "1: source: is missing"},
        {"[[folder]]\nsource = 'tree'", "1: destination: is missing"},
        {folder + "exclude = ['*']", "2: source: \"" + (dir_ / "tree").string() + "\" holds no file to install"},
        {folder + "exclude = ['link.txt']\n[[file]]\nsource = 'tree/a.txt'\ndestination = '<p>\\t\\A.TXT'",
         "5: destination: \"" + (dir_ / "tree/a.txt").string() + "\" (line 5) goes to the same destination as \"" +
             (dir_ / "tree/a.txt").string() + "\" (line 1); leave it out of the [[folder]] at line 1 with exclude = "
             "[\"a.txt\"] (rule duplicate"},
        {folder + "exclude = ['Bin\\*.pdb']", "4: exclude: \"Bin\\*.pdb\": globs separate folders with \"/\", as in "
                                             "\"Bin/*.pdb\""},
    };
    for (const auto& [toml, error] : refused) EXPECT_EQ(ParseError(toml).substr(0, error.size()), error) << toml;
}

// Whatever stops a walk fails it, naming the folder and the reason: a
// folder that cannot be opened, one removed between its listing and its
// turn, one met twice. An excluded folder is never opened.
TEST_F(Vornpack, AFolderWalkFailsLoudlyAndNeverEntersAnExcludedFolder) {
    for (const char* folder : {"tree/bin", "tree/locked/deeper", "tree/gone"}) fs::create_directories(dir_ / folder);
    for (const char* file : {"tree/bin/a.dll", "tree/locked/deeper/b.txt", "tree/gone/c.txt"})
        WriteFile(file, Hex("01"));
    const fs::path tree = dir_ / "tree";
    const auto FailingAt = [&](const std::string& folder, std::errc reason) {
        return [=](const fs::path& at) {
            if (at.string().ends_with("/" + folder)) throw fs::filesystem_error("test", at, std::make_error_code(reason));
            return pack::ReadFolder(at);
        };
    };
    const struct {
        pack::FolderReader read;
        std::string error;
    } cases[] = {
        {FailingAt("locked", std::errc::permission_denied), "\"" + (tree / "locked").string() + "\" cannot be read: Permission denied"},
        {FailingAt("locked/deeper", std::errc::too_many_files_open),
         "\"" + (tree / "locked/deeper").string() + "\" cannot be read: Too many open files"},
        {[&](const fs::path& at) {
             pack::TFolderListing listing = pack::ReadFolder(at);
             if (at == tree / "") fs::remove_all(tree / "gone");
             return listing;
         },
         "\"" + (tree / "gone").string() + "\" cannot be read: No such file or directory"},
        {[&](const fs::path& at) {
             pack::TFolderListing listing = pack::ReadFolder(at);
             if (at == tree / "bin") listing.identity = pack::ReadFolder(tree).identity;
             return listing;
         },
         "\"" + (tree / "bin").string() + "\" is a folder the walk has met before"},
    };
    for (const auto& c : cases) {
        try {
            pack::ListFolder(tree, {}, {}, c.read);
            ADD_FAILURE() << c.error;
        } catch (const pack::EFolderError& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error);
        }
    }
    fs::create_directory_symlink("tree", dir_ / "link");
    const pack::TFolderFiles found =
        pack::ListFolder(dir_ / "link", {}, {"locked"}, FailingAt("locked", std::errc::permission_denied));
    EXPECT_EQ(found.files, std::vector<std::string>{"bin/a.dll"});
    EXPECT_TRUE(found.unmatched.empty());
}

// Each source is read once, as it was when opened: a file swapped for a pipe
// after the manifest was read fails the build at once instead of waiting
// for a writer, and so does a file that changes while it is read.
TEST_F(Vornpack, ASourceSwappedOrChangedDuringTheBuildFailsIt) {
    WriteFile("a", Hex("01"));
    WriteFile("big", MakeData(kAllKinds[0], 1 << 20, 1));
    const TManifest m = Parse("[[file]]\nsource = 'a'\ndestination = 'c:\\a'\n");
    fs::remove(dir_ / "a");
    ASSERT_EQ(::mkfifo((dir_ / "a").c_str(), 0600), 0);
    try {
        Build(m, {});
        ADD_FAILURE() << "a pipe went in";
    } catch (const pack::EManifestError& e) {
        EXPECT_NE(e.Message.find(":1: source: \"" + (dir_ / "a").string() + "\" is not a regular file"), std::string::npos)
            << e.Message;
    }
    TManifest changing = Parse("[[file]]\nsource = 'big'\ndestination = 'c:\\big'\n");
    int percentSeen = 0;
    try {
        TMemoryStream out;
        pack::BuildInstaller(changing, {}, out,
                             {.jobs = 1, .progress = [&](const pack::TFileEntry&, size_t) -> TShowProgressEvent {
                                  return [&](int32_t&) {
                                      if (percentSeen++ == 0) std::ofstream(dir_ / "big", std::ios::app) << "more";
                                  };
                              }, .chainTarget = 1, .make = {}});
        ADD_FAILURE() << "a file that grew went in";
    } catch (const pack::EManifestError& e) {
        EXPECT_NE(e.Message.find(":1: source: \"" + (dir_ / "big").string() + "\" changed while it was read"),
                  std::string::npos) << e.Message;
    }
}

TEST_F(Vornpack, EveryNumberOfJobsBuildsTheSameInstallerAndFailsAlike) {
    std::string toml;
    const char* methods[] = {"lh5", "lzh", "rle", "non"};
    for (int i = 0; i < 9; ++i) {
        const std::string name = std::to_string(i) + ".dat";
        WriteFile(name, MakeData(kAllKinds[i % 6], 3000 + 7000 * static_cast<size_t>(i), static_cast<uint32_t>(i)));
        toml.append("[[file]]\nsource = '").append(name).append("'\ndestination = 'c:\\").append(name);
        toml.append("'\nmethod = '").append(methods[i % 4]).append("'\n");
    }
    const TManifest m = Parse(toml);
    const Bytes one = Build(m, Hex("4D 5A"), 1);
    for (size_t jobs : {2u, 3u, 16u}) EXPECT_EQ(Build(m, Hex("4D 5A"), jobs), one) << jobs << " jobs";

    // With two bad entries, the first in manifest order is reported.
    WriteFile("locked", WithHeader("NON", 1, 2, 2, Hex("01")));
    const TManifest bad = Parse(toml + "[[file]]\nsource = 'locked'\ndestination = 'c:\\x'\nmethod = 'as-is'\n" +
                               "[[file]]\nsource = 'locked'\ndestination = 'c:\\y'\nmethod = 'as-is'\n");
    for (size_t jobs : {1u, 4u}) {
        try {
            Build(bad, {}, jobs);
            ADD_FAILURE() << "a locked stream went in";
        } catch (const pack::EManifestError& e) {
            EXPECT_NE(e.Message.find(":37: source: a locked stream"), std::string::npos) << e.Message;
        }
    }
    // A prepared stream that would not expand is refused as verify would refuse it.
    WriteFile("damaged", WithHeader("NON", 1, 0x62, 0, Hex("61")));
    try {
        Build(Parse("[[file]]\nsource = 'damaged'\ndestination = 'c:\\x'\nmethod = 'as-is'\n"), {});
        ADD_FAILURE() << "a damaged stream went in";
    } catch (const pack::EManifestError& e) {
        EXPECT_NE(e.Message.find(":1: source: \"" + (dir_ / "damaged").string() + "\" is damaged: "), std::string::npos)
            << e.Message;
    }
}

// A prepared stream of every method the tools write goes in as it is and
// expands back, LZM (a custom-door method) included.
TEST_F(Vornpack, PreparedStreamsOfEveryMethodGoInAsIs) {
    const Bytes data = MakeData(kAllKinds[0], 50000, 3);
    std::string toml;
    for (const tools::TMethodIdentity& method : tools::kMethodTable) {
        TMemoryStream source(data), stream;
        TVornCodec writer;
        method.Write(writer, stream, source, method, method.Levels.Default);
        WriteFile(method.Name, stream.Bytes());
        toml.append("[[file]]\nsource = '").append(method.Name).append("'\ndestination = 'c:\\");
        toml.append(method.Name).append("'\nmethod = 'as-is'\n");
    }
    TMemoryStream installer(Build(Parse(toml), Hex("4D 5A")));
    TVornCodec codec;
    UseCustomMethods(codec);
    size_t expanded = 0;
    pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry& e, TStream& s) {
                                      TMemoryStream out;
                                      codec.ExpandStream(out, s);
                                      EXPECT_EQ(out.Bytes(), data) << e.destination;
                                      ++expanded;
                                  }});
    EXPECT_EQ(expanded, tools::kMethodTable.size());
}

// Chains around other methods, cut by a level and by the chain target: the
// same with any -j, and every link expands in order through one codec.
TEST_F(Vornpack, SolidBuildsAreTheSameWhateverTheJobs) {
    std::string toml = "method = 'lzma'\nlevel = 1\nsolid = true\n";
    std::vector<Bytes> files;
    for (int i = 0; i < 8; ++i) {
        const std::string name = std::to_string(i) + ".dat";
        files.push_back(MakeData(kAllKinds[i % 6], 20000 + 30000 * static_cast<size_t>(i), static_cast<uint32_t>(i)));
        WriteFile(name, files.back());
        toml.append("[[file]]\nsource = '").append(name).append("'\ndestination = 'c:\\").append(name).append("'\n");
        if (i == 3) toml.append("method = 'lh5'\n");
        if (i == 6) toml.append("level = 0\n");
    }
    const Bytes one = Build(Parse(toml), Hex("4D 5A"), 1);
    for (size_t jobs : {2u, 5u}) EXPECT_EQ(Build(Parse(toml), Hex("4D 5A"), jobs), one) << jobs << " jobs";
    // Chains of about 100,000 bytes: the level-1 run of 460,000 (entries 0 to
    // 5 but the lh5 one) is cut at its entries' middles into groups from
    // entries 0, 2, 4 and 5; entry 6 (level 0) and entry 7 start their own.
    const Bytes cut = Build(Parse(toml), Hex("4D 5A"), 2, 100000);
    EXPECT_EQ(Build(Parse(toml), Hex("4D 5A"), 1, 100000), cut);
    TMemoryStream installer(cut);
    TVornCodec codec;
    UseCustomMethods(codec);
    std::vector<int> starts;
    pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry& e, TStream& s) {
                                      if (e.chainOffset == 0u) starts.push_back(static_cast<int>(e.index) - 1);
                                      TMemoryStream out;
                                      codec.ExpandStream(out, s);
                                      EXPECT_EQ(out.Bytes(), files[e.index - 1]) << e.index;
                                  }});
    EXPECT_EQ(starts, (std::vector<int>{0, 2, 4, 5, 6, 7}));
}

TEST_F(Vornpack, PackageBytesFollowTheLayout) {
    // The two entries of the layout's example, with prepared streams of 1,234
    // and 100 bytes taken as they are, behind an image of 0x1C000 bytes.
    const Bytes stream1 = WithHeader("NON", 1213, 0, 0, Bytes(1213, 0x41));
    const Bytes stream2 = WithHeader("NON", 79, 0, 0, Bytes(79, 0x42));
    WriteFile("sample.exe", stream1);
    WriteFile("notes.txt", stream2);
    const TManifest m = Parse(R"(title = "Sample Suite"
file = [
  { source = "sample.exe", destination = '<p>\Sample\sample.exe', method = "as-is", replace = { ask = "sample.exe" }, shortcuts = { desktop = { name = "Sample", ask = true }, programs = { name = "Sample" } } },
  { source = "notes.txt", destination = '<p>\Sample\notes.txt', method = "as-is", run = "at-end" }]
)");
    const Bytes stub(0x1C000, 0xCC);
    auto text = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
    const Bytes parts[] = {stub,    text("Sample Suite|<p>\\Sample\\sample.exe|0?Sample||Sample|||1sample.exe|"),
                           Hex("D2 04 00 00"), stream1, text("<p>\\Sample\\notes.txt|2|||||0|"),
                           Hex("64 00 00 00"), stream2, text("|"), Hex("00 00 00 00 00 00 00 C0 01 00")};  // zeros reach a multiple of 8
    Bytes expected;
    for (const Bytes& part : parts) expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(Build(m, stub), expected);
}

TEST_F(Vornpack, BuiltEntriesReadBackAndAreStoredWhenCompressionDoesNotPay) {
    const Bytes runs = MakeData(DataKind::Runs, 50000);
    WriteFile("runs", runs);
    WriteFile("random", MakeData(DataKind::Random, 3000));
    WriteFile("empty", {});
    std::string toml;
    for (std::string name : {"runs", "random", "empty"})
        toml += "[[file]]\nsource = '" + name + "'\ndestination = 'c:\\" + name + "'\nmethod = 'rle'\n";
    TMemoryStream installer(Build(Parse(toml), Hex("00")));
    std::vector<std::string> methods;
    std::vector<Bytes> contents;
    pack::WalkPackage(installer, {nullptr, [&](const pack::TPackageEntry& e, TStream& s) {
                                      methods.push_back(pack::MethodName(e));
                                      TVornCodec codec;
                                      TMemoryStream out;
                                      codec.ExpandStream(out, s);
                                      contents.push_back(out.Bytes());
                                  }});
    EXPECT_EQ(methods, (std::vector<std::string>{"RLE", "NON", "headerless"})) << "empty: an empty stream";
    ASSERT_EQ(contents.size(), 3u);
    EXPECT_EQ(contents[0], runs);
    EXPECT_TRUE(contents[2].empty());
}

// What the installer could never install, one row per rule, and the waiver.
TEST_F(Vornpack, EachDestinationRuleRefusesWithLineReasonAndNameAndCanBeWaived) {
    WriteFile("a", Hex("61"));
    const auto File = [](const std::string& destination, const std::string& more = "") {
        return "[[file]]\nsource = 'a'\ndestination = \"" + destination + "\"\n" + (more.empty() ? "" : more + "\n");
    };
    const std::string x236(236, 'x');
    // Both sources are named.
    const auto Same = [a = "\"" + (dir_ / "a").string() + "\""](int second, int first) {
        return std::to_string(second) + ": destination: " + a + " (line " + std::to_string(second) +
               ") goes to the same destination as " + a + " (line " + std::to_string(first) + ")";
    };
    const struct {
        std::string toml, error, rule;
    } cases[] = {
        {File("<p>\\\\" + x236), "", ""},  // 259 with C:\Program Files (x86)
        {File("<P>\\\\" + x236 + "y"), "3: destination: is 260 characters long where the folder macros", "length"},
        {File("app\\\\" + std::string(253, 'x')), "3: destination: is 260 characters long", "length"},  // C:\ added
        {File("<w>\\\\<u>\\\\<u>.log"), "3: destination: the installer replaces only the first <u>", "second-stamp"},
        {File("c:\\\\app\\\\a?b.txt"), "3: destination: \"a?b.txt\" holds \"?\", which Windows", "forbidden-character"},
        {File("c:\\\\app\\\\a:b"), "3: destination: \"a:b\" holds \":\"", "forbidden-character"},
        {File("c:\\\\a\\tb"), "3: destination: holds the control character 9", "control-character"},
        {File("c:\\\\App\\\\Con\\\\a.txt"), "3: destination: \"con\" is the device con on Windows", "device-name"},
        {File("<s>\\\\LPT1 .txt"), "3: destination: \"lpt1 .txt\" is the device lpt1", "device-name"},
        {File("c:\\\\console.txt"), "", ""},
        {File("c:\\\\app.\\\\a"), "3: destination: \"app.\" ends in a space or a dot", "trailing-space-or-dot"},
        {File("c:\\\\app \\\\a"), "3: destination: \"app \" ends in a space or a dot", "trailing-space-or-dot"},
        {File("c:/App/a") + File("C:\\\\app\\\\A"), Same(4, 1), "duplicate"},
        // Windows drops a name's trailing dots and spaces, waived or not.
        {File("c:\\\\a.txt") + File("c:\\\\a.txt. ", "no-check = ['trailing-space-or-dot']"), Same(4, 1), "duplicate"},
        {File("c:\\\\sub.\\\\a.txt", "no-check = ['trailing-space-or-dot']") + File("c:\\\\SUB\\\\a.txt"), Same(5, 1),
         "duplicate"},
        {File("c:\\\\a", "run = 'at-end'") + File("c:\\\\b", "run = 'at-end'"),
         "1: run: never runs: the entry at line 5 is also run at the end", "run-at-end"},
        {File("c:\\\\nul", "no-check = ['device-name']"), "", ""},
        {File("<p>/Fwd Tools/sub/readme.txt"), "", ""},
        {File("<p>\\\\Desk Tools\\\\"), "3: destination: names a folder, not a file", "no-file-name"},
        {File("<P>"), "3: destination: names a folder", "no-file-name"},
        {File("*:\\\\evil.txt"), "3: destination: \"*:\" is no drive", "drive-letter"},
        {File("c:\\\\%ProgramFiles%\\\\a.txt"), "3: destination: the installer expands no environment", "environment-variable"},
        {File("c:\\\\100%.txt"), "", ""},
        {File("\\\\\\\\server\\\\share\\\\a.txt"), "3: destination: is a network or device path",
         "network-or-device-path"},
        {File("\\\\\\\\?\\\\c:\\\\a.txt"), "3: destination: is a network", "network-or-device-path"},
        {File("c:a.txt"), "3: destination: \"c:\" without \"\\\" means the drive's current folder",
         "drive-relative"},
        {File("c:\\\\a\\\\\\\\b.txt"), "3: destination: holds an empty name", "dot-or-empty-name"},
        {File("c:\\\\a\\\\..\\\\b.txt"), "3: destination: \"..\" is no name", "dot-or-empty-name"},
        {File("c:\\\\" + std::string(256, 'n')), "3: destination: \"nnnnnnnnnnnnnnnnnnnn...\" is 256 characters",
         "name-length"},
        {File("c:\\\\" + std::string(245, 'f') + "\\\\a"), "", ""},
        {File("c:\\\\" + std::string(246, 'f') + "\\\\a"), "3: destination: its folder is 249 characters long",
         "folder-length"},
        {File("c:\\\\CONIN$"), "3: destination: \"conin$\" is the device conin$", "device-name"},
        {File("c:\\\\conout$.txt"), "3: destination: \"conout$.txt\" is the device", "device-name"},
        {File("c:\\\\com0"), "3: destination: \"com0\" is the device", "device-name"},
        {File("c:\\\\COM\u00B9"), "3: destination: \"com\u00B9\" is the device com\u00B9", "device-name"},
        {File("a.txt") + File("\\\\A.txt"), Same(4, 1), "duplicate"},
        {File("c:\\\\\u00E9") + File("C:\\\\\u00C9"), Same(4, 1), "duplicate"},
        {File("c:\\\\a\\\\\\\\b", "no-check = ['dot-or-empty-name']") + File("c:\\\\a\\\\b"),
         Same(5, 1), "duplicate"},
        {"elevation = 'user'\n" + File("<s>\\\\a.dll"), "4: destination: <s> is a folder only an administrator",
         "needs-admin"},
        {"elevation = 'user'\n" + File("c:\\\\Tools\\\\a.exe"), "", ""},
        {File("c:\\\\a", "no-check = ['devices']"), "4: no-check: no such rule; the rules are length, second-", ""},
        {"elevation = 'root'\n" + File("c:\\\\a"), "1: elevation: must be \"admin\" or \"user\"", ""},
    };
    for (const auto& c : cases) {
        const std::string error = ParseError(c.toml);
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.toml;
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
        const std::string waiver = "(rule " + c.rule + "; no-check = [\"" + c.rule + "\"] in the entry waives it)";
        EXPECT_TRUE(c.rule.empty() || error.ends_with(waiver)) << error;
    }
    EXPECT_EQ(Parse(File("<p>/Fwd Tools/readme.txt")).files[0].destination, "<p>\\Fwd Tools\\readme.txt");
}

// A shortcut's name is a file name in a shell folder.
TEST_F(Vornpack, EachShortcutNameRuleRefusesWithItsRule) {
    WriteFile("a", Hex("61"));
    const struct {
        std::string name, error, rule;
    } cases[] = {
        {"Read me (1)", "", ""},
        {"Desk\\\\Readme", "\"Desk\\Readme\" holds \"\\\"", "forbidden-character"},
        {"Read/Me", "\"Read/Me\" holds \"/\"", "forbidden-character"},
        {"a?b", "\"a?b\" holds \"?\"", "forbidden-character"},
        {"tab\\t", "holds the control character 9", "control-character"},
        {"Readme.", "\"Readme.\" ends in a space or a dot", "trailing-space-or-dot"},
        {"..", "\"..\" is no name", "dot-or-empty-name"},
        {"Aux.Txt", "\"Aux.Txt\" is the device aux", "device-name"},
        {std::string(163, 'n'), "", ""},
        {std::string(164, 'n'), "makes a link path of 260 characters", "length"},
    };
    for (const auto& c : cases) {
        const std::string error = ParseError("[[file]]\nsource = 'a'\ndestination = 'c:\\a'\nshortcuts.startup = { name = \"" +
                                             c.name + "\" }\n");
        const std::string expected = c.error.empty() ? "" : "4: shortcuts.startup.name: " + c.error;
        EXPECT_EQ(error.substr(0, expected.size()), expected) << c.name;
        EXPECT_EQ(error.empty(), expected.empty()) << error;
        EXPECT_TRUE(c.rule.empty() || error.ends_with("(rule " + c.rule + "; no-check = [\"" + c.rule +
                                                      "\"] in the entry waives it)")) << error;
    }
}

// The level is rewritten in place (vornpack_cli_test), in the one slot there must be.
TEST(StubManifest, AStubWithoutExactlyOneLevelSlotIsRefused) {
    const std::string tag = "<requestedExecutionLevel ", admin = "level=\"requireAdministrator\" uiAccess=\"false\"/>";
    const std::string unpadded = tag + "level=\"asInvoker\" uiAccess=\"false\"/>";
    for (const std::string& stub : {"MZ" + admin, tag + admin + tag + admin, unpadded}) {
        std::vector<uint8_t> bytes(stub.begin(), stub.end());
        EXPECT_THROW(pack::SetElevation(bytes, pack::Elevation::User), EVornError) << stub;
    }
}

// Macros become folders; what names no file there is refused, never made
// into a file named for the macro or the drive.
TEST(ExtractPath, MacrosBecomeFoldersAndWhatNamesNoFileIsRefused) {
    EXPECT_EQ(pack::ExtractPath("<P>\\Sample\\App.EXE", "1252"), "program files/sample/app.exe");
    EXPECT_EQ(pack::ExtractPath("<w>\\a.ini", "1252"), "windows/a.ini");
    EXPECT_EQ(pack::ExtractPath("c:\\tmp<u>\\x", "1252"), "c/tmpdate stamp/x");
    EXPECT_EQ(pack::ExtractPath("c:\\caf\xE9", "1252"), "c/caf\xC3\xA9");
    const std::string folder = "it names a folder, not a file";
    const std::pair<std::string, std::string> refused[] = {
        {"d:\\..\\..\\etc\\passwd", "\"..\" is no name extract can place"}, {"..", "\"..\" is no name extract can place"},
        {".", "\".\" is no name extract can place"}, {"C:", folder}, {"<p>\\", folder}, {"<w>", folder}, {"c:\\dir\\", folder},
    };
    for (const auto& [destination, why] : refused) {
        try {
            pack::ExtractPath(destination, "1252");
            ADD_FAILURE() << destination << " was accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), why) << destination;
        }
    }
}

// The catalog manifest passes texts through this: what a version resource's unpaired
// surrogate becomes, and what else no YAML reader takes.
TEST(ValidUtf8, IllFormedBytesBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"}, {"\xED\xA0\x80", r + r + r},
        {"\xED\x9F\xBFx", "\xED\x9F\xBFx"}, {"\xC0\xAF", r + r}, {"\xE2\x82", r + r}, {"\xF4\x90\x80\x80", r + r + r + r},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(tools::ValidUtf8(in), out) << in;
}

}  // namespace
}  // namespace vorn::test
