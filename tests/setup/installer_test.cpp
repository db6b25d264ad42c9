// The install driver end to end against the scripted platform: questions,
// boxes, log lines, summary texts, files, links and exit codes.
#include <gtest/gtest.h>

#include "compress/vorn_header.h"
#include "setup/failure_report.h"
#include "setup/installer.h"
#include "tests/setup/package_builder.h"
#include "tests/setup/scripted_platform.h"

namespace vorn::setup {
namespace {

using namespace std::string_literals;
using test::AsBytes;
using test::Bytes;
using test::TestEntry;
using test::TestPackage;
using Lines = std::vector<std::string>;

constexpr const char* kLog = "c:\\downloads\\sample.log";
constexpr const char* kTemp = "c:\\downloads\\sample.tmp";
const std::string kStart = "Program: \"c:\\downloads\\sample.exe\" started on 12/5/2026 at 3:04:05 PM";
const std::string kSeeLog = "For details see the log file: c:\\downloads\\sample.log";
const std::string kNoErrors = "\r\n\r\n\r\nCompleted with NO errors\r\n";
const std::string kFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";

TestEntry Entry(const std::string& destination, const std::string& content, char runMode = '0',
                const std::string& replaceRule = "") {
    return {destination, runMode, {}, replaceRule, test::StoredStream(content)};
}

class Installer : public testing::Test {
protected:
    int Install(const TestPackage& package) {
        return InstallRaw(test::InstallerBytes(AsBytes("program image"), package));
    }
    int InstallRaw(const Bytes& installer) {
        platform.PutFile(platform.Module, installer);
        return TInstaller(platform).Run();
    }
    // The log as lines; every line ends in CR LF.
    Lines Log() const {
        Lines lines;
        std::string text = platform.FileText(kLog);
        for (size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
            lines.push_back(text.substr(0, end));
        EXPECT_EQ(text, "") << "a line without CR LF";
        return lines;
    }

    void TearDown() override {
        EXPECT_TRUE(platform.Unanswered == 0 && platform.Answers.empty()) << "other questions than scripted";
    }

    test::TScriptedPlatform platform;
};

const std::string kYesNo = "|yes/no|";

TEST_F(Installer, NoTitleAsksNothingAndCaptionsWithTheLowercasedName) {
    platform.Module = "C:\\Downloads\\SAMPLE.EXE";
    const Bytes raw = AsBytes("plain bytes, no stream header");
    EXPECT_EQ(Install({"", {Entry("<P>\\Sample\\App.EXE", "stored", '1'), {"Docs\\Readme.TXT", '0', {}, "", raw}}}), 0);
    EXPECT_EQ(platform.Boxes, Lines{"sample.exe|ok|" + kStart + "\r\n\r\n" + kSeeLog + kNoErrors});
    EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\program files\\sample\\app.exe...   ", "OK",
                            "Running: \"c:\\program files\\sample\\app.exe\"",
                            "Extracting file: C:\\docs\\readme.txt...   ", "OK", "Completed with NO errors."}));
    EXPECT_EQ(platform.FileText("c:\\program files\\sample\\app.exe"), "stored");
    EXPECT_EQ(platform.FileText("c:\\docs\\readme.txt"), std::string(raw.begin(), raw.end()));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_EQ(platform.Executed, Lines{"c:\\program files\\sample\\app.exe"});
}

// No to the title removes the log and installs nothing. After Yes, a file
// that goes while its replace question is open is not deleted again.
TEST_F(Installer, ATitleIsConfirmedAndAFileGoneWhileAskedAboutIsNotDeleted) {
    const TestPackage package{"Suite", {Entry("c:\\app\\a", "new", '0', "1A")}};
    platform.Answers = {kAnswerNo};
    EXPECT_EQ(Install(package), 0);
    EXPECT_FALSE(platform.HasFile(kLog) || platform.HasFile("c:\\app\\a"));
    ASSERT_EQ(platform.Boxes.size(), 2u);
    EXPECT_TRUE(platform.Boxes[1].ends_with("Installation terminated at user's request\r"));

    platform.PutFile("c:\\app\\a", AsBytes("old"));
    platform.Answers = {kAnswerYes, kAnswerYes};
    platform.WhileAsking = [&](const std::string& text) {
        if (text.starts_with("You are about to replace")) std::filesystem::remove(platform.HostPath("c:\\app\\a"));
    };
    EXPECT_EQ(Install(package), 0);
    EXPECT_EQ(platform.FileText("c:\\app\\a"), "new");
    EXPECT_EQ(Log(), (Lines{kStart, "Title: \"Suite\"", "Extracting file: c:\\app\\a...   ", "OK",
                            "Completed with NO errors."}));
}

