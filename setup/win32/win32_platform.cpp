#include "setup/win32/win32_platform.h"

#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "setup/folders.h"
#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

// The shell-link object and the two interfaces the installer uses.
constexpr GUID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kShellLinkInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kUnknownInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr DWORD kOsVersionInfoSize = 148;
constexpr size_t kTextBufferSize = 256;

// Closes a registry key on every way out.
class TKey {
public:
    ~TKey() {
        if (handle) ::RegCloseKey(handle);
    }
    HKEY handle = nullptr;
};

// Releases a COM interface on every way out.
template <class T>
class TComRef {
public:
    ~TComRef() {
        if (pointer) pointer->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&pointer); }
    T* pointer = nullptr;
};

std::string ValueText(HKEY key, const std::string& valueName) {
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return "";
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryDataType(valueName);
    std::vector<char> data(size + 1, '\0');
    if (::RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return "";
    return std::string(data.data());  // up to the first NUL
}

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return wide;
}

// Room for the longest wide path, with its NUL.
constexpr DWORD kLongestPath = 32768;
using WideText = std::vector<wchar_t>;

// The text in the ANSI code page; false when the code page lacks one of its
// characters (best-fit substitutes count as lacking: they name another file).
bool ToAnsi(const wchar_t* wide, std::string& ansi) {
    const bool utf8 = ::GetACP() == CP_UTF8;  // holds everything, and takes no flags
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = utf8 ? nullptr : &lossy;
    const int size = ::WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, lossyOut);
    std::vector<char> text(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, wide, -1, text.data(), size, nullptr, lossyOut);
    ansi = text.data();
    return !lossy;
}

// A path the ANSI calls can open: the path itself when the code page holds
// it, else its short (8.3) form when that exists and the code page holds it,
// else the lossy conversion (with "?" where characters are missing).
std::string AnsiUsablePath(const WideText& path) {
    std::string ansi, shortAnsi;
    if (ToAnsi(path.data(), ansi)) return ansi;
    WideText shortPath(kLongestPath);
    const DWORD length = ::GetShortPathNameW(path.data(), shortPath.data(), kLongestPath);
    return length > 0 && length < kLongestPath && ToAnsi(shortPath.data(), shortAnsi) ? shortAnsi : ansi;
}

std::string TwoDigits(WORD value) {
    return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

void RestrictDllSearchToSystemFolder() {
    constexpr DWORD kSearchSystemFolderOnly = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    // Looked up at run time because older systems lack the call.
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const FARPROC found = ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (!found) return;
    reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void (*)()>(found))(kSearchSystemFolderOnly);
}

void TWin32Platform::StartCom() { ::CoInitialize(nullptr); }

std::string TWin32Platform::ModulePath() {
    WideText path(kLongestPath);
    ::GetModuleFileNameW(nullptr, path.data(), kLongestPath);
    return AnsiUsablePath(path);
}

std::string TWin32Platform::TempFolder() {
    WideText path(kLongestPath);
    ::GetTempPathW(kLongestPath, path.data());
    return AnsiUsablePath(path);
}

int TWin32Platform::ShowBox(const std::string& text, const std::string& caption, uint32_t style) {
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

void TWin32Platform::Execute(const std::string& file) {
    ::ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, nullptr, SW_SHOW);
}

std::unique_ptr<TStream> TWin32Platform::OpenRead(const std::string& path) {
    return std::make_unique<TFileStream>(path, FileMode::OpenRead);
}

std::unique_ptr<TStream> TWin32Platform::CreateNew(const std::string& path) {
    return std::make_unique<TFileStream>(path, FileMode::Create);
}

bool TWin32Platform::Exists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TWin32Platform::RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool TWin32Platform::MakeFolder(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

uint32_t TWin32Platform::DriveTypeOf(const std::string& root) { return ::GetDriveTypeA(root.c_str()); }

uint32_t TWin32Platform::PlatformId() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = kOsVersionInfoSize;
    return ::GetVersionExA(&version) ? version.dwPlatformId : 0;
}

std::string TWin32Platform::RegistryString(RegistryRoot root, const std::string& keyPath,
                                           const std::string& subKey,
                                           const std::string& valueName) {
    HKEY rootKey = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    // A leading "\" only says the path starts at the root key.
    const std::string path = keyPath.starts_with('\\') ? keyPath.substr(1) : keyPath;
    TKey key;
    DWORD disposition = 0;
    if (::RegCreateKeyExA(rootKey, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key.handle, &disposition) != ERROR_SUCCESS)
        return "";
    if (subKey.empty()) return ValueText(key.handle, valueName);
    TKey sub;
    if (::RegOpenKeyExA(key.handle, subKey.c_str(), 0, KEY_READ, &sub.handle) != ERROR_SUCCESS)
        return "";
    return ValueText(sub.handle, valueName);
}

bool TWin32Platform::MakeShellLink(const std::string& linkPath, const std::string& target,
                                   const std::string& workingFolder) {
    TComRef<IUnknown> object;
    if (FAILED(::CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  kUnknownInterface, object.Out())))
        throw EShellLinkError("The shell link object cannot be created");
    TComRef<IShellLinkA> link;
    TComRef<IPersistFile> file;
    if (FAILED(object.pointer->QueryInterface(kShellLinkInterface, link.Out())))
        throw EShellLinkError("The shell link object offers no IShellLinkA");
    if (FAILED(object.pointer->QueryInterface(kPersistFileInterface, file.Out())))
        throw EShellLinkError("The shell link object offers no IPersistFile");
    link.pointer->SetArguments("");
    link.pointer->SetPath(target.c_str());
    link.pointer->SetWorkingDirectory(workingFolder.c_str());
    return SUCCEEDED(file.pointer->Save(Wide(linkPath).c_str(), FALSE));
}

std::string TWin32Platform::LocalDate() {
    char text[kTextBufferSize];
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text, sizeof text))
        return text;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return std::to_string(now.wMonth) + "/" + std::to_string(now.wDay) + "/" + TwoDigits(now.wYear);
}

std::string TWin32Platform::LocalTime() {
    char text[kTextBufferSize];
    if (::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text)) return text;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return std::to_string(now.wHour) + ":" + TwoDigits(now.wMinute) + ":" + TwoDigits(now.wSecond);
}

int32_t TWin32Platform::TodayDayNumber() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return DayNumber(now.wYear, now.wMonth, now.wDay);
}

}  // namespace vorn::setup
