// uninstall.exe, the remover. Without arguments (the installer starts it
// once every file is in place) it registers the product; with /uninstall
// [/quiet] it removes it; /finish PID PATH is its own copy, which deletes
// the remover's file once the process PID has ended.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "setup/remover/remover.h"
#include "setup/win32/win32_platform.h"
#include "setup/win32/win32_remover_services.h"

namespace {

constexpr DWORD kLongestWait = 60 * 1000;
constexpr int kDeleteAttempts = 50;
constexpr DWORD kDeleteRetryDelay = 100;

std::string Ansi(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), size, nullptr, nullptr);
    return text.c_str();
}

std::vector<std::string> Arguments() {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 1; args && i < count; ++i) result.push_back(Ansi(args[i]));
    if (args) ::LocalFree(args);
    return result;
}

bool Has(const std::vector<std::string>& args, const char* name) {
    for (const std::string& arg : args)
        if (::lstrcmpiA(arg.c_str(), name) == 0) return true;
    return false;
}

// The copy's work: wait for the remover to end, delete it and the folders
// left empty, then have Windows delete this copy at the next start, where
// the user may ask for that (it lies in the temporary folder otherwise).
int FinishRemoval(vorn::setup::TRemover& remover, const std::string& pid, const std::string& self) {
    if (HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(pid.c_str(), nullptr, 10))) {
        ::WaitForSingleObject(process, kLongestWait);
        ::CloseHandle(process);
    }
    for (int i = 0; i < kDeleteAttempts && ::GetFileAttributesA(self.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        remover.Finish(self);
        if (::GetFileAttributesA(self.c_str()) != INVALID_FILE_ATTRIBUTES) ::Sleep(kDeleteRetryDelay);
    }
    char own[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, own, MAX_PATH);
    ::MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (char* slash = std::strrchr(own, '\\')) *slash = '\0';
    ::MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return vorn::setup::kRemoverDone;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vorn::setup::RestrictDllSearchToSystemFolder();
    vorn::setup::TWin32Platform platform;
    vorn::setup::TWin32RemoverServices services;
    vorn::setup::TRemover remover(platform, services);
    const std::vector<std::string> args = Arguments();
    if (args.size() == 3 && args[0] == vorn::setup::kFinishSwitch) return FinishRemoval(remover, args[1], args[2]);
    const bool quiet = Has(args, vorn::setup::kQuietSwitch);
    if (quiet || Has(args, vorn::setup::kUninstallSwitch)) return remover.Remove(quiet);
    return remover.Register();
}
