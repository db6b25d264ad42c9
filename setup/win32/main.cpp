// vornsetup.exe: the installer stub. It takes no arguments; everything it
// does comes from the package appended to its own file.
#include <windows.h>

#include "setup/installer.h"
#include "setup/win32/win32_platform.h"

namespace {

constexpr DWORD kSearchSystemFolderOnly = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// A DLL planted beside a downloaded installer must never be loaded: where
// the system offers it, DLLs come from the system folder only. Looked up at
// run time because older systems lack the call.
void RestrictDllSearchToSystemFolder() {
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const FARPROC found =
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (!found) return;
    auto setDirectories =
        reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void (*)()>(found));
    setDirectories(kSearchSystemFolderOnly);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystemFolder();
    vorn::setup::TWin32Platform platform;
    return vorn::setup::TInstaller(platform).Run();
}
