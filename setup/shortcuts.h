// Shortcuts to an entry's destination in the current user's shell folders.
#pragma once

#include <string>

#include "setup/install_log.h"
#include "setup/platform.h"

namespace vorn::setup {

// Asks first when the field starts with kAskFirst, then makes the link and
// logs it; false when the link could not be saved (logged too).
bool OfferShortcut(TPlatform& platform, TInstallLog& log, const std::string& title,
                   const std::string& destination, const std::string& field,
                   const std::string& folderName);

// Creates or replaces <shell folder>\<name>.lnk pointing at target; a shell
// folder the registry does not name gets the "Error in WinShortCut" box.
// Returns the link path when the link could not be saved, else "".
std::string WinShortCut(TPlatform& platform, const std::string& target, const std::string& name,
                 const std::string& folderName);

}  // namespace vorn::setup
