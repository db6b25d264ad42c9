#include "setup/win32/win32_remover_services.h"

#include <windows.h>

#include "setup/win32/win32_platform.h"

namespace vorn::setup {

namespace {

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

void TWin32RemoverServices::RemoveAfterExit(const std::string& self) {
    const std::string pid = std::to_string(::GetCurrentProcessId());
    const std::string folder = TWin32Platform().TempFolder() + "vorn-remove-" + pid + "-" +
                               std::to_string(::GetTickCount());
    const std::string copy = folder + "\\uninstall.exe";
    if (!::CreateDirectoryA(folder.c_str(), nullptr) || !::CopyFileA(self.c_str(), copy.c_str(), FALSE)) return;
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

}  // namespace vorn::setup
