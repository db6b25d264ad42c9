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
using test::StoredStream;
using test::TestEntry;
using test::TestPackage;

constexpr const char* kLog = "c:\\downloads\\sample.log";
constexpr const char* kTemp = "c:\\downloads\\sample.tmp";
constexpr const char* kStart =
    "Program: \"c:\\downloads\\sample.exe\" started on 12/5/2026 at 3:04:05 PM";
constexpr const char* kInstallQuestion =
    "You are about to install:     \r\r\"Sample Suite\"\r\rDo you want to continue?";

TestEntry Entry(const std::string& destination, const std::string& content, char runMode = '0',
                const std::string& replaceRule = "") {
    return {destination, runMode, {}, replaceRule, StoredStream(content)};
}

class Installer : public testing::Test {
protected:
    int Install(const TestPackage& package) {
        platform.PutFile(platform.Module, test::InstallerBytes(AsBytes("program image"), package));
        return TInstaller(platform).Run();
    }
    int InstallRaw(const Bytes& installer) {
        platform.PutFile(platform.Module, installer);
        return TInstaller(platform).Run();
    }
    std::string Log() const { return platform.FileText(kLog); }
    const test::RecordedBox& LastBox() const { return platform.Boxes.back(); }

    void TearDown() override {
        EXPECT_EQ(platform.Unanswered, 0) << "the run asked more than the script answers";
        EXPECT_TRUE(platform.Answers.empty()) << "the run asked fewer questions than scripted";
    }

    test::ScriptedPlatform platform;
};

TEST_F(Installer, NoTitleAsksNothingAndCaptionsWithTheLowercasedName) {
    platform.Module = "C:\\Downloads\\SAMPLE.EXE";
    const Bytes raw = AsBytes("plain bytes, no stream header");
    TestPackage package{"", {Entry("<P>\\Sample\\App.EXE", "stored"),
                             {"Docs\\Readme.TXT", '0', {}, "", raw}}};
    EXPECT_EQ(Install(package), 0);
    EXPECT_EQ(platform.StartComCalls, 1);

    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_EQ(LastBox().Caption, "sample.exe");
    EXPECT_EQ(LastBox().Style, kBoxOk);
    EXPECT_EQ(LastBox().Text, std::string(kStart) +
                                  "\r\n\r\nFor details see the log file: c:\\downloads\\sample.log"
                                  "\r\n\r\n\r\nCompleted with NO errors\r\n");
    EXPECT_EQ(Log(), std::string(kStart) + "\r\n"
                     "Extracting file: c:\\program files\\sample\\app.exe...   \r\n"
                     "OK\r\n"
                     "Extracting file: C:\\docs\\readme.txt...   \r\n"
                     "OK\r\n"
                     "Completed with NO errors.\r\n");
    EXPECT_EQ(platform.FileText("c:\\program files\\sample\\app.exe"), "stored");
    EXPECT_EQ(platform.FileText("c:\\docs\\readme.txt"), std::string(raw.begin(), raw.end()));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_TRUE(platform.Executed.empty());
}

TEST_F(Installer, TitleFollowedByTheEndMarkerInstallsNothing) {
    platform.Answers = {kAnswerYes};
    EXPECT_EQ(Install({"Sample Suite", {}}), 0);
    ASSERT_EQ(platform.Boxes.size(), 2u);
    EXPECT_EQ(platform.Boxes[0].Text, kInstallQuestion);
    EXPECT_EQ(platform.Boxes[0].Caption, "Sample Suite");
    EXPECT_EQ(platform.Boxes[0].Style, kBoxYesNoQuestion);
    EXPECT_EQ(LastBox().Caption, "Sample Suite");
    EXPECT_EQ(LastBox().Text, std::string(kStart) +
                                  "\r\n\r\nTitle: \"Sample Suite\"\r\r"
                                  "For details see the log file: c:\\downloads\\sample.log"
                                  "\r\n\r\n\r\nCompleted with NO errors\r\n");
    EXPECT_EQ(Log(), std::string(kStart) +
                         "\r\nTitle: \"Sample Suite\"\r\nCompleted with NO errors.\r\n");
}

