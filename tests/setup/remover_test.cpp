// The remover against the scripted platform: which recorded files go and
// which stay, its registry entry, the folders it empties, and its record.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "setup/remover/remover.h"
#include "setup/remover/sha256.h"
#include "tests/setup/scripted_platform.h"

namespace vorn::setup {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Sha(const std::string& text, Sha256Code code = Sha256Code::Fastest) {
    TSha256 sha(code);
    sha.Add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return DigestText(sha.Finish());
}

// Where the processor has SHA instructions, Fastest runs them.
TEST(Sha256, KnownDigestsWhateverTheChunksAndTheCode) {
    for (const Sha256Code code : {Sha256Code::Fastest, Sha256Code::Portable}) {
        EXPECT_EQ(Sha("", code), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Sha("abc", code), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        // 56 bytes: the length no longer fits the first block's end.
        EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", code),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        const std::string million(1000000, 'a');
        TSha256 sha(code);
        for (size_t at = 0, step = 1; at < million.size(); at += step, step = step * 3 % 997 + 1)
            sha.Add(reinterpret_cast<const uint8_t*>(million.data()) + at, std::min(step, million.size() - at));
        EXPECT_EQ(DigestText(sha.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
}

TEST(UninstallRecord, RoundTripDamageAndEarlierBuilds) {
    const TUninstallRecord record{
        "Vorn Sample", "Vorn Sample Suite", "1.2.3.4", "Example Ltd.", true, "<p>\\Vorn Sample", "20261205",
        {{"<p>\\Vorn Sample\\a b.txt", 12, Sha("x"), Removal::Auto, Sharing::Own},
         {"<s>\\vorn.dll", 0, Sha(""), Removal::Always, Sharing::Counted},
         {"c:\\data\\<u>.log", 3, Sha("y"), Removal::Never, Sharing::Shared}},
        {{"Start Menu", "Vorn Sample", ""}, {"Desktop", "Vorn", "c:\\users\\me\\desktop\\vorn.lnk"}}};
    const std::string text = RecordText(record);
    EXPECT_EQ(ParseRecord(text), record);
    EXPECT_EQ(text.substr(0, text.find('\n', 17)), "vorn-uninstall|2\nid|Vorn Sample");
    const std::string file = "file|auto|own|1|" + Sha("x") + "|";
    for (const std::string& damaged :
         {text.substr(0, text.size() - 1), std::string("vorn-uninstall|3\nid|x\n"), text + file + "\n",
          text + "file|maybe|own|1|" + Sha("x") + "|c:\\a\n", text + "file|auto|ours|1|" + Sha("x") + "|c:\\a\n",
          text + "file|auto|own|-1|" + Sha("x") + "|c:\\a\n", text + "file|auto|own|1|ABC|c:\\a\n",
          text + "file|auto|own|2147483648|" + Sha("x") + "|c:\\a\n",
          text + "file|auto|own|999999999999999999|" + Sha("x") + "|c:\\a\n", text + "installed|2026\n",
          text + "color|red\n", std::string("vorn-uninstall|2\nname|x\n")})
        EXPECT_FALSE(ParseRecord(damaged)) << damaged;
    // A record of an earlier build: no sharing field, folder or installed line.
    const auto earlier = ParseRecord("vorn-uninstall|1\nid|Old\nfile|never|3|" + Sha("y") + "|<p>\\a\nlink|Desktop|A\n");
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->files, (std::vector<TRecordedFile>{{"<p>\\a", 3, Sha("y"), Removal::Never, Sharing::Own}}));
    EXPECT_FALSE(ParseRecord("vorn-uninstall|1\nid|Old\n" + file + "c:\\a\n"));
    EXPECT_FALSE(ParseRecord("vorn-uninstall|1\nid|Old\ninstalled|20261205\n"));
}

TEST(InstallDate, DayNumbersAndBack) {
    EXPECT_EQ(InstallDateText(46361), "20261205");
    EXPECT_EQ(InstallDateText(36526), "20000101");
    EXPECT_EQ(InstallDateDay("20261205"), 46361);
    for (const char* text : {"", "2026125", "20261305", "2026120x"}) EXPECT_FALSE(InstallDateDay(text)) << text;
}

// Windows' resolution of a path, as far as the double goes: prefixes, "/",
// the current folder for relative and drive-relative paths, "." and "..",
// a folder name's trailing dot and a file name's trailing dots and spaces,
// case. No short names, links or shares.
std::string ResolveLikeWindows(std::string path, const std::string& current) {
    std::replace(path.begin(), path.end(), '/', '\\');
    for (const char* prefix : {"\\\\?\\", "\\\\.\\"})
        if (path.starts_with(prefix)) {
            path = path.substr(4);
            if (path.size() < 2 || path[1] != ':') return "";
        }
    if (path.size() >= 2 && path[1] == ':' && (path.size() == 2 || path[2] != '\\'))
        path = current + "\\" + path.substr(2);
    else if (path.starts_with("\\"))
        path = current.substr(0, 2) + path;
    else if (path.find(':') == std::string::npos)
        path = current + "\\" + path;
    std::vector<std::string> parts, names;
    std::stringstream rest(path.substr(3));
    for (std::string name; std::getline(rest, name, '\\');) parts.push_back(name);
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string name = parts[i];
        if (name == ".." && !names.empty()) names.pop_back();
        if (name == "." || name == "..") continue;
        if (i + 1 < parts.size() && name.ends_with('.')) name.pop_back();
        while (i + 1 == parts.size() && (name.ends_with('.') || name.ends_with(' '))) name.pop_back();
        if (!name.empty()) names.push_back(name);
    }
    std::string canonical = path.substr(0, 3);
    for (const std::string& name : names) canonical += (canonical.size() > 3 ? "\\" : "") + name;
    return Lowercase(canonical);
}

class TScriptedRemovableFile : public TRemovableFile {
public:
    TScriptedRemovableFile(std::string canonical, test::TScriptedPlatform& platform)
        : canonical_(std::move(canonical)), platform_(platform), content_(platform.OpenRead(canonical_)) {}
    const std::string& Canonical() const override { return canonical_; }
    TStream& Content() override { return *content_; }
    bool Remove() override { return platform_.RemoveFile(canonical_); }

private:
    std::string canonical_;
    test::TScriptedPlatform& platform_;
    std::unique_ptr<TStream> content_;
};

// The registry entry, folders and shortcuts of the removals, in memory.
class TScriptedServices : public TRemoverServices {
public:
    explicit TScriptedServices(test::TScriptedPlatform& platform) : platform_(platform) {}
    bool WriteKey(RegistryRoot root, const std::string& key, const std::vector<TRegistryValue>& values) override {
        if (FailWrites) return false;
        auto& entry = Keys[Name(root, key)];
        entry.clear();
        for (const TRegistryValue& value : values)
            entry[value.name] = value.number ? "#" + std::to_string(*value.number) : value.text;
        return true;
    }
    bool DeleteKey(RegistryRoot root, const std::string& key) override {
        Keys.erase(Name(root, key));
        return true;
    }
    bool RemoveFolder(const std::string& path) override {
        Tried.push_back(path);
        std::error_code error;
        return std::filesystem::is_empty(platform_.HostPath(path), error) &&
               std::filesystem::remove(platform_.HostPath(path), error);
    }
    // As Windows resolves it, unless a plain call would read the result otherwise.
    std::string CanonicalPath(const std::string& path) override {
        const std::string canonical = ResolveLikeWindows(path, Current);
        return ResolveLikeWindows(canonical, Current) == canonical ? canonical : "";
    }
    // As Windows opens it, save that a locked file will not open to be deleted.
    std::unique_ptr<TRemovableFile> OpenToRemove(const std::string& path) override {
        const std::string canonical = CanonicalPath(path);
        if (canonical.empty() || !platform_.HasFile(canonical) || platform_.LockedFiles.count(canonical)) return nullptr;
        return std::make_unique<TScriptedRemovableFile>(canonical, platform_);
    }
    std::vector<std::string> ProtectedFolders() override {
        return {"C:\\Users\\Me", "C:\\Users\\Me\\Desktop", "C:\\ProgramData", "C:\\Windows\\System32"};
    }
    std::string WindowsFolder() override { return "C:\\Windows"; }
    std::string LinkTarget(const std::string& linkPath) override { return platform_.FileText(linkPath); }
    void RemoveAfterExit(const std::string& self) override { HandedOver.push_back(self); }
    uint32_t SharedCount(const std::string& path) override { return Counts.count(path) ? Counts[path] : 0; }
    bool SetSharedCount(const std::string& path, uint32_t count) override {
        if (count == 0) Counts.erase(path);
        else Counts[path] = count;
        return true;
    }

    static std::string Name(RegistryRoot root, const std::string& key) {
        return (root == RegistryRoot::LocalMachine ? "HKLM\\" : "HKCU\\") + key;
    }
    std::map<std::string, std::map<std::string, std::string>> Keys;
    std::vector<std::string> HandedOver;
    std::map<std::string, uint32_t> Counts;  // SharedDLLs, by canonical path
    std::vector<std::string> Tried;  // folders RemoveFolder was asked to remove
    std::string Current = "C:\\Windows";
    bool FailWrites = false;

private:
    test::TScriptedPlatform& platform_;
};

constexpr const char* kSelf = "C:\\Vorn Apps\\Vorn Sample\\uninstall.exe";
constexpr const char* kRecord = "c:\\vorn apps\\vorn sample\\uninstall.dat";
constexpr const char* kPackageRecord = "c:\\vorn apps\\vorn sample\\uninstall.new";
constexpr const char* kCopy = "C:\\Users\\Me\\Temp\\vorn-remove-1\\uninstall.exe";
const std::string kEntry = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorn Sample";
constexpr const char* kDll = "c:\\windows\\system\\vorn.dll";

// A product installed as its package brings it: three files, one shared in
// the system folder, a shortcut, and the record beside the remover.
class Remover : public testing::Test {
protected:
    void SetUp() override {
        platform.Module = kSelf;
        platform.SetShellFolders();
        platform.SetValue(RegistryRoot::LocalMachine, "\\Software\\Microsoft\\Windows\\CurrentVersion", "",
                          "ProgramFilesDir", "C:\\Vorn Apps");
        platform.PutFile(kSelf, AsBytes("remover program"));
        Install("<p>\\Vorn Sample\\app.exe", "the program");
        Install("<p>\\Vorn Sample\\docs\\readme.txt", "read me");
        Install("<s>\\vorn.dll", "shared library");
        Link("Desktop", "Vorn Sample", "c:\\vorn apps\\VORN SAMPLE\\app.exe");
        WriteRecord();
    }
    void Install(const std::string& destination, const std::string& content, Removal removal = Removal::Auto) {
        record.files.push_back({destination, static_cast<int64_t>(content.size()), Sha(content), removal});
        Put(destination, content);
    }
    void Put(const std::string& destination, const std::string& content) {
        platform.PutFile(ExpandFolderMacros(destination, LoadSystemFolders(platform), platform.Today), AsBytes(content));
    }
    void Link(const std::string& folder, const std::string& name, const std::string& target) {
        record.links.push_back({folder, name, ""});
        platform.PutFile("C:\\Users\\Me\\" + folder + "\\" + name + ".lnk", AsBytes(target));
    }
    // The record as a package brings it, for the remover to register.
    void WriteRecord() { platform.PutFile(kPackageRecord, AsBytes(RecordText(record))); }
    bool Has(const std::string& path) const { return std::filesystem::exists(platform.HostPath(path)); }

    test::TScriptedPlatform platform;
    TScriptedServices services{platform};
    TUninstallRecord record{"Vorn Sample", "Vorn Sample Suite", "1.2", "Example Ltd.", false, "<p>\\Vorn Sample", "",
                            {}, {}};
    TRemover remover{platform, services};
};

TEST_F(Remover, DecidesEachFileByPlaceContentAndLock) {
    const TPathGuard guard(services, LoadSystemFolders(platform));
    platform.PutFile("c:\\data\\same.txt", AsBytes("abc"));
    platform.PutFile("c:\\windows\\fonts\\f.ttf", AsBytes("abc"));
    platform.LockedFiles.insert("c:\\data\\locked.txt");
    platform.PutFile("c:\\data\\locked.txt", AsBytes("abc"));
    const std::tuple<const char*, std::string, Removal, Outcome> cases[] = {
        {"c:\\data\\same.txt", "abc", Removal::Auto, Outcome::Removed},
        {"c:\\data\\same.txt", "abd", Removal::Auto, Outcome::Missing},  // removed by the case before
        {"c:\\data\\locked.txt", "abd", Removal::Auto, Outcome::Changed},  // same size, other bytes
        {"c:\\data\\locked.txt", "abcd", Removal::Auto, Outcome::Changed},
        {"c:\\data\\locked.txt", "abc", Removal::Auto, Outcome::Locked},
        {"c:\\data\\locked.txt", "abc", Removal::Never, Outcome::Kept},
        {"c:\\windows\\fonts\\f.ttf", "abc", Removal::Auto, Outcome::Shared},
        {"c:\\vorn\\..\\windows.\\fonts\\f.ttf", "abc", Removal::Auto, Outcome::Shared},
        {"\\\\?\\C:\\WINDOWS\\fonts\\f.ttf", "abc", Removal::Auto, Outcome::Shared},
        {"c:\\windows\\fonts\\f.ttf", "abc", Removal::Always, Outcome::Removed},
        {"\\\\.\\PhysicalDrive0", "abc", Removal::Always, Outcome::Unchecked},
    };
    for (const auto& [path, content, removal, outcome] : cases) {
        const TRecordedFile file{path, static_cast<int64_t>(content.size()), Sha(content), removal};
        std::vector<std::string> gone;
        EXPECT_EQ(RemoveRecordedFile(platform, guard, file, path, gone).outcome, outcome) << path << " " << content;
    }
}

TEST_F(Remover, RegistersUnderTheMachineOrTheUser) {
    EXPECT_EQ(remover.Register(), kRemoverDone);
    const std::string quoted = "\"C:\\Vorn Apps\\Vorn Sample\\uninstall.exe\" /uninstall";
    const std::map<std::string, std::string> expected = {
        {"DisplayName", "Vorn Sample Suite"}, {"DisplayVersion", "1.2"}, {"Publisher", "Example Ltd."},
        {"DisplayIcon", kSelf}, {"InstallLocation", "C:\\Vorn Apps\\Vorn Sample"}, {"UninstallString", quoted},
        {"QuietUninstallString", quoted + " /quiet"}, {"EstimatedSize", "#1"}, {"NoModify", "#1"},
        {"NoRepair", "#1"}, {"InstallDate", "20261205"}};
    EXPECT_EQ(services.Keys[kEntry], expected);
    EXPECT_TRUE(platform.Boxes.empty());
    // The record the package brought is now the product's, every path resolved,
    // and the file in the system folder is counted among the machine's shared ones.
    EXPECT_FALSE(Has(kPackageRecord));
    const auto installed = ParseRecord(platform.FileText(kRecord));
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->files[1].destination, "c:\\vorn apps\\vorn sample\\docs\\readme.txt");
    EXPECT_EQ(installed->links[0].path, "C:\\Users\\Me\\Desktop\\Vorn Sample.lnk");
    EXPECT_EQ(services.Counts, (std::map<std::string, uint32_t>{{kDll, 1}}));
    EXPECT_EQ(remover.Register(), kRemoverDone);  // again: nothing counted twice
    EXPECT_EQ(services.Counts[kDll], 1u);

    record.perUser = true;
    WriteRecord();
    services.FailWrites = true;
    EXPECT_EQ(remover.Register(), kRemoverIncomplete);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_NE(platform.Boxes[0].find("HKEY_CURRENT_USER\\Software"), std::string::npos) << platform.Boxes[0];
}

TEST_F(Remover, RemovesWhatIsUnchangedAndNamesWhatItKeeps) {
    ASSERT_EQ(remover.Register(), kRemoverDone);
    platform.PutFile("c:\\vorn apps\\vorn sample\\app.exe", AsBytes("the program, patched by the user"));
    platform.Answers = {kAnswerYes};
    EXPECT_EQ(remover.Remove(false), kRemoverKeptFiles);
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample\\docs"));  // emptied, so removed
    EXPECT_TRUE(Has("c:\\vorn apps\\vorn sample\\app.exe"));
    EXPECT_FALSE(Has(kDll));  // no other program counts it
    EXPECT_TRUE(services.Counts.empty());
    EXPECT_FALSE(Has("c:\\users\\me\\desktop\\vorn sample.lnk"));
    EXPECT_FALSE(Has(kRecord));
    EXPECT_FALSE(services.Keys.count(kEntry));
    EXPECT_EQ(services.HandedOver, std::vector<std::string>{kSelf});
    ASSERT_EQ(platform.Boxes.size(), 2u);
    EXPECT_EQ(platform.Boxes[1],
              "Vorn Sample Suite|ok|Vorn Sample Suite was removed.\r\rThese files were kept:"
              "\rc:\\vorn apps\\vorn sample\\app.exe (changed since it was installed)");

    // The copy left behind finishes: the remover and the folders left empty,
    // never trying Program Files.
    platform.RemoveFile("c:\\vorn apps\\vorn sample\\app.exe");
    platform.Module = kCopy;
    platform.PutFile(kCopy, AsBytes("remover program"));
    EXPECT_EQ(remover.Finish(kSelf), kRemoverDone);
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample"));
    EXPECT_TRUE(Has("c:\\vorn apps"));
    EXPECT_EQ(std::count(services.Tried.begin(), services.Tried.end(), "c:\\vorn apps"), 0);
}

TEST_F(Remover, FinishDeletesNothingButAFinishedRemoverThatIsItsTwin) {
    platform.Module = kCopy;
    platform.PutFile(kCopy, AsBytes("remover program"));
    platform.PutFile("c:\\data\\victim.txt", AsBytes("remover program"));
    platform.PutFile("c:\\other\\uninstall.exe", AsBytes("another remover"));
    for (const char* path : {"c:\\data\\victim.txt",      // the same bytes, but no remover
                             "\\\\?\\c:\\data\\victim.txt",
                             kSelf,                        // its record is still there
                             "c:\\other\\uninstall.exe",   // another program
                             kCopy,                        // itself
                             "c:\\nowhere\\uninstall.exe"})
        EXPECT_EQ(remover.Finish(path), kRemoverRefused) << path;
    EXPECT_TRUE(Has("c:\\data\\victim.txt") && Has(kSelf) && Has("c:\\other\\uninstall.exe") && Has(kCopy));
    EXPECT_TRUE(services.Tried.empty());
}

// A shortcut of the recorded name goes only while it points at a recorded file.
TEST_F(Remover, KeepsAShortcutThatPointsElsewhere) {
    ASSERT_EQ(remover.Register(), kRemoverDone);
    platform.PutFile("C:\\Users\\Me\\Desktop\\Vorn Sample.lnk", AsBytes("c:\\tools\\other.exe"));
    EXPECT_EQ(remover.Remove(true), kRemoverKeptFiles);
    EXPECT_TRUE(Has("c:\\users\\me\\desktop\\vorn sample.lnk"));
}

// Version 1, then version 2 over it: every kind of file of either version,
// as the second installer left the disk, and what its remover makes of it.
TEST_F(Remover, AnUpgradeSettlesEveryFileOfBothVersions) {
    Install("<p>\\Vorn Sample\\busy.exe", "busy 1");
    Install("<p>\\Vorn Sample\\old\\gone.txt", "gone");
    Install("<p>\\Vorn Sample\\edited.txt", "edited");
    Install("<p>\\Vorn Sample\\locked.txt", "locked");
    Install("<s>\\old.dll", "old library");
    Link("Start Menu", "Old Notes", "c:\\vorn apps\\vorn sample\\old\\gone.txt");
    WriteRecord();
    ASSERT_EQ(remover.Register(), kRemoverDone);

    record.version = "2.0";
    record.files.clear();
    record.links.resize(1);  // the desktop shortcut stays, the Start menu's goes
    Install("<p>\\Vorn Sample\\app.exe", "the program, version 2");  // replaced
    Install("<p>\\Vorn Sample\\docs\\readme.txt", "read me");      // the same
    Install("<s>\\vorn.dll", "shared library");                     // counted once
    Install("<p>\\Vorn Sample\\busy.exe", "busy 2");
    Put("<p>\\Vorn Sample\\busy.exe", "busy 1");                   // in use, so not replaced
    Install("<p>\\Vorn Sample\\new.txt", "new");
    Put("<p>\\Vorn Sample\\edited.txt", "edited by the user");     // dropped, changed
    platform.LockedFiles.insert("c:\\vorn apps\\vorn sample\\locked.txt");  // dropped, locked
    WriteRecord();
    EXPECT_EQ(remover.Register(), kRemoverIncomplete);
    EXPECT_EQ(services.Keys[kEntry]["InstallIncomplete"], "#1");
    EXPECT_EQ(services.Keys[kEntry]["DisplayVersion"], "2.0");
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample\\old"));  // dropped unchanged, and its folder emptied
    EXPECT_FALSE(Has("c:\\windows\\system\\old.dll"));      // dropped, its count given up
    EXPECT_EQ(services.Counts, (std::map<std::string, uint32_t>{{kDll, 1}}));
    EXPECT_FALSE(Has("c:\\users\\me\\start menu\\old notes.lnk"));
    EXPECT_TRUE(Has("c:\\users\\me\\desktop\\vorn sample.lnk"));
    std::map<std::string, std::string> lines;  // the record's digests by file name
    const auto installed = ParseRecord(platform.FileText(kRecord));
    ASSERT_TRUE(installed);
    for (const TRecordedFile& file : installed->files)
        lines[file.destination.substr(file.destination.rfind('\\') + 1)] = file.digest;
    EXPECT_EQ(lines, (std::map<std::string, std::string>{
                         {"app.exe", Sha("the program, version 2")}, {"readme.txt", Sha("read me")},
                         {"vorn.dll", Sha("shared library")}, {"busy.exe", Sha("busy 1")}, {"new.txt", Sha("new")},
                         {"edited.txt", Sha("edited")}, {"locked.txt", Sha("locked")}}));

    // Removing afterwards leaves nothing but what the user changed.
    platform.LockedFiles.clear();
    EXPECT_EQ(remover.Remove(true), kRemoverKeptFiles);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(platform.HostPath("c:\\vorn apps")))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"edited.txt", "uninstall.exe", "vorn sample"}));
    EXPECT_TRUE(services.Counts.empty());
}

