// Shortcuts to an entry's destination in the current user's shell folders.
#pragma once

#include <array>
#include <string>

#include "setup/install_log.h"
#include "setup/platform.h"

namespace vorn::setup {

// The shell folders of an entry's five shortcut fields, in package order.
inline constexpr std::array<const char*, 5> kShortcutFolders = {"Desktop", "Startup", "Programs",
                                                                "Start Menu", "SendTo"};

// Asks first when the field starts with "?", then makes the link and logs it.
void OfferShortcut(Platform& platform, TInstallLog& log, const std::string& title,
                   const std::string& destination, const std::string& field,
                   const std::string& folderName);

// Creates or replaces <shell folder>\<name>.lnk pointing at target; a shell
// folder the registry does not name gets the "Error in WinShortCut" box.
void WinShortCut(Platform& platform, const std::string& target, const std::string& name,
                 const std::string& folderName);

}  // namespace vorn::setup