TEST_F(Installer, CancelLeavesNoLogNoTemporaryFileAndReadsNoEntry) {
    platform.Answers = {kAnswerNo};
    EXPECT_EQ(Install({"Sample Suite", {Entry("c:\\app\\a.exe", "a")}}), 0);
    ASSERT_EQ(platform.Boxes.size(), 2u);
    EXPECT_EQ(LastBox().Text, std::string(kStart) +
                                  "\r\n\r\nTitle: \"Sample Suite\"\r\r"
                                  "\r\nInstallation terminated at user's request\r");
    EXPECT_EQ(LastBox().Style, kBoxOk);
    EXPECT_FALSE(platform.HasFile(kLog));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_FALSE(platform.HasFile("c:\\app\\a.exe"));
}

TEST_F(Installer, ReplaceRules) {
    for (const char* name : {"a", "b", "c", "d", "e"})
        platform.PutFile(std::string("c:\\app\\") + name, AsBytes("old"));
    platform.Answers = {kAnswerNo, kAnswerYes};
    const std::string longName = "D" + std::string(300, 'x');
    TestPackage package{"", {Entry("c:\\app\\a", "new", '0', "0"), Entry("c:\\app\\b", "new", '0', "1"),
                             Entry("c:\\app\\c", "new", '0', "1C Name"),
                             Entry("c:\\app\\d", "new", '0', "1" + longName),
                             Entry("c:\\app\\e", "new", '0', "")}};
    EXPECT_EQ(Install(package), 0);

    EXPECT_EQ(platform.FileText("c:\\app\\a"), "new");
    EXPECT_EQ(platform.FileText("c:\\app\\b"), "old");
    EXPECT_EQ(platform.FileText("c:\\app\\c"), "old");
    EXPECT_EQ(platform.FileText("c:\\app\\d"), "new");
    EXPECT_EQ(platform.FileText("c:\\app\\e"), "new");
    ASSERT_EQ(platform.Boxes.size(), 3u);
    EXPECT_EQ(platform.Boxes[0].Text,
              "You are about to replace:     \r\r\"C Name\"\r\rDo you want to replace it?");
    EXPECT_EQ(platform.Boxes[0].Caption, "sample.exe");
    EXPECT_EQ(platform.Boxes[0].Style, kBoxYesNoQuestion);
    EXPECT_EQ(platform.Boxes[1].Text, "You are about to replace:     \r\r\"" + longName.substr(0, 255) +
                                          "\"\r\rDo you want to replace it?");
    EXPECT_EQ(Log(), std::string(kStart) + "\r\n"
                     "Deleting old version of: c:\\app\\a\r\n"
                     "Extracting file: c:\\app\\a...   \r\nOK\r\n"
                     "Skipping file: c:\\app\\b\r\n"
                     "Skipping file: c:\\app\\c\r\n"
                     "Deleting old version of: c:\\app\\d\r\n"
                     "Extracting file: c:\\app\\d...   \r\nOK\r\n"
                     "Deleting old version of: c:\\app\\e\r\n"
                     "Extracting file: c:\\app\\e...   \r\nOK\r\n"
                     "Completed with NO errors.\r\n");
}

TEST_F(Installer, OldFileInUseIsSkippedAndTheRunGoesOnWithErrors) {
    platform.PutFile("c:\\app\\a", AsBytes("old"));
    platform.LockedFiles = {"c:\\app\\a"};
    EXPECT_EQ(Install({"", {Entry("c:\\app\\a", "new"), Entry("c:\\app\\b", "new")}}), 0);
    EXPECT_EQ(platform.FileText("c:\\app\\a"), "old");
    EXPECT_EQ(platform.FileText("c:\\app\\b"), "new");
    EXPECT_EQ(Log(), std::string(kStart) + "\r\n"
                     "Deleting old version of: c:\\app\\a\r\n"
                     "ERROR: Can not delete. File currently in use...\r\n"
                     "Skipping file: c:\\app\\a\r\n"
                     "Extracting file: c:\\app\\b...   \r\nOK\r\n"
                     "Completed WITH ERRORS.\r\n");
    EXPECT_TRUE(LastBox().Text.ends_with("\r\n\r\n\r\nCompleted WITH ERRORS\r\n"));
}

