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

// The copy's work: wait for the remover to end, then delete it and the
// folders left empty, and have Windows delete this copy at the next start,
// where the user may ask for that (it lies in the temporary folder
// otherwise). The remover checks what it is asked to delete.
int FinishRemoval(vorn::setup::TRemover& remover, vorn::setup::TWin32RemoverServices& services,
                  const std::string& pid, const std::string& path) {
    if (HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(pid.c_str(), nullptr, 10))) {
        ::WaitForSingleObject(process, kLongestWait);
        ::CloseHandle(process);
    }
    int result = remover.Finish(path);
    for (int i = 1; i < kDeleteAttempts && result == vorn::setup::kRemoverIncomplete; ++i) {
        ::Sleep(kDeleteRetryDelay);
        result = remover.Finish(path);
    }
    if (result == vorn::setup::kRemoverDone) services.ForgetCopyAtRestart();
    return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vorn::setup::RestrictDllSearchToSystemFolder();
    vorn::setup::TWin32Platform platform;
    vorn::setup::TWin32RemoverServices services;
    vorn::setup::TRemover remover(platform, services);
    const std::vector<std::string> args = Arguments();
    if (args.size() == 3 && args[0] == vorn::setup::kFinishSwitch) return FinishRemoval(remover, services, args[1], args[2]);
    const bool quiet = Has(args, vorn::setup::kQuietSwitch);
    if (quiet || Has(args, vorn::setup::kUninstallSwitch)) return remover.Remove(quiet);
    return remover.Register();
}