// e is in use: it is skipped, the run goes on and ends with errors.
TEST_F(Installer, ReplaceRulesAndAnOldFileInUse) {
    for (const char* name : {"a", "b", "c", "d", "e"}) platform.PutFile("c:\\app\\"s + name, AsBytes("old"));
    platform.LockedFiles = {"c:\\app\\e"};
    platform.Answers = {kAnswerNo, kAnswerYes};
    const std::string longName = "D" + std::string(300, 'x');
    EXPECT_EQ(Install({"", {Entry("c:\\app\\a", "new", '0', "0"), Entry("c:\\app\\e", "new", '0', "0"),
                            Entry("c:\\app\\b", "new", '0', "1"),
                            Entry("c:\\app\\c", "new", '0', "1C Name"),
                            Entry("c:\\app\\d", "new", '0', "1" + longName)}}),
              0);
    for (auto [name, text] : {std::pair{"a", "new"}, {"b", "old"}, {"c", "old"}, {"d", "new"}, {"e", "old"}})
        EXPECT_EQ(platform.FileText("c:\\app\\"s + name), text) << name;
    const auto replace = [](const std::string& name) {
        return "sample.exe" + kYesNo + "You are about to replace:     \r\r\"" + name +
               "\"\r\rDo you want to replace it?";
    };
    ASSERT_EQ(platform.Boxes.size(), 3u);
    EXPECT_EQ(platform.Boxes[0], replace("C Name"));
    EXPECT_EQ(platform.Boxes[1], replace(longName.substr(0, 255)));
    EXPECT_EQ(Log(), (Lines{kStart, "Deleting old version of: c:\\app\\a", "Extracting file: c:\\app\\a...   ", "OK",
                            "Deleting old version of: c:\\app\\e", "ERROR: Can not delete. File currently in use...",
                            "Skipping file: c:\\app\\e", "Skipping file: c:\\app\\b", "Skipping file: c:\\app\\c",
                            "Deleting old version of: c:\\app\\d", "Extracting file: c:\\app\\d...   ", "OK",
                            "Completed WITH ERRORS."}));
    EXPECT_TRUE(platform.Boxes[2].ends_with("\r\n\r\n\r\nCompleted WITH ERRORS\r\n"));
}

// Links of a chain that are skipped (never replaced, in use) are still
// expanded into nothing, so the links after them find their chain; a
// skipped link that is damaged lets the next one fail by itself.
TEST_F(Installer, SkippedLinksOfAChainKeepItGoing) {
    const std::vector<Bytes> pieces = {AsBytes("first"), AsBytes(std::string(3000, 'b')), AsBytes("third"),
                                       AsBytes("fourth and first")};
    std::vector<Bytes> links = vorn::test::LzmaChain(pieces);
    for (const char* name : {"b", "c"}) platform.PutFile("c:\\app\\"s + name, AsBytes("old"));
    platform.LockedFiles = {"c:\\app\\c"};
    auto entry = [&](const char* name, size_t link) {
        return TestEntry{"c:\\app\\"s + name, '0', {}, name == "b"s ? "1" : "", links[link]};
    };
    EXPECT_EQ(Install({"", {entry("a", 0), entry("b", 1), entry("c", 2), entry("d", 3)}}), 0);
    for (auto [name, text] : {std::pair{"a", "first"}, {"b", "old"}, {"c", "old"}, {"d", "fourth and first"}})
        EXPECT_EQ(platform.FileText("c:\\app\\"s + name), text) << name;
    links[1][links[1].size() - 2] ^= 1;
    platform.PutFile("c:\\app\\d", AsBytes("old"));
    platform.PutFile("c:\\app\\a", AsBytes("old"));
    EXPECT_EQ(Install({"", {entry("a", 0), entry("b", 1), entry("c", 2), entry("d", 3)}}), 0);
    EXPECT_EQ(Log().back(), "ERROR: Extract failed - aborting installation");
}

