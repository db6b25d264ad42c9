// The remover against the scripted platform: which recorded files go and
// which stay, its registry entry, the folders it empties, and its record.
#include <gtest/gtest.h>

#include <map>

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

TEST(UninstallRecord, RoundTripAndDamage) {
    const TUninstallRecord record{"Vorn Sample", "Vorn Sample Suite", "1.2.3.4", "Example Ltd.", true,
                                  {{"<p>\\Vorn Sample\\a b.txt", 12, Sha("x"), Removal::Auto},
                                   {"<s>\\vorn.dll", 0, Sha(""), Removal::Always},
                                   {"c:\\data\\<u>.log", 3, Sha("y"), Removal::Never}},
                                  {{"Start Menu", "Vorn Sample"}}};
    const std::string text = RecordText(record);
    EXPECT_EQ(ParseRecord(text), record);
    EXPECT_EQ(text.substr(0, text.find('\n', 17)), "vorn-uninstall|1\nid|Vorn Sample");
    for (const std::string& damaged :
         {text.substr(0, text.size() - 1), std::string("vorn-uninstall|2\nid|x\n"), text + "file|auto|12|" + Sha("x") + "|\n",
          text + "file|maybe|1|" + Sha("x") + "|c:\\a\n", text + "file|auto|-1|" + Sha("x") + "|c:\\a\n",
          text + "file|auto|1|ABC|c:\\a\n", text + "color|red\n", std::string("vorn-uninstall|1\nname|x\n")})
        EXPECT_FALSE(ParseRecord(damaged)) << damaged;
}

TEST(InstallDate, DayNumbersAndBack) {
    EXPECT_EQ(InstallDateText(46361), "20261205");
    EXPECT_EQ(InstallDateText(36526), "20000101");
    EXPECT_EQ(InstallDateDay("20261205"), 46361);
    for (const char* text : {"", "2026125", "20261305", "2026120x"}) EXPECT_FALSE(InstallDateDay(text)) << text;
}

// The registry entry and folders of the removals, in memory.
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
        std::error_code error;
        return std::filesystem::is_empty(platform_.HostPath(path), error) &&
               std::filesystem::remove(platform_.HostPath(path), error);
    }
    void RemoveAfterExit(const std::string& self) override { HandedOver.push_back(self); }

    static std::string Name(RegistryRoot root, const std::string& key) {
        return (root == RegistryRoot::LocalMachine ? "HKLM\\" : "HKCU\\") + key;
    }
    std::map<std::string, std::map<std::string, std::string>> Keys;
    std::vector<std::string> HandedOver;
    bool FailWrites = false;

private:
    test::TScriptedPlatform& platform_;
};

constexpr const char* kSelf = "C:\\Vorn Apps\\Vorn Sample\\uninstall.exe";
constexpr const char* kRecord = "c:\\vorn apps\\vorn sample\\uninstall.dat";
const std::string kEntry = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorn Sample";

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
        record.links.push_back({"Desktop", "Vorn Sample"});
        platform.PutFile("C:\\Users\\Me\\Desktop\\Vorn Sample.lnk", AsBytes("link"));
        WriteRecord();
    }
    void Install(const std::string& destination, const std::string& content, Removal removal = Removal::Auto) {
        record.files.push_back({destination, static_cast<int64_t>(content.size()), Sha(content), removal});
        const TSystemFolders folders = LoadSystemFolders(platform);
        platform.PutFile(ExpandFolderMacros(destination, folders, platform.Today), AsBytes(content));
    }
    void WriteRecord() { platform.PutFile(kRecord, AsBytes(RecordText(record))); }
    bool Has(const std::string& path) const { return std::filesystem::exists(platform.HostPath(path)); }

    test::TScriptedPlatform platform;
    TScriptedServices services{platform};
    TUninstallRecord record{"Vorn Sample", "Vorn Sample Suite", "1.2", "Example Ltd.", false, {}, {}};
    TRemover remover{platform, services};
};

TEST_F(Remover, DecidesEachFileByPlaceContentAndLock) {
    const TSystemFolders folders = LoadSystemFolders(platform);
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
        {"c:\\windows\\fonts\\f.ttf", "abc", Removal::Always, Outcome::Removed},
    };
    for (const auto& [path, content, removal, outcome] : cases) {
        const TRecordedFile file{path, static_cast<int64_t>(content.size()), Sha(content), removal};
        EXPECT_EQ(RemoveRecordedFile(platform, file, path, folders).outcome, outcome) << path << " " << content;
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
    EXPECT_TRUE(Has("c:\\windows\\system\\vorn.dll"));  // shared, so kept
    EXPECT_FALSE(Has("c:\\users\\me\\desktop\\vorn sample.lnk"));
    EXPECT_FALSE(Has(kRecord));
    EXPECT_FALSE(services.Keys.count(kEntry));
    EXPECT_EQ(services.HandedOver, std::vector<std::string>{kSelf});
    ASSERT_EQ(platform.Boxes.size(), 2u);
    EXPECT_EQ(platform.Boxes[1],
              "Vorn Sample Suite|ok|Vorn Sample Suite was removed.\r\rThese files were kept:"
              "\rc:\\vorn apps\\vorn sample\\app.exe (changed since it was installed)"
              "\rc:\\windows\\system\\vorn.dll (in the Windows folder, where other programs may use it)");

    // The copy left behind finishes: the remover and the folders left empty, never Program Files.
    platform.RemoveFile("c:\\vorn apps\\vorn sample\\app.exe");
    remover.Finish(kSelf);
    EXPECT_FALSE(Has("c:\\vorn apps\\vorn sample"));
    EXPECT_TRUE(Has("c:\\vorn apps"));
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
    // Once the file is free, removing again finishes the work.
    platform.LockedFiles.clear();
    EXPECT_EQ(remover.Remove(true), kRemoverKeptFiles);
    EXPECT_FALSE(services.Keys.count(kEntry));
}

TEST_F(Remover, AnsweringNoOrADamagedRecordChangesNothing) {
    platform.Answers = {kAnswerNo};
    EXPECT_EQ(remover.Remove(false), kRemoverCancelled);
    EXPECT_TRUE(Has("c:\\vorn apps\\vorn sample\\app.exe"));
    platform.PutFile(kRecord, AsBytes("vorn-uninstall|1\nid|Vorn Sample\nfile|auto|x"));
    EXPECT_EQ(remover.Remove(true), kRemoverNoRecord);
    EXPECT_EQ(remover.Register(), kRemoverNoRecord);
    EXPECT_TRUE(Has("c:\\vorn apps\\vorn sample\\docs\\readme.txt"));
    EXPECT_EQ(platform.Boxes.size(), 2u);  // the question, then the damaged record on registering
}

}  // namespace
}  // namespace vorn::setup
