// vornsetup_options.exe: the installer stub for manifests with [install]
// keys. It reads the settings vornpack wrote into its resources, and the
// switches of its command line where those settings accept them.
#include <windows.h>

#include <string_view>

#include "setup/install_options.h"
#include "setup/win32/win32_platform.h"

namespace {

// The settings resource, loaded with the image; empty without one.
std::string_view SettingsResource() {
    using namespace vorn::setup;
    const HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(kSettingsResourceId),
                                        MAKEINTRESOURCEA(kSettingsResourceType));
    const HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    return data ? std::string_view(data, ::SizeofResource(nullptr, found)) : std::string_view();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    vorn::setup::RestrictDllSearchToSystemFolder();
    vorn::setup::TWin32Platform platform;
    return vorn::setup::RunWithOptions(platform, arguments ? arguments : "", SettingsResource());
}
