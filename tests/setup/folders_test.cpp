// Destination paths: macros, date stamps, drives, work folder, the folders
// along a path and the system folders read from the registry.
#include <gtest/gtest.h>

#include "setup/folders.h"
#include "setup/setup_errors.h"
#include "tests/setup/scripted_platform.h"

namespace vorn::setup {
namespace {

const TSystemFolders kDefaults = {"c:\\Windows", "c:\\Program files"};

TEST(DateStamp, DayNumbersTimesHundredThousandInHex) {
    EXPECT_EQ(DayNumber(2000, 1, 1), 36526);
    EXPECT_EQ(DayNumber(2017, 8, 3), 42950);
    EXPECT_EQ(DayNumber(2026, 12, 5), 46361);
    const std::pair<int32_t, const char*> stamps[] = {
        {36526, "d9b640c0"}, {36525, "d9b4ba20"}, {42949, "fffef920"}, {42950, "100007fc0"},
        {46361, "1145545a0"}, {1, "000186a0"},  // padded to eight digits
    };
    for (const auto& [day, stamp] : stamps) EXPECT_EQ(DateStamp(day), stamp) << day;
}

TEST(ExpandFolderMacros, MacrosAtTheStartDateStampAndLength) {
    const std::string rest = "\\" + std::string(300, 'a');
    const struct {
        std::string text;
        TSystemFolders folders;
        int32_t day;
        std::string expected;
    } cases[] = {
        {"  <P>\\Sample\\App.EXE\t", kDefaults, 0, "c:\\program files\\sample\\app.exe"},
        {"<w>\\win.ini", kDefaults, 0, "c:\\windows\\win.ini"},
        {"<S>\\vbrun.dll", {"D:\\WINNT", "x"}, 0, "d:\\winnt\\system\\vbrun.dll"},
        {"c:\\<w>\\a", kDefaults, 0, "c:\\<w>\\a"},                // only the first three characters
        {"C:\\\xC4RGER", kDefaults, 0, "c:\\\xC4rger"},            // bytes above 127 stay
        {"c:\\tmp<U>\\x<u>.txt", kDefaults, 36526, "c:\\tmpd9b640c0\\x<u>.txt"},  // the first <u> only
        {"<p>\\<u>\\a", kDefaults, 46361, "c:\\program files\\1145545a0\\a"},
        {"<w>" + rest, kDefaults, 0, "c:\\windows" + rest.substr(0, 255)},  // at most 255 after a macro
    };
    for (const auto& c : cases) EXPECT_EQ(ExpandFolderMacros(c.text, c.folders, c.day), c.expected) << c.text;
}

TEST(QualifyDrive, PathsWithoutDriveGetTheInstallersDrive) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"sample\\app.exe", "D:\\Setup\\x.exe", "D:\\sample\\app.exe"},
        {"\\sample\\app.exe", "D:\\Setup\\x.exe", "D:\\sample\\app.exe"},
        {"e:\\app.exe", "D:\\Setup\\x.exe", "e:\\app.exe"},
        {"odd:name", "D:\\Setup\\x.exe", "odd:name"},
        // From a network path the destination stays on the installer's share.
        {"app\\a.exe", "\\\\Server\\Share\\Setup\\x.exe", "\\\\Server\\Share\\app\\a.exe"},
        {"a.exe", "\\\\Server", "\\\\Server\\a.exe"},
    };
    for (const auto& [path, module, expected] : cases) EXPECT_EQ(QualifyDrive(path, module), expected) << path;
}

TEST(Folders, WorkFolderAndPathFolders) {
    test::ScriptedPlatform platform;
    platform.DriveTypes = {{'a', kDriveRemovable}, {'d', kDriveCdRom}, {'n', 4}};
    EXPECT_EQ(FindWorkFolder(platform, "a:\\setup\\sample.exe"), "c:\\");  // removable: the C root
    EXPECT_EQ(FindWorkFolder(platform, "d:\\setup\\sample.exe"), "d:\\setup\\");
    EXPECT_EQ(FindWorkFolder(platform, "n:\\sample.exe"), "n:\\");
    EXPECT_EQ(FindWorkFolder(platform, "c:\\dl\\sample.exe"), "c:\\dl\\");

    CreatePathFolders(platform, "c:\\a\\b\\file.txt");
    EXPECT_TRUE(std::filesystem::is_directory(platform.HostPath("c:\\a\\b")));
    EXPECT_FALSE(std::filesystem::exists(platform.HostPath("c:\\a\\b\\file.txt")));
    CreatePathFolders(platform, "c:\\a\\b\\c\\");  // existing folders are fine
    EXPECT_TRUE(std::filesystem::is_directory(platform.HostPath("c:\\a\\b\\c")));
    CreatePathFolders(platform, "c:\\");
}

TEST(SystemFolders, RegistryValuesByPlatform) {
    const char* nt = "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    const char* win = "\\Software\\Microsoft\\Windows\\CurrentVersion";
    test::ScriptedPlatform platform;
    auto set = [&](const char* key, const char* value, const char* text) {
        platform.SetString(RegistryRoot::LocalMachine, key, "", value, text);
    };
    auto folders = [&] {
        const TSystemFolders f = LoadSystemFolders(platform);
        return f.Windows + "|" + f.ProgramFiles;
    };
    EXPECT_EQ(folders(), "c:\\Windows|c:\\Program files");
    // NT takes Program Files from the Windows key while its own lacks it.
    set(nt, "SystemRoot", "C:\\WINDOWS");
    set(win, "ProgramFilesDir", "D:\\Programme");
    EXPECT_EQ(folders(), "C:\\WINDOWS|D:\\Programme");
    set(nt, "ProgramFilesDir", "E:\\Apps");
    EXPECT_EQ(folders(), "C:\\WINDOWS|E:\\Apps");
    // Windows 9x reads only its own key; other platforms none.
    set(win, "SystemRoot", "C:\\WIN95");
    platform.Id = kPlatformWindows;
    EXPECT_EQ(folders(), "C:\\WIN95|D:\\Programme");
    platform.Id = 0;
    EXPECT_EQ(folders(), "c:\\Windows|c:\\Program files");
    // A key that cannot be opened reads as empty; a value that is no string stops.
    platform.Id = kPlatformNt;
    platform.DeniedKeys = {"software\\microsoft\\windows nt\\currentversion"};
    EXPECT_EQ(folders(), "c:\\Windows|D:\\Programme");
    platform.DeniedKeys.clear();
    platform.SetNonString(RegistryRoot::LocalMachine, nt, "", "ProgramFilesDir");
    try {
        LoadSystemFolders(platform);
        FAIL() << "a DWORD folder value was accepted";
    } catch (const ERegistryDataType& e) {
        EXPECT_EQ(e.Message, "Invalid data type for 'ProgramFilesDir'");
    }
}

}  // namespace
}  // namespace vorn::setup
