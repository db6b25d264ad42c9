// What an installer built with [install] keys adds: its switches as a
// table, and its quiet decisions, moved folder, kept case and all-users
// shortcuts against the scripted platform.
#include <gtest/gtest.h>

#include "setup/install_options.h"
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

constexpr const char* kFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr const char* kProductFolder = "<p>\\Sample";

TEST(Switches, ParsedOrRefusedWithTheReason) {
    struct Case {
        const char* arguments;
        bool quiet;
        const char* folder;
        const char* log;
        const char* problem;  // the start of the message; "" for none
    };
    const Case cases[] = {
        {"", false, "", "", ""},
        {"/S", true, "", "", ""},
        {"  /s\t/log=c:\\l.log  ", true, "", "c:\\l.log", ""},
        {"/LOG=\"C:\\My Logs\\a.log\" /S", true, "", "C:\\My Logs\\a.log", ""},
        {"\"/LOG=C:\\My Logs\\a.log\"", false, "", "C:\\My Logs\\a.log", ""},
        {"/S /D=C:\\Program Files\\My App", true, "C:\\Program Files\\My App", "", ""},
        {"/d=C:\\My App\\\\  ", false, "C:\\My App", "", ""},
        {"/D=\"C:\\A B\"", false, "C:\\A B", "", ""},
        {"\"/D=C:\\A B\"", false, "C:\\A B", "", ""},
        {"/D=\\\\server\\share\\app", false, "\\\\server\\share\\app", "", ""},
        {"/D=C:\\", false, "C:", "", ""},
        {"/S /X", true, "", "", "Unknown switch: /X"},
        {"/SS", false, "", "", "Unknown switch: /SS"},
        {"-S", false, "", "", "Unknown switch: -S"},
        {"/S/D=C:\\x", false, "", "", "Unknown switch: /S/D=C:\\x"},
        {"/D=relative\\app", false, "", "", "/D= needs a full path"},
        {"/D=C:app", false, "", "", "/D= needs a full path"},
        {"/D=1:\\app", false, "", "", "/D= needs a full path"},
        {"/D=\\\\", false, "", "", "/D= needs a full path"},
        {"/D=\\\\server\\", false, "", "", "/D= needs a full path"},
        {"/D=\\\\\\share\\app", false, "", "", "/D= needs a full path"},
        {"/D=<p>\\App", false, "", "", "/D= cannot hold a folder macro"},
        {"/D=C:\\A|B", false, "", "", "/D= holds a character"},
        {"/D=", false, "", "", "/D= needs a full path"},
        {"/LOG=", false, "", "", "/LOG= needs a file name"},
        {"/LOG=\"c:\\a b", false, "", "", "A double quote is not closed"},
    };
    for (const Case& c : cases) {
        TInstallOptions options;
        options.switches = true;
        options.productFolder = kProductFolder;
        const std::string problem = ParseSwitches(c.arguments, options).Text();
        EXPECT_TRUE(problem.starts_with(c.problem) && (problem.empty() == (*c.problem == 0)))
            << c.arguments << ": " << problem;
        if (!problem.empty()) continue;
        EXPECT_EQ(options.switched, *c.arguments && std::string(c.arguments).find_first_not_of(" \t") != std::string::npos) << c.arguments;
        EXPECT_EQ(options.quiet, c.quiet) << c.arguments;
        EXPECT_EQ(options.installFolder, c.folder) << c.arguments;
        EXPECT_EQ(options.logPath, c.log) << c.arguments;
    }
    TInstallOptions noProduct;
    noProduct.switches = true;
    EXPECT_EQ(ParseSwitches("/D=C:\\App", noProduct).Text(), "This installer has no product folder to move: /D=C:\\App");
}

TEST(Switches, SettingsResourceRoundTripsAndDestinationsMoveOnlyFromTheProductFolder) {
    TInstallOptions written;
    written.switches = written.allUsersShortcuts = true;
    written.productFolder = kProductFolder;
    const std::string bytes = SettingsBytes(written);
    EXPECT_EQ(bytes, "\x05<p>\\Sample"s);
    const TInstallOptions read = ReadSettings(bytes);
    EXPECT_TRUE(read.switches && !read.keepCase && read.allUsersShortcuts);
    EXPECT_EQ(read.productFolder, kProductFolder);
    EXPECT_FALSE(ReadSettings("").switches);

    const std::string product = "c:\\program files\\sample";
    for (auto [destination, moved] : {std::pair{"c:\\program files\\sample\\a.txt", "D:\\Apps\\a.txt"},
                                      {"C:\\Program Files\\Sample\\Sub\\B.txt", "D:\\Apps\\Sub\\B.txt"},
                                      {"c:\\program files\\sample2\\c.txt", "c:\\program files\\sample2\\c.txt"},
                                      {"c:\\program files\\sample", "c:\\program files\\sample"},
                                      {"c:\\windows\\sample\\d.dll", "c:\\windows\\sample\\d.dll"}})
        EXPECT_EQ(MovedInto(destination, product, "D:\\Apps"), moved) << destination;
}

