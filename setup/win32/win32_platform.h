// The installer's platform on Win32, COM and the shell.
#pragma once

#include "setup/platform.h"

namespace vorn::setup {

// A DLL planted beside a downloaded program must never be loaded: where
// the system offers it, DLLs come from the system folder only.
void RestrictDllSearchToSystemFolder();

class TWin32Platform : public TPlatform {
public:
    void StartCom() override;
    std::string ModulePath() override;
    std::string TempFolder() override;
    int ShowBox(const std::string& text, const std::string& caption, uint32_t style) override;
    void Execute(const std::string& file) override;
    std::unique_ptr<TStream> OpenRead(const std::string& path) override;
    std::unique_ptr<TStream> CreateNew(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    bool MakeFolder(const std::string& path) override;
    uint32_t DriveTypeOf(const std::string& root) override;
    uint32_t PlatformId() override;
    std::string RegistryString(RegistryRoot root, const std::string& keyPath,
                               const std::string& subKey, const std::string& valueName) override;
    bool MakeShellLink(const std::string& linkPath, const std::string& target,
                       const std::string& workingFolder) override;
    std::string LocalDate() override;
    std::string LocalTime() override;
    int32_t TodayDayNumber() override;
};

}  // namespace vorn::setup
