// Destination paths: the work folder, the system folders behind the macros,
// macro expansion with the date stamp, drive qualification and the folders
// along a path.
#pragma once

#include <cstdint>
#include <string>

#include "setup/platform.h"

namespace vorn::setup {

struct TSystemFolders {
    std::string windows;
    std::string programFiles;
    std::string userPrograms;  // empty where the user has no local application data folder
};

// The folder macros recognised at the start of a destination, in the order
// they are tried, and the folder each stands for.
enum class MacroFolder { Windows, System, ProgramFiles, UserPrograms };
struct TFolderMacro {
    const char* text;
    MacroFolder folder;
    const char* words;  // for messages
    bool adminOnly;     // only an administrator can write there
};
inline constexpr TFolderMacro kFolderMacros[] = {
    {"<w>", MacroFolder::Windows, "the Windows folder", true},
    {"<s>", MacroFolder::System, "the Windows folder's system", true},
    {"<p>", MacroFolder::ProgramFiles, "Program Files", true},
    {"<l>", MacroFolder::UserPrograms, "the user's own programs folder", false},
};
inline constexpr size_t kMacroLength = 3;
// The date stamp's macro, recognised anywhere (its first occurrence).
inline constexpr char kStampMacro[] = "<u>";

// The folder a macro stands for; empty for a user without one.
std::string MacroFolderPath(const TSystemFolders& folders, MacroFolder folder);
// The macro at the start of a lowercased destination, or null.
const TFolderMacro* LeadingMacro(const std::string& path);

// Converts A to Z only; every other byte stays.
std::string Lowercase(std::string text);
// Drops every byte of value 32 or less from both ends.
std::string Trim(const std::string& text);
// Everything up to and including the last "\"; empty when there is none.
std::string FolderPart(const std::string& path);

// The installer's folder, lowercased and ending in "\"; "c:\" when it lies on
// a removable drive.
std::string FindWorkFolder(TPlatform& platform, const std::string& installerPath);
// One of the current user's shell folders as the registry names it
// ("Desktop", "Local AppData", ...), or, where the installer knows its
// options, one of the machine's for a name starting kCommonFolderPrefix
// ("Common Desktop"); empty when it names none.
std::string ShellFolder(TPlatform& platform, const std::string& folderName);
// SystemRoot and ProgramFilesDir from the machine's registry, or the
// defaults, and the user's programs folder: "Programs" in the user's local
// application data.
TSystemFolders LoadSystemFolders(TPlatform& platform);

// Days since 30 December 1899 of a date of the Gregorian calendar; and the
// date of such a day number.
int32_t DayNumber(int year, int month, int day);
void CivilDate(int32_t dayNumber, int& year, int& month, int& day);
// The "<u>" replacement: day number times 100000 in hexadecimal, at least
// eight digits.
std::string DateStamp(int32_t dayNumber);
// Lowercases and trims text and replaces a folder macro at the start and
// the first "<u>". "<l>" stays as it is for a user without the folder, so
// that the file cannot be created rather than land elsewhere.
std::string ExpandFolderMacros(const std::string& text, const TSystemFolders& folders,
                               int32_t today);
// The same, keeping the case of the text and of the folders; macros are
// recognised in either case.
std::string ExpandFolderMacrosKeepingCase(const std::string& text, const TSystemFolders& folders,
                                          int32_t today);
// A path without ":" gets the drive of the installer's module path (its
// server and share when the installer runs from a network path).
std::string QualifyDrive(const std::string& path, const std::string& modulePath);
// Creates every folder along path, shallowest first; failures are ignored.
void CreatePathFolders(TPlatform& platform, const std::string& path);

}  // namespace vorn::setup
