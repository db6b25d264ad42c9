// The install driver end to end against the scripted platform: questions,
// boxes, log lines, summary texts, files, links and exit codes.
#include <gtest/gtest.h>

#include <map>

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
        const std::string text = platform.FileText(kLog);
        EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << text;
        Lines lines;
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    // Every box as "caption|style|text".
    Lines Boxes() const {
        const std::map<uint32_t, std::string> styles = {
            {kBoxOk, "ok"}, {kBoxYesNoQuestion, "yes/no"}, {kBoxErrorTaskModal, "error"}};
        Lines boxes;
        for (const auto& b : platform.Boxes) boxes.push_back(b.Caption + "|" + styles.at(b.Style) + "|" + b.Text);
        return boxes;
    }
    std::string LastBoxText() const { return platform.Boxes.back().Text; }

    void TearDown() override {
        EXPECT_EQ(platform.Unanswered, 0) << "the run asked more than the script answers";
        EXPECT_TRUE(platform.Answers.empty()) << "the run asked fewer questions than scripted";
    }

    test::ScriptedPlatform platform;
};

const std::string kOk = "|ok|", kYesNo = "|yes/no|";

TEST_F(Installer, NoTitleAsksNothingAndCaptionsWithTheLowercasedName) {
    platform.Module = "C:\\Downloads\\SAMPLE.EXE";
    const Bytes raw = AsBytes("plain bytes, no stream header");
    EXPECT_EQ(Install({"", {Entry("<P>\\Sample\\App.EXE", "stored"), {"Docs\\Readme.TXT", '0', {}, "", raw}}}), 0);
    EXPECT_EQ(platform.StartComCalls, 1);
    EXPECT_EQ(Boxes(), Lines{"sample.exe" + kOk + kStart + "\r\n\r\n" + kSeeLog + kNoErrors});
    EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\program files\\sample\\app.exe...   ", "OK",
                            "Extracting file: C:\\docs\\readme.txt...   ", "OK", "Completed with NO errors."}));
    EXPECT_EQ(platform.FileText("c:\\program files\\sample\\app.exe"), "stored");
    EXPECT_EQ(platform.FileText("c:\\docs\\readme.txt"), std::string(raw.begin(), raw.end()));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_TRUE(platform.Executed.empty());
}

TEST_F(Installer, TitleAsksAndCancelLeavesNothing) {
    const std::string question = "You are about to install:     \r\r\"Sample Suite\"\r\rDo you want to continue?";
    const std::string title = kStart + "\r\n\r\nTitle: \"Sample Suite\"\r\r";
    platform.Answers = {kAnswerYes};
    EXPECT_EQ(Install({"Sample Suite", {}}), 0);
    EXPECT_EQ(Boxes(), (Lines{"Sample Suite" + kYesNo + question, "Sample Suite" + kOk + title + kSeeLog + kNoErrors}));
    EXPECT_EQ(Log(), (Lines{kStart, "Title: \"Sample Suite\"", "Completed with NO errors."}));

    platform.Boxes.clear();
    std::filesystem::remove(platform.HostPath(kLog));
    platform.Answers = {kAnswerNo};
    EXPECT_EQ(Install({"Sample Suite", {Entry("c:\\app\\a.exe", "a")}}), 0);
    EXPECT_EQ(Boxes(), (Lines{"Sample Suite" + kYesNo + question,
                              "Sample Suite" + kOk + title + "\r\nInstallation terminated at user's request\r"}));
    EXPECT_FALSE(platform.HasFile(kLog));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_FALSE(platform.HasFile("c:\\app\\a.exe"));
}

TEST_F(Installer, ReplaceRules) {
    for (const char* name : {"a", "b", "c", "d", "e"}) platform.PutFile("c:\\app\\"s + name, AsBytes("old"));
    platform.Answers = {kAnswerNo, kAnswerYes};
    const std::string longName = "D" + std::string(300, 'x');
    EXPECT_EQ(Install({"", {Entry("c:\\app\\a", "new", '0', "0"), Entry("c:\\app\\b", "new", '0', "1"),
                            Entry("c:\\app\\c", "new", '0', "1C Name"),
                            Entry("c:\\app\\d", "new", '0', "1" + longName), Entry("c:\\app\\e", "new", '0', "")}}),
              0);
    for (auto [name, text] : {std::pair{"a", "new"}, {"b", "old"}, {"c", "old"}, {"d", "new"}, {"e", "new"}})
        EXPECT_EQ(platform.FileText("c:\\app\\"s + name), text) << name;
    const auto replace = [](const std::string& name) {
        return "sample.exe" + kYesNo + "You are about to replace:     \r\r\"" + name +
               "\"\r\rDo you want to replace it?";
    };
    ASSERT_EQ(Boxes().size(), 3u);
    EXPECT_EQ(Boxes()[0], replace("C Name"));
    EXPECT_EQ(Boxes()[1], replace(longName.substr(0, 255)));
    EXPECT_EQ(Log(), (Lines{kStart, "Deleting old version of: c:\\app\\a", "Extracting file: c:\\app\\a...   ", "OK",
                            "Skipping file: c:\\app\\b", "Skipping file: c:\\app\\c",
                            "Deleting old version of: c:\\app\\d", "Extracting file: c:\\app\\d...   ", "OK",
                            "Deleting old version of: c:\\app\\e", "Extracting file: c:\\app\\e...   ", "OK",
                            "Completed with NO errors."}));
}

