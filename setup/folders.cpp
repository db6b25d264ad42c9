#include "setup/folders.h"

#include "setup/install_options.h"
#include "setup/package_format.h"

namespace vorn::setup {

namespace {

constexpr const char* kWindowsKey = "\\Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kNtKey = "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kRemovableWorkFolder = "c:\\";

constexpr const char* kExplorerKey = "Software\\Microsoft\\windows\\CurrentVersion\\Explorer";
constexpr const char* kNtExplorerKey = "Software\\Microsoft\\windows nt\\CurrentVersion\\Explorer";
constexpr const char* kShellFoldersKey = "Shell Folders";
constexpr const char* kLocalAppDataFolder = "Local AppData";

constexpr int64_t kStampFactor = 100000;
constexpr size_t kStampMinDigits = 8;

std::string MachineString(TPlatform& platform, const char* key, const char* value) {
    return platform.RegistryString(RegistryRoot::LocalMachine, key, "", value);
}

// Days since 1 March of year 0 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra;
}

// The drive letter and colon of a path, or for a network path (\\server\share\...)
// its server and share, so that a destination without a drive stays beside
// the installer instead of becoming "\\\path".
std::string DriveOf(const std::string& modulePath) {
    if (!modulePath.starts_with("\\\\")) return modulePath.substr(0, 2);
    const size_t shareStart = modulePath.find('\\', 2);
    if (shareStart == std::string::npos) return modulePath;
    return modulePath.substr(0, modulePath.find('\\', shareStart + 1));
}

}  // namespace

TSystemFolders TSystemFolders::Column(const char* TFolderMacro::*column) {
    TSystemFolders folders;
    for (const TFolderMacro& macro : kFolderMacros) folders[macro.folder] = macro.*column;
    return folders;
}

const TFolderMacro* LeadingMacro(const std::string& path) {
    for (const TFolderMacro& macro : kFolderMacros)
        if (path.starts_with(macro.text)) return &macro;
    return nullptr;
}