// Two products install one library into the system folder: it stays until
// the last of them goes.
TEST_F(Remover, ASharedFileGoesWithTheLastProductThatCountsIt) {
    ASSERT_EQ(remover.Register(), kRemoverDone);
    const std::string other = "C:\\Vorn Apps\\Other\\uninstall.exe";
    platform.Module = other;
    platform.PutFile(other, AsBytes("remover program"));
    const TUninstallRecord second{"Other", "Other", "1", "", false, "<p>\\Other", "",
                                  {{"<s>\\vorn.dll", 14, Sha("shared library")}}, {}};
    platform.PutFile("c:\\vorn apps\\other\\uninstall.new", AsBytes(RecordText(second)));
    ASSERT_EQ(remover.Register(), kRemoverDone);
    EXPECT_EQ(services.Counts[kDll], 2u);
    EXPECT_EQ(remover.Remove(true), kRemoverKeptFiles);  // other programs still use it
    EXPECT_TRUE(Has(kDll));
    platform.Module = kSelf;
    EXPECT_EQ(remover.Remove(true), kRemoverDone);
    EXPECT_FALSE(Has(kDll));
    EXPECT_TRUE(services.Counts.empty());
}

// Removal reads the paths registration resolved: a later day (a date
// stamp) or a shell folder moved since cannot leave a file behind.
TEST_F(Remover, RemovesWhatWasRegisteredWhateverTheDayAndTheFolders) {
    Install("<p>\\Vorn Sample\\<u>.log", "stamped");
    WriteRecord();
    ASSERT_EQ(remover.Register(), kRemoverDone);
    platform.Today += 1;
    platform.SetValue(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                      "Shell Folders", "Desktop", std::string("D:\\Moved"));
    EXPECT_EQ(remover.Remove(true), kRemoverDone);
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample\\" + DateStamp(platform.Today - 1) + ".log"));
    EXPECT_FALSE(Has("c:\\users\\me\\desktop\\vorn sample.lnk"));
}