TestEntry Entry(const std::string& destination, const std::string& content, char runMode = '0',
                const std::string& replaceRule = "") {
    return {destination, runMode, {}, replaceRule, test::StoredStream(content)};
}

class Options : public testing::Test {
protected:
    int Run(const TestPackage& package, const std::string& arguments, const std::string& settings) {
        platform.PutFile(platform.Module, test::InstallerBytes(AsBytes("program image"), package));
        return RunWithOptions(platform, arguments, settings);
    }
    static std::string Settings(uint8_t flags) { return static_cast<char>(flags) + std::string(kProductFolder); }
    Lines Log(const std::string& path = "c:\\downloads\\sample.log") const {
        Lines lines;
        std::string text = platform.FileText(path);
        for (size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
            lines.push_back(text.substr(0, end));
        return lines;
    }
    void TearDown() override { EXPECT_EQ(platform.Unanswered, 0) << "a question nobody scripted"; }

    test::TScriptedPlatform platform;
};

// /S answers the confirmation Yes, an asked replace or shortcut No (the
// user's file stays, their folders too), runs "now" entries and nothing at
// the end, and shows no box at all. A file in use makes it exit 2.
TEST_F(Options, QuietRunDecidesWithoutAsking) {
    platform.SetShellFolders();
    platform.PutFile("c:\\app\\settings.ini", AsBytes("the user's"));
    platform.PutFile("c:\\app\\busy.dll", AsBytes("old"));
    TestEntry program = Entry("c:\\app\\app.exe", "program", '2');
    program.Shortcuts = {"?Desk", "", "Menu", "", ""};
    const TestPackage package{"Suite", {Entry("c:\\app\\settings.ini", "defaults", '0', "1settings.ini"), program,
                                        Entry("c:\\app\\setup.exe", "registers", '1')}};
    EXPECT_EQ(Run(package, "/S", Settings(kSwitchesFlag)), kInstallDone);
    EXPECT_EQ(platform.Boxes, Lines{});
    EXPECT_EQ(platform.FileText("c:\\app\\settings.ini"), "the user's");
    EXPECT_EQ(platform.Links, Lines{"C:\\Users\\Me\\Programs\\Menu.lnk -> c:\\app\\app.exe in c:\\app\\"});
    EXPECT_EQ(platform.Executed, Lines{"c:\\app\\setup.exe"});
    EXPECT_EQ(Log().back(), "Completed with NO errors.");

    platform.LockedFiles = {"c:\\app\\busy.dll"};
    EXPECT_EQ(Run({"Suite", {Entry("c:\\app\\busy.dll", "new")}}, "/S", Settings(kSwitchesFlag)), kInstallWithErrors);
    EXPECT_EQ(platform.Boxes, Lines{});
    EXPECT_EQ(Log().back(), "Completed WITH ERRORS.");

    // The same installer without switches asks, and exits 0 as the plain one does.
    platform.Answers = {kAnswerYes};
    EXPECT_EQ(Run({"Suite", {Entry("c:\\app\\busy.dll", "new")}}, "", Settings(kSwitchesFlag)), 0);
    EXPECT_EQ(platform.Boxes.size(), 2u);
}

// Exit codes: a damaged stream fails (1), No to the first question and a
// bad switch are "not started" (3); a bad switch with /S anywhere shows
// nothing. Without the switches setting, arguments are ignored.
TEST_F(Options, ExitCodesAndSwitchesTheSettingsDoNotAccept) {
    Bytes damaged = test::StoredStream("damaged");
    damaged.back() ^= 0xFF;
    EXPECT_EQ(Run({"", {{"c:\\app\\a", '0', {}, "", damaged}}}, "/S", Settings(kSwitchesFlag)), kInstallFailed);
    platform.ReadOnlyDrives = {'q'};  // an unhandled failure, logged where /LOG= says instead of shown
    EXPECT_EQ(Run({"", {Entry("q:\\app\\a", "a")}}, "/LOG=c:\\l.log /S", Settings(kSwitchesFlag)), kInstallFailed);
    EXPECT_TRUE(Log("c:\\l.log").back().starts_with("EStreamError: ")) << Log("c:\\l.log").back();
    EXPECT_EQ(platform.Boxes, Lines{});

    platform.Answers = {kAnswerNo};
    EXPECT_EQ(Run({"Suite", {Entry("c:\\app\\b", "b")}}, "/LOG=c:\\l.log", Settings(kSwitchesFlag)),
              kInstallNotStarted);
    platform.Boxes.clear();
    EXPECT_EQ(Run({"", {Entry("c:\\app\\c", "c")}}, "/X", Settings(kSwitchesFlag)), kInstallNotStarted);
    ASSERT_EQ(platform.Boxes.size(), 1u);
    EXPECT_TRUE(platform.Boxes[0].starts_with("Installer switches|error|Unknown switch: /X"));
    EXPECT_EQ(Run({"", {Entry("c:\\app\\c", "c")}}, "/X /S", Settings(kSwitchesFlag)), kInstallNotStarted);
    EXPECT_EQ(platform.Boxes.size(), 1u);
    EXPECT_FALSE(platform.HasFile("c:\\app\\c"));

    EXPECT_EQ(Run({"", {Entry("c:\\app\\c", "c")}}, "/X /S", Settings(kKeepCaseFlag)), 0);
    EXPECT_EQ(platform.Boxes.size(), 2u);  // the summary: /S ignored
    EXPECT_TRUE(platform.HasFile("c:\\app\\c"));
}

// /D= moves what lies in the product folder, and only that; keep-case
// keeps the manifest's letters (and the folder's as the registry has it).
TEST_F(Options, ProductFolderMovesAndCaseIsKept) {
    const TestPackage package{"", {Entry("<P>\\Sample\\App.EXE", "app"), Entry("<p>\\sample\\Docs\\Read Me.txt", "doc"),
                                   Entry("<p>\\Shared\\Lib.DLL", "lib")}};
    EXPECT_EQ(Run(package, "/S /D=D:\\Tools\\My Sample", Settings(kSwitchesFlag | kKeepCaseFlag)), kInstallDone);
    EXPECT_EQ(Log(), (Lines{"Program: \"c:\\downloads\\sample.exe\" started on 12/5/2026 at 3:04:05 PM",
                            "Extracting file: D:\\Tools\\My Sample\\App.EXE...   ", "OK",
                            "Extracting file: D:\\Tools\\My Sample\\Docs\\Read Me.txt...   ", "OK",
                            "Extracting file: c:\\Program files\\Shared\\Lib.DLL...   ", "OK",
                            "Completed with NO errors."}));
    EXPECT_EQ(platform.FileText("d:\\tools\\my sample\\docs\\read me.txt"), "doc");
    EXPECT_EQ(Run(package, "/S /D=D:\\Lower", Settings(kSwitchesFlag)), kInstallDone);
    EXPECT_EQ(Log()[1], "Extracting file: d:\\lower\\app.exe...   ");  // every letter, as without /D=
}

// All-users shortcuts go into the machine's shell folders; quietly, one
// the registry does not name is an error in the log, not a box.
TEST_F(Options, AllUsersShortcutsGoIntoTheMachinesFolders) {
    platform.SetShellFolders();
    platform.SetValue(RegistryRoot::LocalMachine, kFolders, "Shell Folders", "Common Desktop", "C:\\Users\\Public\\Desktop");
    TestEntry program = Entry("c:\\app\\app.exe", "program");
    program.Shortcuts = {"App", "", "App", "", ""};
    EXPECT_EQ(Run({"", {program}}, "/S", Settings(kSwitchesFlag | kAllUsersFlag)), kInstallWithErrors);
    EXPECT_EQ(platform.Links, Lines{"C:\\Users\\Public\\Desktop\\App.lnk -> c:\\app\\app.exe in c:\\app\\"});
    EXPECT_EQ(Log()[2], "ERROR: Can not save shortcut: Common Programs");
    EXPECT_EQ(platform.Boxes, Lines{});
    EXPECT_EQ(ShellFolder(platform, "Common Desktop"), "C:\\Users\\Public\\Desktop");
    EXPECT_EQ(ShellFolder(platform, "Desktop"), "C:\\Users\\Me\\Desktop");
}

}  // namespace
}  // namespace vorn::setup
