// Test helper, cross-built for Windows with the remover's own code: what
// the remover makes of paths where Windows resolves them, and who may
// enter a folder.
//   remover_probe judge FOLDER PATH...   each PATH from FOLDER as the current
//                                        folder: "canonical<TAB>verdict", the
//                                        same when the file is opened
//   remover_probe short PATH             its short (8.3) form
//   remover_probe security FOLDER        its access list as SDDL
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "setup/remover/path_guard.h"
#include "setup/win32/win32_platform.h"
#include "setup/win32/win32_remover_services.h"

namespace {

int Judge(int count, char** paths) {
    vorn::setup::TWin32Platform platform;
    vorn::setup::TWin32RemoverServices services;
    const vorn::setup::TPathGuard guard(services, vorn::setup::LoadSystemFolders(platform));
    for (int i = 0; i < count; ++i) {
        const std::string found = guard.Canonical(paths[i]);
        // A file opened to be removed must resolve as its path does.
        const auto opened = guard.OpenToRemove(paths[i]);
        const char* verdict = opened && opened->Canonical() != found ? "opened elsewhere"
                              : found.empty()                  ? "refused"
                              : guard.IsProtected(found)     ? "protected"
                              : guard.InWindowsFolder(found) ? "windows"
                                                             : "free";
        std::printf("%s\t%s\n", found.c_str(), verdict);
    }
    return 0;
}

int Security(const char* folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    char* text = nullptr;
    if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return 1;
    std::printf("%s\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "judge") == 0)
        return SetCurrentDirectoryA(argv[2]) ? Judge(argc - 3, argv + 3) : 1;
    if (argc == 3 && std::strcmp(argv[1], "short") == 0) {
        char path[MAX_PATH];
        const DWORD length = GetShortPathNameA(argv[2], path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 1;
        std::printf("%s\n", path);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "security") == 0) return Security(argv[2]);
    std::fprintf(stderr, "usage: remover_probe judge FOLDER PATH... | short PATH | security FOLDER\n");
    return 2;
}
