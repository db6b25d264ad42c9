// The remover's services on Win32.
#pragma once

#include "setup/remover/remover_services.h"

namespace vorn::setup {

class TWin32RemoverServices : public TRemoverServices {
public:
    bool WriteKey(RegistryRoot root, const std::string& key, const std::vector<TRegistryValue>& values) override;
    bool DeleteKey(RegistryRoot root, const std::string& key) override;
    bool RemoveFolder(const std::string& path) override;
    std::string CanonicalPath(const std::string& path) override;
    std::unique_ptr<TRemovableFile> OpenToRemove(const std::string& path) override;
    std::vector<std::string> ProtectedFolders() override;
    std::string WindowsFolder() override;
    std::string LinkTarget(const std::string& linkPath) override;
    uint32_t SharedCount(const std::string& path) override;
    bool SetSharedCount(const std::string& path, uint32_t count) override;
    // Copies the remover into a new folder in the user's temporary folder
    // that only SYSTEM, Administrators and this user may enter, and starts
    // it there with /finish PID SELF.
    void RemoveAfterExit(const std::string& self) override;
    // In that copy: has Windows delete it and its folder at the next start.
    // Does nothing for a program that is no such copy.
    void ForgetCopyAtRestart();
};

}  // namespace vorn::setup
