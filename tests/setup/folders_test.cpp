// Destination paths: macros, date stamps, drives and the system folders read
// from the registry. The work folder and the folders along a path are
// checked through whole runs in installer_test.
#include <gtest/gtest.h>

#include "setup/folders.h"
#include "setup/setup_errors.h"
#include "tests/setup/scripted_platform.h"

namespace vorn::setup {
namespace {

using namespace std::string_literals;

TEST(DateStamp, DayNumbersTimesHundredThousandInHex) {
    EXPECT_EQ(DayNumber(2000, 1, 1), 36526);
    EXPECT_EQ(DayNumber(2026, 12, 5), 46361);
    const std::pair<int32_t, const char*> stamps[] = {
        {36526, "d9b640c0"}, {36525, "d9b4ba20"}, {42949, "fffef920"}, {42950, "100007fc0"},
        {46361, "1145545a0"}, {1, "000186a0"},  // padded to eight digits
    };
    for (const auto& [day, stamp] : stamps) EXPECT_EQ(DateStamp(day), stamp) << day;
}

TEST(ExpandFolderMacros, MacrosAtTheStartDateStampAndLength) {
    const std::string rest = "\\" + std::string(300, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"  <P>\\Sample\\App.EXE\t", "c:\\program files\\sample\\app.exe"},
        {"<w>\\win.ini", "d:\\winnt\\win.ini"},
        {"<S>\\vbrun.dll", "d:\\winnt\\system\\vbrun.dll"},
        {"c:\\<w>\\a", "c:\\<w>\\a"},                                 // only the first three characters
        {"C:\\\xC4RGER", "c:\\\xC4rger"},                             // bytes above 127 stay
        {"c:\\tmp<U>\\x<u>.txt", "c:\\tmp1145545a0\\x<u>.txt"},       // the first <u> only
        {"<w>" + rest, "d:\\winnt" + rest.substr(0, 255)},            // at most 255 after a macro
        {"<L>\\Tool\\t.exe", "c:\\users\\me\\appdata\\local\\programs\\tool\\t.exe"},
    };
    const TSystemFolders folders("D:\\WINNT", "D:\\WINNT\\system", "c:\\Program files",
                                 "C:\\Users\\Me\\AppData\\Local\\Programs");
    for (const auto& [text, expected] : cases) EXPECT_EQ(ExpandFolderMacros(text, folders, 46361), expected) << text;
    // A user without local application data keeps the macro, which no file name can hold.
    EXPECT_EQ(ExpandFolderMacros("<l>\\t.exe", TSystemFolders("c:\\w", "c:\\w\\system", "c:\\p", ""), 46361),
              "<l>\\t.exe");
}

TEST(QualifyDrive, PathsWithoutDriveGetTheInstallersDrive) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"\\sample\\app.exe", "D:\\Setup\\x.exe", "D:\\sample\\app.exe"},
        {"odd:name", "D:\\Setup\\x.exe", "odd:name"},
        // From a network path the destination stays on the installer's share.
        {"app\\a.exe", "\\\\Server\\Share\\Setup\\x.exe", "\\\\Server\\Share\\app\\a.exe"},
        {"a.exe", "\\\\Server", "\\\\Server\\a.exe"},
    };
    for (const auto& [path, module, expected] : cases) EXPECT_EQ(QualifyDrive(path, module), expected) << path;
}

// The builder's and the extractor's values for a folder within the Windows
// folder follow the Windows folder's, as the installer's do.
TEST(SystemFolders, TheTablesFoldersWithinTheWindowsFolderAgree) {
    const TFolderMacro& windows = kFolderMacros[static_cast<size_t>(MacroFolder::Windows)];
    for (const TFolderMacro& macro : kFolderMacros) {
        if (macro.source != FolderSource::WindowsFolder) continue;
        EXPECT_EQ(std::string(macro.longest), windows.longest + "\\"s + macro.name) << macro.text;
        EXPECT_EQ(Lowercase(macro.readable), Lowercase(windows.readable + "\\"s + macro.name)) << macro.text;
    }
}

TEST(SystemFolders, RegistryValuesByPlatform) {
    test::TScriptedPlatform platform;
    auto set = [&](const char* key, const char* value, std::optional<std::string> text) {
        platform.SetValue(RegistryRoot::LocalMachine, "\\Software\\Microsoft\\"s + key + "\\CurrentVersion", "",
                          value, std::move(text));
    };
    auto folders = [&](uint32_t id) {
        platform.Id = id;
        const TSystemFolders f = LoadSystemFolders(platform);
        return f[MacroFolder::Windows] + "|" + f[MacroFolder::ProgramFiles];
    };
    EXPECT_EQ(folders(kPlatformNt), "c:\\Windows|c:\\Program files");
    EXPECT_EQ(LoadSystemFolders(platform)[MacroFolder::System], "c:\\Windows\\system");
    EXPECT_EQ(LoadSystemFolders(platform)[MacroFolder::UserPrograms], "");
    platform.SetValue(RegistryRoot::CurrentUser, "Software\\Microsoft\\windows nt\\CurrentVersion\\Explorer",
                      "Shell Folders", "Local AppData", "C:\\Users\\Me\\AppData\\Local");
    EXPECT_EQ(LoadSystemFolders(platform)[MacroFolder::UserPrograms], "C:\\Users\\Me\\AppData\\Local\\Programs");
    set("Windows", "SystemRoot", "C:\\WIN95");
    EXPECT_EQ(folders(kPlatformNt), "c:\\Windows|c:\\Program files");  // SystemRoot from NT's own key only
    set("Windows NT", "SystemRoot", "C:\\WINDOWS");
    set("Windows", "ProgramFilesDir", "D:\\Programme");
    EXPECT_EQ(folders(kPlatformNt), "C:\\WINDOWS|D:\\Programme");  // Program Files from the Windows key
    EXPECT_EQ(folders(kPlatformWindows), "C:\\WIN95|D:\\Programme");
    EXPECT_EQ(folders(0), "c:\\Windows|c:\\Program files");  // no key for other platforms
    set("Windows NT", "ProgramFilesDir", "E:\\Apps");
    EXPECT_EQ(folders(kPlatformNt), "C:\\WINDOWS|E:\\Apps");
    set("Windows NT", "ProgramFilesDir", std::nullopt);
    EXPECT_THROW(folders(kPlatformNt), ERegistryDataType);
}

}  // namespace
}  // namespace vorn::setup