TEST_F(Installer, FailedExtractionEndsTheLoopButRunsTheRunAtEndProgram) {
    Bytes damaged = test::StoredStream("partly written");
    damaged.back() ^= 0xFF;  // the stored checksum no longer matches
    // Reading the third entry would stop the run: its run mode is no digit.
    EXPECT_EQ(Install({"", {Entry("c:\\app\\first.txt", "first", '2'), {"c:\\app\\second.txt", '0', {}, "", damaged},
                            Entry("c:\\app\\third.txt", "third", 'x')}}),
              0);
    EXPECT_EQ(platform.Executed, Lines{"c:\\app\\first.txt"});
    EXPECT_EQ(platform.FileText("c:\\app\\second.txt"), "partly writte\x91");
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\app\\first.txt...   ", "OK",
                            "Extracting file: c:\\app\\second.txt...   ",
                            "ERROR: Extract failed - aborting installation",
                            "Run at the end: \"c:\\app\\first.txt\""}));
    EXPECT_TRUE(platform.Boxes.back().ends_with("sample.log\r\n\r\nExtract failed - aborting installation\r\n"));
}

TEST_F(Installer, ShortcutsAskedCreatedAndMissingFolders) {
    platform.SetShellFolders();
    platform.SetValue(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "SendTo", "");
    platform.SetValue(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "Start Menu", "");
    platform.SetValue(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Explorer",
                       "Shell Folders", "Start Menu", "C:\\NT\\Start Menu");
    platform.Answers = {kAnswerYes, kAnswerNo};
    TestEntry entry = Entry("App\\Sample.EXE", "x");
    entry.Shortcuts = {"?Sample", "?Other", "Sample", "Menu", "Send"};
    EXPECT_EQ(Install({"", {entry}}), 0);

    platform.Boxes.pop_back();  // the summary
    EXPECT_EQ(platform.Boxes,
              (Lines{"sample.exe" + kYesNo + "Do you want to create a Desktop shortcut for\rSample?",
                     "sample.exe" + kYesNo + "Do you want to create a Startup shortcut for\rOther?",
                     "Error in WinShortCut|ok|SendTo"}));
    // The links point at the destination before its drive is supplied.
    EXPECT_EQ(platform.Links, (Lines{"C:\\Users\\Me\\Desktop\\Sample.lnk -> app\\sample.exe in app\\",
                            "C:\\Users\\Me\\Programs\\Sample.lnk -> app\\sample.exe in app\\",
                            "C:\\NT\\Start Menu\\Menu.lnk -> app\\sample.exe in app\\"}));
    EXPECT_EQ(Log(), (Lines{kStart, "Creating \"?Sample\" shortcut: Sample for: app\\sample.exe",
                            "Creating \"Sample\" shortcut: Sample for: app\\sample.exe",
                            "Creating \"Menu\" shortcut: Menu for: app\\sample.exe",
                            "Creating \"Send\" shortcut: Send for: app\\sample.exe",
                            "Extracting file: C:\\app\\sample.exe...   ", "OK", "Completed with NO errors."}));
}

TEST_F(Installer, AShortcutThatCannotBeSavedIsLoggedAndMakesTheRunOneWithErrors) {
    platform.SetShellFolders();
    platform.SetValue(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "Desktop", "D:\\Desktop");
    platform.ReadOnlyDrives = {'d'};
    TestEntry entry = Entry("c:\\app\\a.exe", "x");
    entry.Shortcuts = {"Desk", "", "Menu", "", ""};
    EXPECT_EQ(Install({"", {entry}}), 0);
    EXPECT_EQ(Log(), (Lines{kStart, "Creating \"Desk\" shortcut: Desk for: c:\\app\\a.exe",
                            "ERROR: Can not save shortcut: D:\\Desktop\\Desk.lnk",
                            "Creating \"Menu\" shortcut: Menu for: c:\\app\\a.exe",
                            "Extracting file: c:\\app\\a.exe...   ", "OK", "Completed WITH ERRORS."}));
    EXPECT_TRUE(platform.Boxes.back().ends_with("\r\nCompleted WITH ERRORS\r\n"));
}

