// Test helper, cross-built for Windows: prints what Windows' own readers
// find in a program's version information and icons.
//   face_probe FILE
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

void PrintVersion(const char* file) {
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeA(file, &ignored));
    if (data.empty() || !GetFileVersionInfoA(file, 0, static_cast<DWORD>(data.size()), data.data())) {
        std::printf("no version information\n");
        return;
    }
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::printf("file %u.%u.%u.%u product %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                    HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                    HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4)
        std::printf("translation %04x %04x\n", static_cast<const WORD*>(value)[0], static_cast<const WORD*>(value)[1]);
    for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductName",
                             "ProductVersion"}) {
        char path[64];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
        if (VerQueryValueA(data.data(), path, &value, &length)) std::printf("%s: %s\n", name, static_cast<char*>(value));
    }
}

BOOL CALLBACK CountOne(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

void PrintIcons(const char* file) {
    const UINT groups = ExtractIconExA(file, -1, nullptr, nullptr, 0);
    HICON large = nullptr, small = nullptr;
    const UINT extracted = groups ? ExtractIconExA(file, 0, &large, &small, 1) : 0;
    int images = 0;
    if (HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceNamesA(module, MAKEINTRESOURCEA(3), CountOne, reinterpret_cast<LONG_PTR>(&images));
        FreeLibrary(module);
    }
    std::printf("icons %u, extracted %s, images %d\n", groups, extracted && large && small ? "yes" : "no", images);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    PrintVersion(argv[1]);
    PrintIcons(argv[1]);
    return 0;
}