std::string Lowercase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Trim(const std::string& text) {
    auto isSpace = [](char c) { return static_cast<uint8_t>(c) <= 32; };
    size_t first = 0, last = text.size();
    while (first < last && isSpace(text[first])) ++first;
    while (last > first && isSpace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string FolderPart(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FindWorkFolder(TPlatform& platform, const std::string& installerPath) {
    std::string folder = Lowercase(FolderPart(installerPath));
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    const std::string root = std::string(1, folder[0]) + ":\\";
    return platform.DriveTypeOf(root) == kDriveRemovable ? kRemovableWorkFolder : folder;
}

// The plain stub's code stays as it was, byte for byte: what only the
// options stub and the remover do is left out of its build.
std::string ShellFolder(TPlatform& platform, const std::string& folderName) {
#if VORN_INSTALL_OPTIONS
    if (folderName.starts_with(kCommonFolderPrefix))
        return platform.RegistryString(RegistryRoot::LocalMachine, kExplorerKey, kShellFoldersKey, folderName);
#endif
    std::string folder =
        platform.RegistryString(RegistryRoot::CurrentUser, kExplorerKey, kShellFoldersKey, folderName);
    if (folder.empty())
        folder = platform.RegistryString(RegistryRoot::CurrentUser, kNtExplorerKey,
                                         kShellFoldersKey, folderName);
    return folder;
}

TSystemFolders LoadSystemFolders(TPlatform& platform) {
    TSystemFolders folders;
    const uint32_t id = platform.PlatformId();
    const char* key = id == kPlatformWindows ? kWindowsKey : id == kPlatformNt ? kNtKey : nullptr;
    for (const TFolderMacro& macro : kFolderMacros) {
        std::string& folder = folders[macro.folder];
        switch (macro.source) {
            case FolderSource::MachineValue:
                if (key) folder = MachineString(platform, key, macro.name);
                if (id == kPlatformNt && macro.ntWindowsKey && folder.empty())
                    folder = MachineString(platform, kWindowsKey, macro.name);
                if (folder.empty()) folder = macro.fallback;
                break;
            case FolderSource::WindowsFolder:
                folder = folders[MacroFolder::Windows] + "\\" + macro.name;
                break;
            case FolderSource::LocalAppData:
                if (const std::string data = ShellFolder(platform, kLocalAppDataFolder); !data.empty())
                    folder = data + "\\" + macro.name;
                break;
        }
    }
    return folders;
}

int32_t DayNumber(int year, int month, int day) {
    return static_cast<int32_t>(DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30));
}

// DaysFromCivil's inverse, for a day number.
void CivilDate(int32_t dayNumber, int& year, int& month, int& day) {
    const int64_t days = dayNumber + DaysFromCivil(1899, 12, 30);
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

std::string DateStamp(int32_t dayNumber) {
    // The day number is whole, so its product with the factor is exact.
    uint64_t value = static_cast<uint64_t>(int64_t{dayNumber} * kStampFactor);
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdef"[value & 15]);
        value >>= 4;
    } while (value != 0);
    if (digits.size() < kStampMinDigits) digits.insert(0, kStampMinDigits - digits.size(), '0');
    return digits;
}

std::string ExpandFolderMacros(const std::string& text, const TSystemFolders& folders,
                               int32_t today) {
    std::string path = Trim(Lowercase(text));
    // Each macro is tried on what the one before left, as the installer
    // always has; at most kNameLimit of the rest follows the folder.
    for (const TFolderMacro& macro : kFolderMacros) {
        if (!path.starts_with(macro.text)) continue;
        const std::string& folder = folders[macro.folder];
        if (!folder.empty()) path = folder + path.substr(kMacroLength, kNameLimit);
    }
    const size_t at = path.find(kStampMacro);
    if (at != std::string::npos)
        path = path.substr(0, at) + DateStamp(today) + path.substr(at + kMacroLength, kNameLimit);
    return Lowercase(path);
}

#if VORN_INSTALL_OPTIONS
namespace {

// Whether the macro stands at path[at], in either case.
bool MacroAt(const std::string& path, size_t at, const char* macro) {
    for (size_t i = 0; i < kMacroLength; ++i)
        if (at + i >= path.size() || (path[at + i] | 0x20) != macro[i]) return false;
    return true;
}

// path with the macro at path[at] replaced by folder, and at most kNameLimit
// of what followed it. One function for both replacements: each written
// out costs the stub its string temporaries and their cleanups.
std::string Replaced(const std::string& path, size_t at, const std::string& folder) {
    return path.substr(0, at) + folder + path.substr(at + kMacroLength, kNameLimit);
}

}  // namespace

// ExpandFolderMacros' twin for the options stub, which takes only this one
// and lowercases its result where the case is not kept: the plain stub's
// expansion stays as it was. ("|0x20" lowercases the macros' letters and
// keeps '<' and '>'.)
std::string ExpandFolderMacrosKeepingCase(const std::string& text, const TSystemFolders& folders,
                                          int32_t today) {
    std::string path = Trim(text);
    for (const TFolderMacro& macro : kFolderMacros) {
        if (!MacroAt(path, 0, macro.text)) continue;
        const std::string& folder = folders[macro.folder];
        if (!folder.empty()) path = Replaced(path, 0, folder);
    }
    for (size_t at = 0; at < path.size(); ++at)
        if (MacroAt(path, at, kStampMacro)) return Replaced(path, at, DateStamp(today));
    return path;
}
#endif

std::string QualifyDrive(const std::string& path, const std::string& modulePath) {
    if (path.find(':') != std::string::npos) return path;
    const std::string rooted = !path.empty() && path[0] == '\\' ? path : "\\" + path;
    return DriveOf(modulePath) + rooted;
}

void CreatePathFolders(TPlatform& platform, const std::string& path) {
    if (path.size() <= 3) return;
    std::string prefix = path.substr(0, 3);
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == '\\') platform.MakeFolder(prefix);
        prefix += path[i];
    }
}

}  // namespace vorn::setup