TEST_F(Installer, FailedExtractionEndsTheLoopButRunsTheRunAtEndProgram) {
    Bytes damaged = StoredStream("partly written");
    damaged.back() ^= 0xFF;  // the stored checksum no longer matches
    TestPackage package{"", {Entry("c:\\app\\first.txt", "first", '2'),
                             {"c:\\app\\second.txt", '0', {}, "", damaged},
                             Entry("c:\\app\\third.txt", "third")}};
    Bytes installer = test::PackageBody(package);
    // Reading the third entry would stop the run: its run mode is no digit.
    const size_t third = installer.size() - 1 - package.Entries[2].Stream.size() - 4 - 6 - 1;
    installer[third] = 'x';
    installer.insert(installer.begin(), {'i', 'm', 'g'});
    EXPECT_EQ(InstallRaw(test::WithTrailer(installer, 3)), 0);

    EXPECT_EQ(platform.Executed, std::vector<std::string>{"c:\\app\\first.txt"});
    EXPECT_EQ(platform.FileText("c:\\app\\second.txt"), "partly writte\x91");
    EXPECT_FALSE(platform.HasFile("c:\\app\\third.txt"));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_EQ(Log(), std::string(kStart) + "\r\n"
                     "Extracting file: c:\\app\\first.txt...   \r\nOK\r\n"
                     "Extracting file: c:\\app\\second.txt...   \r\n"
                     "ERROR: Extract failed - aborting installation\r\n"
                     "Run at the end: \"c:\\app\\first.txt\"\r\n");
    EXPECT_TRUE(LastBox().Text.ends_with("sample.log\r\n\r\nExtract failed - aborting installation\r\n"));
}

TEST_F(Installer, RunModesOneAtOnceAndOnlyTheLastRunModeTwoAtTheEnd) {
    TestPackage package{"", {Entry("c:\\app\\early.txt", "1", '2'), Entry("c:\\app\\now.exe", "2", '1'),
                             Entry("c:\\app\\late.txt", "3", '2'), Entry("c:\\app\\never", "4", '9')}};
    EXPECT_EQ(Install(package), 0);
    EXPECT_EQ(platform.Executed, (std::vector<std::string>{"c:\\app\\now.exe", "c:\\app\\late.txt"}));
    EXPECT_NE(Log().find("c:\\app\\now.exe...   \r\nOK\r\nRunning: \"c:\\app\\now.exe\"\r\n"),
              std::string::npos);
    EXPECT_TRUE(Log().ends_with("Completed with NO errors.\r\nRun at the end: \"c:\\app\\late.txt\"\r\n"));
}

TEST_F(Installer, ShortcutsAskedCreatedAndMissingFolders) {
    platform.SetShellFolders();
    platform.SetString(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                       "Shell Folders", "SendTo", "");
    platform.SetString(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                       "Shell Folders", "Start Menu", "");
    platform.SetString(RegistryRoot::CurrentUser,
                       "Software\\Microsoft\\Windows NT\\CurrentVersion\\Explorer", "Shell Folders",
                       "Start Menu", "C:\\NT\\Start Menu");
    platform.PutFile("c:\\users\\me\\desktop\\Sample.lnk", AsBytes("an older link"));
    platform.Answers = {kAnswerYes, kAnswerNo};
    TestEntry entry = Entry("App\\Sample.EXE", "x");
    entry.Shortcuts = {"?Sample", "?Other", "Sample", "Menu", "Send"};
    EXPECT_EQ(Install({"", {entry}}), 0);

    ASSERT_EQ(platform.Boxes.size(), 4u);
    EXPECT_EQ(platform.Boxes[0].Text, "Do you want to create a Desktop shortcut for\rSample?");
    EXPECT_EQ(platform.Boxes[0].Caption, "sample.exe");
    EXPECT_EQ(platform.Boxes[0].Style, kBoxYesNoQuestion);
    EXPECT_EQ(platform.Boxes[1].Text, "Do you want to create a Startup shortcut for\rOther?");
    EXPECT_EQ(platform.Boxes[2].Text, "SendTo");
    EXPECT_EQ(platform.Boxes[2].Caption, "Error in WinShortCut");
    EXPECT_EQ(platform.Boxes[2].Style, kBoxOk);

    // The links point at the destination before its drive is supplied.
    ASSERT_EQ(platform.Links.size(), 3u);
    EXPECT_EQ(platform.Links[0].LinkPath, "C:\\Users\\Me\\Desktop\\Sample.lnk");
    EXPECT_EQ(platform.Links[0].Target, "app\\sample.exe");
    EXPECT_EQ(platform.Links[0].WorkingFolder, "app\\");
    EXPECT_EQ(platform.Links[1].LinkPath, "C:\\Users\\Me\\Programs\\Sample.lnk");
    EXPECT_EQ(platform.Links[2].LinkPath, "C:\\NT\\Start Menu\\Menu.lnk");
    EXPECT_EQ(platform.FileText("c:\\users\\me\\desktop\\sample.lnk"), "app\\sample.exe");
    EXPECT_EQ(Log(), std::string(kStart) + "\r\n"
                     "Creating \"?Sample\" shortcut: Sample for: app\\sample.exe\r\n"
                     "Creating \"Sample\" shortcut: Sample for: app\\sample.exe\r\n"
                     "Creating \"Menu\" shortcut: Menu for: app\\sample.exe\r\n"
                     "Creating \"Send\" shortcut: Send for: app\\sample.exe\r\n"
                     "Extracting file: C:\\app\\sample.exe...   \r\nOK\r\n"
                     "Completed with NO errors.\r\n");
}