TEST_F(Installer, OldFileInUseIsSkippedAndTheRunGoesOnWithErrors) {
    platform.PutFile("c:\\app\\a", AsBytes("old"));
    platform.LockedFiles = {"c:\\app\\a"};
    EXPECT_EQ(Install({"", {Entry("c:\\app\\a", "new"), Entry("c:\\app\\b", "new")}}), 0);
    EXPECT_EQ(platform.FileText("c:\\app\\a"), "old");
    EXPECT_EQ(platform.FileText("c:\\app\\b"), "new");
    EXPECT_EQ(Log(), (Lines{kStart, "Deleting old version of: c:\\app\\a",
                            "ERROR: Can not delete. File currently in use...", "Skipping file: c:\\app\\a",
                            "Extracting file: c:\\app\\b...   ", "OK", "Completed WITH ERRORS."}));
    EXPECT_TRUE(LastBoxText().ends_with("\r\n\r\n\r\nCompleted WITH ERRORS\r\n"));
}

TEST_F(Installer, FailedExtractionEndsTheLoopButRunsTheRunAtEndProgram) {
    Bytes damaged = test::StoredStream("partly written");
    damaged.back() ^= 0xFF;  // the stored checksum no longer matches
    TestPackage package{"", {Entry("c:\\app\\first.txt", "first", '2'), {"c:\\app\\second.txt", '0', {}, "", damaged},
                             Entry("c:\\app\\third.txt", "third")}};
    Bytes installer = test::PackageBody(package);
    // Reading the third entry would stop the run: its run mode is no digit.
    installer[installer.size() - 1 - package.Entries[2].Stream.size() - 4 - 6 - 1] = 'x';
    installer.insert(installer.begin(), {'i', 'm', 'g'});
    EXPECT_EQ(InstallRaw(test::WithTrailer(installer, 3)), 0);
    EXPECT_EQ(platform.Executed, Lines{"c:\\app\\first.txt"});
    EXPECT_EQ(platform.FileText("c:\\app\\second.txt"), "partly writte\x91");
    EXPECT_FALSE(platform.HasFile("c:\\app\\third.txt"));
    EXPECT_FALSE(platform.HasFile(kTemp));
    EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\app\\first.txt...   ", "OK",
                            "Extracting file: c:\\app\\second.txt...   ",
                            "ERROR: Extract failed - aborting installation",
                            "Run at the end: \"c:\\app\\first.txt\""}));
    EXPECT_TRUE(LastBoxText().ends_with("sample.log\r\n\r\nExtract failed - aborting installation\r\n"));
}

TEST_F(Installer, RunModesOneAtOnceAndOnlyTheLastRunModeTwoAtTheEnd) {
    EXPECT_EQ(Install({"", {Entry("c:\\app\\early.txt", "1", '2'), Entry("c:\\app\\now.exe", "2", '1'),
                            Entry("c:\\app\\late.txt", "3", '2'), Entry("c:\\app\\never", "4", '9')}}),
              0);
    EXPECT_EQ(platform.Executed, (Lines{"c:\\app\\now.exe", "c:\\app\\late.txt"}));
    const Lines log = Log();
    EXPECT_EQ(Lines(log.begin() + 3, log.begin() + 6), (Lines{"Extracting file: c:\\app\\now.exe...   ", "OK",
                                                              "Running: \"c:\\app\\now.exe\""}));
    EXPECT_EQ(Lines(log.end() - 2, log.end()),
              (Lines{"Completed with NO errors.", "Run at the end: \"c:\\app\\late.txt\""}));
}