// Reads tests/data/path_spellings.txt: each spelling's canonical form and verdict.
TEST(PathGuard, JudgesEverySpellingAsWindowsResolvesIt) {
    test::TScriptedPlatform platform;
    TScriptedServices services(platform);
    const TPathGuard guard(services, LoadSystemFolders(platform));
    std::ifstream table(std::string(VORN_TEST_DATA) + "/path_spellings.txt");
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        std::string spelling, canonical, verdict;
        std::getline(fields, spelling, '\t');
        std::getline(fields, canonical, '\t');
        std::getline(fields, verdict, '\t');
        const std::string found = guard.Canonical(spelling);
        const char* judged = found.empty()                  ? "refused"
                             : guard.IsProtected(found)     ? "protected"
                             : guard.InWindowsFolder(found) ? "windows"
                                                            : "free";
        EXPECT_EQ(found, canonical) << spelling;
        EXPECT_EQ(judged, verdict) << spelling;
        ++rows;
    }
    EXPECT_GE(rows, 20);
}

TEST_F(Remover, ALockedFileKeepsTheEntryTheRecordAndTheRemover) {
    ASSERT_EQ(remover.Register(), kRemoverDone);
    platform.LockedFiles.insert("c:\\vorn apps\\vorn sample\\docs\\readme.txt");
    EXPECT_EQ(remover.Remove(true), kRemoverIncomplete);
    EXPECT_TRUE(platform.Boxes.empty());
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample\\app.exe"));
    EXPECT_TRUE(Has(kRecord));
    EXPECT_TRUE(services.Keys.count(kEntry));
    EXPECT_TRUE(services.HandedOver.empty());
    // Once the file is free, removing again finishes the work, and gives up
    // no count twice.
    services.Counts[kDll] = 1;
    platform.LockedFiles.clear();
    EXPECT_EQ(remover.Remove(true), kRemoverDone);
    EXPECT_EQ(services.Counts[kDll], 1u);
    EXPECT_FALSE(services.Keys.count(kEntry));
}

TEST_F(Remover, AnsweringNoOrADamagedRecordChangesNothing) {
    ASSERT_EQ(remover.Register(), kRemoverDone);
    platform.Answers = {kAnswerNo};
    EXPECT_EQ(remover.Remove(false), kRemoverCancelled);
    EXPECT_TRUE(Has("c:\\vorn apps\\vorn sample\\app.exe"));
    platform.PutFile(kRecord, AsBytes("vorn-uninstall|2\nid|Vorn Sample\nfile|auto|x"));
    EXPECT_EQ(remover.Remove(true), kRemoverNoRecord);
    EXPECT_EQ(remover.Register(), kRemoverNoRecord);
    EXPECT_TRUE(Has("c:\\vorn apps\\vorn sample\\docs\\readme.txt"));
    EXPECT_EQ(platform.Boxes.size(), 2u);  // the question, then the damaged record on registering
}

}  // namespace
}  // namespace vorn::setup