TEST_F(Installer, RemovableDriveKeepsLogAndTemporaryFileOnC) {
    platform.Module = "A:\\SETUP.EXE";
    platform.DriveTypes = {{'a', kDriveRemovable}};
    EXPECT_EQ(Install({"", {Entry("\\App\\a.txt", "a")}}), 0);
    EXPECT_TRUE(platform.FileText("c:\\setup.log").starts_with("Program: \"a:\\setup.exe\" started"));
    EXPECT_TRUE(platform.HasFile("a:\\app\\a.txt"));
    EXPECT_NE(LastBox().Text.find("see the log file: c:\\setup.log\r\n"), std::string::npos);
}

TEST_F(Installer, SecondRunLeavesOnlyItsOwnLog) {
    EXPECT_EQ(Install({"", {Entry("c:\\a", "a"), Entry("c:\\b", "b")}}), 0);
    EXPECT_EQ(Install({"", {}}), 0);
    EXPECT_EQ(Log(), std::string(kStart) + "\r\nCompleted with NO errors.\r\n");
}

struct Unhandled {
    const char* name;
    Bytes installer;
    const char* kind;
};

class UnhandledFailure : public Installer, public testing::WithParamInterface<Unhandled> {};

TEST_P(UnhandledFailure, ReportsApplicationErrorAndExitsWithOne) {
    platform.SetNonString(RegistryRoot::CurrentUser,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", "Shell Folders",
                          "Desktop");
    EXPECT_EQ(InstallRaw(GetParam().installer), kFailureExitCode);
    ASSERT_FALSE(platform.Boxes.empty());
    EXPECT_EQ(LastBox().Caption, "Application Error");
    EXPECT_EQ(LastBox().Style, kBoxErrorTaskModal);
    EXPECT_TRUE(LastBox().Text.starts_with(std::string(GetParam().kind) + ": ")) << LastBox().Text;
    for (const auto& box : platform.Boxes) EXPECT_NE(box.Style, kBoxOk) << "a summary was shown";
}

Bytes Raw(const std::string& text, uint32_t start = 3) {
    return test::WithTrailer(AsBytes("img" + text), start);
}

const Bytes kStreamCutShort = [] {
    Bytes body = test::PackageBody({"", {Entry("c:\\a", "0123456789")}});
    body.resize(body.size() - 5);
    body.insert(body.begin(), {'i', 'm', 'g'});
    return test::WithTrailer(body, 3);
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, UnhandledFailure,
    testing::Values(Unhandled{"NoPackage", AsBytes("MZ"), "EPackageError"},
                    Unhandled{"TrailerOutsideTheFile", Raw("||", 0x10000), "EPackageError"},
                    Unhandled{"EndsInsideAField", Raw("|c:\\a|0Desk"), "EPackageError"},
                    Unhandled{"StreamLengthPastTheEnd", kStreamCutShort, "EPackageError"},
                    Unhandled{"RunModeNotADigit", Raw("|c:\\a||||||||"), "EConvertError"},
                    Unhandled{"ShellFolderNotAString", Raw("|c:\\a|0Link|"), "ERegistryDataType"},
                    Unhandled{"DestinationCannotBeCreated",
                              Raw("|c:\\a\\|0||||||\x01\x00\x00\x00x|"s), "EStreamError"}),
    [](const testing::TestParamInfo<Unhandled>& info) { return info.param.name; });

TEST_F(Installer, MissingShellLinkObjectIsUnhandled) {
    platform.SetShellFolders();
    platform.ShellLinksAvailable = false;
    TestEntry entry = Entry("c:\\a", "a");
    entry.Shortcuts[0] = "Link";
    EXPECT_EQ(Install({"", {entry}}), 1);
    EXPECT_EQ(LastBox().Caption, "Application Error");
    EXPECT_EQ(LastBox().Text, "EShellLinkError: Class not registered");
}

}  // namespace
}  // namespace vorn::setup
