// The remover's services on Win32.
#pragma once

#include "setup/remover/remover_services.h"

namespace vorn::setup {

inline constexpr char kFinishSwitch[] = "/finish";

class TWin32RemoverServices : public TRemoverServices {
public:
    bool WriteKey(RegistryRoot root, const std::string& key, const std::vector<TRegistryValue>& values) override;
    bool DeleteKey(RegistryRoot root, const std::string& key) override;
    bool RemoveFolder(const std::string& path) override;
    // Copies the remover into a new folder in the user's temporary folder
    // and starts it with /finish PID SELF.
    void RemoveAfterExit(const std::string& self) override;
};

}  // namespace vorn::setup