TEST_F(Installer, ShortcutsAskedCreatedAndMissingFolders) {
    platform.SetShellFolders();
    platform.SetString(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "SendTo", "");
    platform.SetString(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "Start Menu", "");
    platform.SetString(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Explorer",
                       "Shell Folders", "Start Menu", "C:\\NT\\Start Menu");
    platform.PutFile("c:\\users\\me\\desktop\\Sample.lnk", AsBytes("an older link"));
    platform.Answers = {kAnswerYes, kAnswerNo};
    TestEntry entry = Entry("App\\Sample.EXE", "x");
    entry.Shortcuts = {"?Sample", "?Other", "Sample", "Menu", "Send"};
    EXPECT_EQ(Install({"", {entry}}), 0);

    const Lines boxes = Boxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(Lines(boxes.begin(), boxes.end() - 1),
              (Lines{"sample.exe" + kYesNo + "Do you want to create a Desktop shortcut for\rSample?",
                     "sample.exe" + kYesNo + "Do you want to create a Startup shortcut for\rOther?",
                     "Error in WinShortCut" + kOk + "SendTo"}));
    // The links point at the destination before its drive is supplied.
    Lines links;
    for (const auto& l : platform.Links) links.push_back(l.LinkPath + " -> " + l.Target + " in " + l.WorkingFolder);
    EXPECT_EQ(links, (Lines{"C:\\Users\\Me\\Desktop\\Sample.lnk -> app\\sample.exe in app\\",
                            "C:\\Users\\Me\\Programs\\Sample.lnk -> app\\sample.exe in app\\",
                            "C:\\NT\\Start Menu\\Menu.lnk -> app\\sample.exe in app\\"}));
    EXPECT_EQ(platform.FileText("c:\\users\\me\\desktop\\sample.lnk"), "app\\sample.exe");
    EXPECT_EQ(Log(), (Lines{kStart, "Creating \"?Sample\" shortcut: Sample for: app\\sample.exe",
                            "Creating \"Sample\" shortcut: Sample for: app\\sample.exe",
                            "Creating \"Menu\" shortcut: Menu for: app\\sample.exe",
                            "Creating \"Send\" shortcut: Send for: app\\sample.exe",
                            "Extracting file: C:\\app\\sample.exe...   ", "OK", "Completed with NO errors."}));
}

TEST_F(Installer, RemovableDriveKeepsLogAndTemporaryFileOnCAndASecondRunLeavesOnlyItsOwnLog) {
    platform.Module = "A:\\SETUP.EXE";
    platform.DriveTypes = {{'a', kDriveRemovable}};
    EXPECT_EQ(Install({"", {Entry("\\App\\a.txt", "a")}}), 0);
    EXPECT_TRUE(platform.FileText("c:\\setup.log").starts_with("Program: \"a:\\setup.exe\" started"));
    EXPECT_TRUE(platform.HasFile("a:\\app\\a.txt"));
    EXPECT_NE(LastBoxText().find("see the log file: c:\\setup.log\r\n"), std::string::npos);

    platform.Module = "C:\\Downloads\\Sample.EXE";
    EXPECT_EQ(Install({"", {Entry("c:\\a", "a"), Entry("c:\\b", "b")}}), 0);
    EXPECT_EQ(Install({"", {}}), 0);
    EXPECT_EQ(Log(), (Lines{kStart, "Completed with NO errors."}));
}

struct Unhandled {
    const char* name;
    Bytes installer;
    const char* kind;
};

class UnhandledFailure : public Installer, public testing::WithParamInterface<Unhandled> {};

TEST_P(UnhandledFailure, ReportsApplicationErrorAndExitsWithOne) {
    platform.SetNonString(RegistryRoot::CurrentUser, kFolders, "Shell Folders", "Desktop");
    EXPECT_EQ(InstallRaw(GetParam().installer), kFailureExitCode);
    ASSERT_FALSE(platform.Boxes.empty());
    EXPECT_TRUE(Boxes().back().starts_with("Application Error|error|"s + GetParam().kind + ": ")) << Boxes().back();
    for (const auto& box : platform.Boxes) EXPECT_NE(box.Style, kBoxOk) << "a summary was shown";
}

Bytes Raw(const std::string& text, uint32_t start = 3) { return test::WithTrailer(AsBytes("img" + text), start); }

const Bytes kStreamCutShort = [] {
    Bytes body = test::PackageBody({"", {Entry("c:\\a", "0123456789")}});
    body.erase(body.end() - 5, body.end());
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
                    Unhandled{"DestinationCannotBeCreated", Raw("|c:\\a\\|0||||||\x01\x00\x00\x00x|"s),
                              "EStreamError"}),
    [](const testing::TestParamInfo<Unhandled>& info) { return info.param.name; });

TEST_F(Installer, MissingShellLinkObjectIsUnhandled) {
    platform.SetShellFolders();
    platform.ShellLinksAvailable = false;
    TestEntry entry = Entry("c:\\a", "a");
    entry.Shortcuts[0] = "Link";
    EXPECT_EQ(Install({"", {entry}}), kFailureExitCode);
    EXPECT_EQ(Boxes().back(), "Application Error|error|EShellLinkError: Class not registered");
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
        platform = test::ScriptedPlatform();
        EXPECT_EQ(Install({"", {{"c:\\app\\data.bin", '0', {}, "", stream}, Entry("c:\\app\\next.txt", "next")}}), 0);
        EXPECT_EQ(Log(), (Lines{kStart, "Extracting file: c:\\app\\data.bin...   ",
                                "ERROR: Extract failed - aborting installation"}));
        EXPECT_EQ(Boxes(), Lines{"sample.exe" + kOk + kStart + "\r\n\r\n" + kSeeLog +
                                 "\r\n\r\nExtract failed - aborting installation\r\n"});
        EXPECT_FALSE(platform.HasFile("c:\\app\\next.txt"));
    }
}

}  // namespace
}  // namespace vorn::setup
