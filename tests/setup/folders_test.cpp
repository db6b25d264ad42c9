// Destination paths: macros, date stamps, drives, work folder, the folders
// along a path and the system folders read from the registry.
#include <gtest/gtest.h>

#include "setup/folders.h"
#include "setup/setup_errors.h"
#include "tests/setup/scripted_platform.h"

namespace vorn::setup {
namespace {

const TSystemFolders kDefaults = {"c:\\Windows", "c:\\Program files"};
constexpr int32_t kNewYear2000 = 36526;

TEST(DateStamp, DayNumbersTimesHundredThousandInHex) {
    EXPECT_EQ(DayNumber(2000, 1, 1), kNewYear2000);
    EXPECT_EQ(DateStamp(DayNumber(2000, 1, 1)), "d9b640c0");
    EXPECT_EQ(DateStamp(DayNumber(1999, 12, 31)), "d9b4ba20");
    EXPECT_EQ(DayNumber(2017, 8, 3), 42950);
    EXPECT_EQ(DateStamp(42949).size(), 8u);
    EXPECT_EQ(DateStamp(42950).size(), 9u);
    EXPECT_EQ(DayNumber(2026, 12, 5), 46361);
    EXPECT_EQ(DateStamp(46361), "1145545a0");
    EXPECT_EQ(DateStamp(1), "000186a0");  // padded to eight digits
}

TEST(ExpandFolderMacros, MacrosAtTheStartInAnyCase) {
    EXPECT_EQ(ExpandFolderMacros("  <P>\\Sample\\App.EXE\t", kDefaults, 0),
              "c:\\program files\\sample\\app.exe");
    EXPECT_EQ(ExpandFolderMacros("<w>\\win.ini", kDefaults, 0), "c:\\windows\\win.ini");
    EXPECT_EQ(ExpandFolderMacros("<S>\\vbrun.dll", {"D:\\WINNT", "x"}, 0),
              "d:\\winnt\\system\\vbrun.dll");
    // Only the first three characters hold a folder macro.
    EXPECT_EQ(ExpandFolderMacros("c:\\<w>\\a", kDefaults, 0), "c:\\<w>\\a");
    // Bytes above 127 are not letters to lowercase.
    EXPECT_EQ(ExpandFolderMacros("C:\\\xC4RGER", kDefaults, 0), "c:\\\xC4rger");
}

TEST(ExpandFolderMacros, DateStampReplacesTheFirstUOnly) {
    EXPECT_EQ(ExpandFolderMacros("c:\\tmp<U>\\x<u>.txt", kDefaults, kNewYear2000),
              "c:\\tmpd9b640c0\\x<u>.txt");
    EXPECT_EQ(ExpandFolderMacros("<p>\\<u>\\a", kDefaults, 46361),
              "c:\\program files\\1145545a0\\a");
}

TEST(ExpandFolderMacros, RestAfterAMacroKeepsAtMost255Characters) {
    const std::string rest = "\\" + std::string(300, 'a');
    EXPECT_EQ(ExpandFolderMacros("<w>" + rest, kDefaults, 0), "c:\\windows" + rest.substr(0, 255));
}

TEST(QualifyDrive, PathsWithoutDriveGetTheInstallersDrive) {
    EXPECT_EQ(QualifyDrive("sample\\app.exe", "D:\\Setup\\x.exe"), "D:\\sample\\app.exe");
    EXPECT_EQ(QualifyDrive("\\sample\\app.exe", "D:\\Setup\\x.exe"), "D:\\sample\\app.exe");
    EXPECT_EQ(QualifyDrive("e:\\app.exe", "D:\\Setup\\x.exe"), "e:\\app.exe");
    EXPECT_EQ(QualifyDrive("odd:name", "D:\\Setup\\x.exe"), "odd:name");
    // From a network path the destination stays on the installer's share.
    EXPECT_EQ(QualifyDrive("app\\a.exe", "\\\\Server\\Share\\Setup\\x.exe"),
              "\\\\Server\\Share\\app\\a.exe");
    EXPECT_EQ(QualifyDrive("a.exe", "\\\\Server"), "\\\\Server\\a.exe");
}

TEST(FindWorkFolder, RemovableDrivesUseTheCRoot) {
    test::ScriptedPlatform platform;
    platform.DriveTypes = {{'a', kDriveRemovable}, {'d', kDriveCdRom}, {'n', 4}};
    EXPECT_EQ(FindWorkFolder(platform, "a:\\setup\\sample.exe"), "c:\\");
    EXPECT_EQ(FindWorkFolder(platform, "d:\\setup\\sample.exe"), "d:\\setup\\");
    EXPECT_EQ(FindWorkFolder(platform, "n:\\sample.exe"), "n:\\");
    EXPECT_EQ(FindWorkFolder(platform, "c:\\dl\\sample.exe"), "c:\\dl\\");
}

TEST(CreatePathFolders, CreatesEveryFolderButNotTheFile) {
    test::ScriptedPlatform platform;
    CreatePathFolders(platform, "c:\\a\\b\\file.txt");
    EXPECT_TRUE(std::filesystem::is_directory(platform.HostPath("c:\\a\\b")));
    EXPECT_FALSE(std::filesystem::exists(platform.HostPath("c:\\a\\b\\file.txt")));
    CreatePathFolders(platform, "c:\\a\\b\\c\\");  // again: existing folders are fine
    EXPECT_TRUE(std::filesystem::is_directory(platform.HostPath("c:\\a\\b\\c")));
    CreatePathFolders(platform, "c:\\");
}

class SystemFolders : public testing::Test {
protected:
    static constexpr const char* kNt = "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    static constexpr const char* k9x = "\\Software\\Microsoft\\Windows\\CurrentVersion";
    void Set(const char* key, const char* value, const char* text) {
        platform.SetString(RegistryRoot::LocalMachine, key, "", value, text);
    }
    test::ScriptedPlatform platform;
};

TEST_F(SystemFolders, DefaultsWithoutValues) {
    const TSystemFolders folders = LoadSystemFolders(platform);
    EXPECT_EQ(folders.Windows, "c:\\Windows");
    EXPECT_EQ(folders.ProgramFiles, "c:\\Program files");
}

TEST_F(SystemFolders, NtTakesProgramFilesFromTheWindowsKeyWhenItsOwnLacksIt) {
    Set(kNt, "SystemRoot", "C:\\WINDOWS");
    Set(k9x, "ProgramFilesDir", "D:\\Programme");
    TSystemFolders folders = LoadSystemFolders(platform);
    EXPECT_EQ(folders.Windows, "C:\\WINDOWS");
    EXPECT_EQ(folders.ProgramFiles, "D:\\Programme");

    Set(kNt, "ProgramFilesDir", "E:\\Apps");  // its own key still comes first
    EXPECT_EQ(LoadSystemFolders(platform).ProgramFiles, "E:\\Apps");
}

TEST_F(SystemFolders, Windows9xReadsOnlyItsKeyAndOtherPlatformsNone) {
    Set(k9x, "SystemRoot", "C:\\WIN95");
    Set(kNt, "ProgramFilesDir", "E:\\Apps");
    platform.Id = kPlatformWindows;
    EXPECT_EQ(LoadSystemFolders(platform).Windows, "C:\\WIN95");
    EXPECT_EQ(LoadSystemFolders(platform).ProgramFiles, "c:\\Program files");
    platform.Id = 0;
    EXPECT_EQ(LoadSystemFolders(platform).Windows, "c:\\Windows");
}

TEST_F(SystemFolders, UnopenableKeyReadsAsEmptyButANonStringValueStops) {
    Set(kNt, "SystemRoot", "C:\\WINDOWS");
    platform.DeniedKeys = {"software\\microsoft\\windows nt\\currentversion"};
    EXPECT_EQ(LoadSystemFolders(platform).Windows, "c:\\Windows");
    platform.DeniedKeys.clear();
    platform.SetNonString(RegistryRoot::LocalMachine, kNt, "", "ProgramFilesDir");
    try {
        LoadSystemFolders(platform);
        FAIL() << "a DWORD folder value was accepted";
    } catch (const ERegistryDataType& e) {
        EXPECT_EQ(e.Message, "Invalid data type for 'ProgramFilesDir'");
    }
}

}  // namespace
}  // namespace vorn::setup
