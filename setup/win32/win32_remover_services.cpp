#include "setup/win32/win32_remover_services.h"

#include <windows.h>
#include <objidl.h>
#include <sddl.h>
#include <shlobj.h>

#include <iterator>

#include "setup/remover/remover.h"
#include "setup/win32/win32_platform.h"

namespace vorn::setup {

namespace {

constexpr char kCopyFolderPrefix[] = "vorn-remove-";
// The shell-link object and its two interfaces, spelled here: the import
// library that defines them defines every GUID, tens of kilobytes.
constexpr GUID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kShellLinkInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr int kCopyFolderAttempts = 16;

// The system's folders that no removal may take or try, beside the user's
// and the machine's shell folders, which are read from the registry.
constexpr int kSystemFolderIds[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,       CSIDL_SYSTEMX86,          CSIDL_FONTS,
    CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_APPDATA,   CSIDL_PROFILE,      CSIDL_APPDATA,            CSIDL_LOCAL_APPDATA,
    CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL,     CSIDL_MYPICTURES,         CSIDL_MYMUSIC,
    CSIDL_MYVIDEO,          CSIDL_FAVORITES,    CSIDL_TEMPLATES,          CSIDL_PROGRAMS,
    CSIDL_STARTMENU,        CSIDL_STARTUP,      CSIDL_SENDTO,             CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_STARTUP,
};
// The Windows folder's own system folders, whichever of them this Windows has.
constexpr const char* kWindowsSubfolders[] = {"\\system", "\\system32", "\\syswow64"};
// The machine's counts of the programs that share a file, a DWORD a path.
constexpr char kSharedFilesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char* kShellFolderKeys[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
};

HKEY RootKey(RegistryRoot root) { return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

bool SetValue(HKEY key, const TRegistryValue& value) {
    if (value.number) {
        const DWORD number = *value.number;
        return ::RegSetValueExA(key, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number) == ERROR_SUCCESS;
    }
    return ::RegSetValueExA(key, value.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                            static_cast<DWORD>(value.text.size() + 1)) == ERROR_SUCCESS;
}

std::string Lower(std::string text) {
    if (!text.empty()) ::CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// What a path-returning call writes, grown until it fits; empty on failure.
template <class Call>
std::string Returned(Call call) {
    std::string text(MAX_PATH, '\0');
    DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length >= text.size()) {
        text.resize(length + 1);
        length = call(text.data(), static_cast<DWORD>(text.size()));
    }
    if (length == 0 || length >= text.size()) return "";
    text.resize(length);
    return text;
}

// "\\?\C:\x" and "\\.\C:\x" as "C:\x", "\\?\UNC\server\share\x" as
// "\\server\share\x"; empty for any other device path, which no rule judges.
std::string WithoutDevicePrefix(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    for (const char* prefix : {"\\\\?\\", "\\\\.\\", "\\??\\"}) {
        if (!path.starts_with(prefix)) continue;
        const std::string rest = path.substr(std::char_traits<char>::length(prefix));
        if (Lower(rest.substr(0, 4)) == "unc\\") return "\\\\" + rest.substr(4);
        const bool drive = rest.size() >= 2 && rest[1] == ':' && ::IsCharAlphaA(rest[0]);
        return drive ? rest : "";
    }
    return path;
}

std::string FullPath(const std::string& path) {
    return Returned([&](char* text, DWORD size) { return ::GetFullPathNameA(path.c_str(), size, text, nullptr); });
}

// The long form of the longest part of path that exists, and the rest as it is.
std::string LongPath(const std::string& path) {
    std::string head = path, tail;
    for (;;) {
        const std::string found =
            Returned([&](char* text, DWORD size) { return ::GetLongPathNameA(head.c_str(), text, size); });
        if (!found.empty()) return found + tail;
        const size_t slash = head.rfind('\\');
        if (slash == std::string::npos || slash < 3) return path;
        tail = head.substr(slash) + tail;
        head.resize(slash);
    }
}

// Where an open file or folder really lies, through junctions and links;
// empty when the system cannot tell.
std::string FinalPathOf(HANDLE handle) {
    const std::string final = Returned([&](char* text, DWORD size) {
        return ::GetFinalPathNameByHandleA(handle, text, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    return final.empty() ? "" : WithoutDevicePrefix(final);
}

// The same for a path; empty when it does not exist or cannot be opened.
std::string FinalPath(const std::string& path) {
    const HANDLE handle = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "";
    const std::string final = FinalPathOf(handle);
    ::CloseHandle(handle);
    return final;
}

// A resolved path lowercased; empty when a plain call reads it otherwise (a
// folder "x." made through \\?\), as it names what no rule can judge by its
// text.
std::string Judgeable(const std::string& resolved) {
    const std::string canonical = Lower(resolved);
    return Lower(FullPath(canonical)) == canonical ? canonical : "";
}

class TWin32RemovableFile : public TRemovableFile {
public:
    TWin32RemovableFile(HANDLE handle, std::string canonical)
        : handle_(handle), canonical_(std::move(canonical)),
          content_(reinterpret_cast<intptr_t>(handle), canonical_, Ownership::Borrowed) {}
    ~TWin32RemovableFile() override { ::CloseHandle(handle_); }
    const std::string& Canonical() const override { return canonical_; }
    TStream& Content() override { return content_; }
    bool Remove() override {
        FILE_DISPOSITION_INFO disposition{TRUE};
        return ::SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }

private:
    HANDLE handle_;
    std::string canonical_;
    TFileStream content_;
};

// Every value of a shell-folder key: the user's or the machine's folders.
void AddShellFolders(HKEY root, const char* keyPath, std::vector<std::string>& folders) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        char name[256], data[MAX_PATH];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        const LONG result = ::RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                            &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
        data[dataSize] = '\0';
        char expanded[MAX_PATH];
        const DWORD length = ::ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
        if (length > 0 && length <= sizeof expanded) folders.push_back(expanded);
    }
    ::RegCloseKey(key);
}

// A security descriptor that lets only SYSTEM, Administrators and this
// process's user into a folder, whatever the folder around it allows.
class TPrivateFolderSecurity {
public:
    TPrivateFolderSecurity() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        char buffer[256];
        DWORD size = 0;
        char* sid = nullptr;
        if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
            ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
            const std::string text = std::string("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;") + sid + ")";
            ::ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &descriptor_,
                                                                    nullptr);
            ::LocalFree(sid);
        }
        ::CloseHandle(token);
    }
    ~TPrivateFolderSecurity() {
        if (descriptor_) ::LocalFree(descriptor_);
    }
    // Null when the descriptor could not be made.
    SECURITY_ATTRIBUTES* Attributes() {
        attributes_ = {sizeof attributes_, descriptor_, FALSE};
        return descriptor_ ? &attributes_ : nullptr;
    }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

bool TWin32RemoverServices::WriteKey(RegistryRoot root, const std::string& key,
                                     const std::vector<TRegistryValue>& values) {
    // Deleted first, so that no value of an earlier version stays behind.
    if (!DeleteKey(root, key)) return false;
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(RootKey(root), key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS)
        return false;
    bool written = true;
    for (const TRegistryValue& value : values) written = SetValue(handle, value) && written;
    ::RegCloseKey(handle);
    return written;
}

bool TWin32RemoverServices::DeleteKey(RegistryRoot root, const std::string& key) {
    const LONG result = ::RegDeleteKeyA(RootKey(root), key.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool TWin32RemoverServices::RemoveFolder(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

std::string TWin32RemoverServices::CanonicalPath(const std::string& path) {
    const std::string plain = WithoutDevicePrefix(path);
    const std::string full = plain.empty() ? "" : FullPath(plain);
    if (full.empty()) return "";
    const std::string final = FinalPath(full);
    return Judgeable(final.empty() ? LongPath(full) : final);
}

std::unique_ptr<TRemovableFile> TWin32RemoverServices::OpenToRemove(const std::string& path) {
    const std::string plain = WithoutDevicePrefix(path);
    const std::string full = plain.empty() ? "" : FullPath(plain);
    if (full.empty()) return nullptr;
    // Others may read it meanwhile, but not write to it.
    const HANDLE handle = ::CreateFileA(full.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    std::string canonical = Judgeable(FinalPathOf(handle));
    if (canonical.empty()) {
        ::CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<TWin32RemovableFile>(handle, std::move(canonical));
}

std::vector<std::string> TWin32RemoverServices::ProtectedFolders() {
    std::vector<std::string> folders;
    for (const int id : kSystemFolderIds) {
        char path[MAX_PATH];
        if (SUCCEEDED(::SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, path))) folders.push_back(path);
    }
    for (const char* subfolder : kWindowsSubfolders) folders.push_back(WindowsFolder() + subfolder);
    for (const char* key : kShellFolderKeys) {
        AddShellFolders(HKEY_CURRENT_USER, key, folders);
        AddShellFolders(HKEY_LOCAL_MACHINE, key, folders);
    }
    return folders;
}

std::string TWin32RemoverServices::WindowsFolder() {
    return Returned([](char* text, DWORD size) { return ::GetWindowsDirectoryA(text, size); });
}

std::string TWin32RemoverServices::LinkTarget(const std::string& linkPath) {
    ::CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    std::string target;
    if (SUCCEEDED(::CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                                     reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(kPersistFileInterface, reinterpret_cast<void**>(&file)))) {
        std::wstring wide(MAX_PATH, L'\0');
        const int length = ::MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide.data(), MAX_PATH);
        char path[MAX_PATH] = {};
        if (length > 0 && SUCCEEDED(file->Load(wide.c_str(), STGM_READ)) &&
            link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK)
            target = path;
    }
    if (file) file->Release();
    if (link) link->Release();
    return target;
}

uint32_t TWin32RemoverServices::SharedCount(const std::string& path) {
    DWORD count = 0, size = sizeof count, type = 0;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedFilesKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    const LONG result = ::RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_DWORD ? count : 0;
}

bool TWin32RemoverServices::SetSharedCount(const std::string& path, uint32_t count) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedFilesKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD value = count;
    const LONG result = count == 0 ? ::RegDeleteValueA(key, path.c_str())
                                   : ::RegSetValueExA(key, path.c_str(), 0, REG_DWORD,
                                                      reinterpret_cast<const BYTE*>(&value), sizeof value);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS || (count == 0 && result == ERROR_FILE_NOT_FOUND);
}

void TWin32RemoverServices::RemoveAfterExit(const std::string& self) {
    TPrivateFolderSecurity security;
    if (!security.Attributes()) return;  // better left behind than started from a folder others can write
    const std::string pid = std::to_string(::GetCurrentProcessId());
    std::string folder;
    // A name someone made first is never used: CreateDirectory fails on it.
    for (int attempt = 0; attempt < kCopyFolderAttempts && folder.empty(); ++attempt) {
        const std::string name = TWin32Platform().TempFolder() + kCopyFolderPrefix + pid + "-" +
                                 std::to_string(::GetTickCount() + attempt);
        if (::CreateDirectoryA(name.c_str(), security.Attributes())) folder = name;
    }
    const std::string copy = folder + "\\" + kRemoverName;
    if (folder.empty() || !::CopyFileA(self.c_str(), copy.c_str(), TRUE)) return;
    std::string command = "\"" + copy + "\" " + kFinishSwitch + " " + pid + " \"" + self + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process))
        return;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

void TWin32RemoverServices::ForgetCopyAtRestart() {
    const std::string own = Returned([](char* text, DWORD size) { return ::GetModuleFileNameA(nullptr, text, size); });
    const std::string folder = own.substr(0, own.rfind('\\'));
    const std::string copies = CanonicalPath(TWin32Platform().TempFolder() + kCopyFolderPrefix);
    if (copies.empty() || !CanonicalPath(folder).starts_with(copies)) return;
    ::MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace vorn::setup
