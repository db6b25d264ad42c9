// Destination paths: the work folder, the system folders behind the macros,
// macro expansion with the date stamp, drive qualification and the folders
// along a path.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "setup/platform.h"

namespace vorn::setup {

// The folder macros recognised at the start of a destination, in the order
// they are tried. A row holds everything about its folder; adding a macro
// is one row (and a test row).
enum class MacroFolder : uint8_t { Windows, System, ProgramFiles, UserPrograms };
inline constexpr size_t kMacroFolderCount = 4;

// Where a macro's folder comes from on the installing machine.
enum class FolderSource : uint8_t {
    MachineValue,   // a value of the machine's CurrentVersion key, or a default
    WindowsFolder,  // a folder in the Windows folder
    LocalAppData,   // a folder in the user's local application data; none without one
};

struct TFolderMacro {
    const char* text;  // as a destination starts with it
    MacroFolder folder;
    FolderSource source;
    const char* name;      // MachineValue: the value's name; otherwise the folder's own name
    const char* fallback;  // MachineValue: the folder where the machine names none
    bool ntWindowsKey;     // MachineValue: NT may keep it under the Windows key only
    const char* words;     // for messages
    const char* readable;  // its name where `vornpack extract` lays out the files
    const char* longest;   // the longest value it usually takes, for the builder's length rules
    bool adminOnly;        // only an administrator can write there
    bool shared;           // the system's own: other programs' files live there too
};
inline constexpr TFolderMacro kFolderMacros[] = {
    {"<w>", MacroFolder::Windows, FolderSource::MachineValue, "SystemRoot", "c:\\Windows", false,
     "the Windows folder", "windows", "C:\\WINDOWS", true, true},
    {"<s>", MacroFolder::System, FolderSource::WindowsFolder, "system", nullptr, false,
     "the Windows folder's system", "windows\\system", "C:\\WINDOWS\\system", true, true},
    {"<p>", MacroFolder::ProgramFiles, FolderSource::MachineValue, "ProgramFilesDir", "c:\\Program files", true,
     "Program Files", "program files", "C:\\Program Files (x86)", true, false},
    {"<l>", MacroFolder::UserPrograms, FolderSource::LocalAppData, "Programs", nullptr, false,
     "the user's own programs folder", "user programs", "C:\\Users\\ABCDEFGHIJKLMNOPQRST\\AppData\\Local\\Programs",
     false, false},
};
static_assert(std::size(kFolderMacros) == kMacroFolderCount);
static_assert([] {
    for (size_t i = 0; i < kMacroFolderCount; ++i)
        if (static_cast<size_t>(kFolderMacros[i].folder) != i) return false;
    return true;
}(), "each macro's row stands at its folder's index");
// A folder within the Windows folder is filled after it.
static_assert(MacroFolder::Windows < MacroFolder::System);

// The folders behind the macros on one machine, indexed by MacroFolder;
// empty where a user has none. Made with every folder or none, so that a
// forgotten one cannot compile.
class TSystemFolders {
public:
    TSystemFolders() = default;
    template <typename... Folders>
        requires(sizeof...(Folders) == kMacroFolderCount)
    explicit TSystemFolders(Folders&&... folders) : folders_{std::string(std::forward<Folders>(folders))...} {}
    // The folders named by one column of the macro table.
    static TSystemFolders Column(const char* TFolderMacro::*column);

    const std::string& operator[](MacroFolder folder) const { return folders_[static_cast<size_t>(folder)]; }
    std::string& operator[](MacroFolder folder) { return folders_[static_cast<size_t>(folder)]; }

private:
    std::array<std::string, kMacroFolderCount> folders_;
};

inline constexpr size_t kMacroLength = 3;
// The date stamp's macro, recognised anywhere (its first occurrence).
inline constexpr char kStampMacro[] = "<u>";

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
// Every macro's folder as its row says: SystemRoot and ProgramFilesDir
// from the machine's registry or the defaults, the system folder in the
// Windows folder, and "Programs" in the user's local application data.
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
