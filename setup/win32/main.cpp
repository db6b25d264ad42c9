// vornsetup.exe: the installer stub. It takes no arguments; everything it
// does comes from the package appended to its own file.
#include <windows.h>

#include "setup/installer.h"
#include "setup/win32/win32_platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vorn::setup::RestrictDllSearchToSystemFolder();
    vorn::setup::TWin32Platform platform;
    return vorn::setup::TInstaller(platform).Run();
}