// The log goes to c:\ from a removable drive, to the temporary folder where the installer's folder takes none.
TEST_F(Installer, WorkFolderAndTheTemporaryFolderWhereItTakesNoFiles) {
    const TestPackage package{"", {Entry("c:\\app\\a.txt", "a"), Entry("c:\\app\\b.txt", "b")}};
    platform.DriveTypes = {{'a', kDriveRemovable}, {'d', kDriveCdRom}};
    platform.ReadOnlyDrives = {'d'};
    for (auto [module, log] : {std::pair{"A:\\SETUP.EXE", "c:\\setup.log"},  // a removable drive
                               {"D:\\Setup\\SETUP.EXE", "c:\\users\\me\\temp\\setup.log"}}) {  // a read-only CD-ROM
        platform.Module = module;
        EXPECT_EQ(Install(package), 0) << module;
        EXPECT_TRUE(platform.FileText(log).ends_with("\r\nCompleted with NO errors.\r\n")) << log;
        EXPECT_NE(platform.Boxes.back().find("see the log file: "s + log + "\r\n"), std::string::npos);
    }
    // A folder in the way of the temporary file beside the log.
    platform.Module = "C:\\Downloads\\Sample.EXE";
    std::filesystem::create_directories(platform.HostPath(kTemp));
    EXPECT_EQ(Install(package), 0);
    EXPECT_EQ(Log().back(), "Completed with NO errors.");
    EXPECT_FALSE(platform.HasFile("c:\\users\\me\\temp\\sample.tmp"));
    // A second run leaves only its own log.
    EXPECT_EQ(Install({"", {}}), 0);
    EXPECT_EQ(Log(), (Lines{kStart, "Completed with NO errors."}));
}

Bytes Raw(const std::string& text, uint32_t start = 3) { return test::WithTrailer(AsBytes("img" + text), start); }

// Every kind of unhandled failure reaches the error report, and only it.
TEST_F(Installer, UnhandledFailuresReportApplicationErrorAndExitWithOne) {
    const std::pair<Bytes, std::string> cases[] = {
        {AsBytes("MZ"), "EPackageError"},                      // no package
        {Raw("|c:\\a||||||||"), "EConvertError"},              // run mode not a digit
        {Raw("|c:\\a|0|Link|"), "ERegistryDataType"},          // Startup folder not a string
        {Raw("|c:\\a|0Link|"), "EShellLinkError"},              // no shell-link object
        {Raw("|c:\\a\\|0||||||\x01\x00\x00\x00x|"s), "EStreamError"},  // destination cannot be created
    };
    platform.SetShellFolders();
    platform.SetValue(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "Startup", std::nullopt);
    platform.ShellLinksAvailable = false;
    for (const auto& [installer, kind] : cases) {
        platform.Boxes.clear();
        EXPECT_EQ(InstallRaw(installer), kFailureExitCode) << kind;
        ASSERT_EQ(platform.Boxes.size(), 1u) << "no summary after an unhandled failure";
        EXPECT_TRUE(platform.Boxes[0].starts_with("Application Error|error|" + kind + ": ")) << platform.Boxes[0];
    }
}

TEST_F(Installer, StreamsShortOverLongOrLyingAboutTheirSizeFailTheirExtraction) {
    Bytes content = AsBytes("text, then zeros that a byte sum cannot miss");
    content.resize(4004, 0);
    Bytes cut = test::CompressedStream(content, kMethodStored), longer = cut;
    Bytes lie = test::CompressedStream(content, kMethodLh5);
    cut.resize(cut.size() - 3000);          // zeros missing
    longer.resize(longer.size() + 100, 0);  // zeros invented
    std::copy_n(vorn::test::Hex("FF FF FF 7F").begin(), 4, lie.begin() + 8);  // a size of 2,147,483,647
    for (const Bytes& stream : {cut, longer, lie}) {
        platform = test::TScriptedPlatform();
        EXPECT_EQ(Install({"", {{"c:\\app\\data.bin", '0', {}, "", stream}, Entry("c:\\app\\next.txt", "next")}}), 0);
        EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\app\\data.bin...   ",
                                "ERROR: Extract failed - aborting installation"}));
        EXPECT_EQ(platform.Boxes, Lines{"sample.exe|ok|" + kStart + "\r\n\r\n" + kSeeLog +
                                        "\r\n\r\nExtract failed - aborting installation\r\n"});
        EXPECT_FALSE(platform.HasFile("c:\\app\\next.txt"));
    }
}

}  // namespace
}  // namespace vorn::setup
