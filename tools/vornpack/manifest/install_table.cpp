// [install]: what the installer does beyond its defined behaviour.
#include <algorithm>

#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

// [install] switches = true, keep-case = true, shortcuts = "all-users":
// read after [uninstall] and the entries, which the checks look at.
TInstallKeys ParseInstall(const TChecker& check, const toml::node& node, TManifest& manifest) {
    const auto* table = node.as_table();
    if (!table) check.WrongType(node, "install", "a table");
    check.OnlyKeys(*table, {"switches", "keep-case", "shortcuts"}, "install.");
    TInstallKeys keys;
    if (const auto* switches = check.Get(*table, "switches", "install.switches", toml::node_type::boolean))
        keys.switches = switches->as_boolean()->get();
    if (const auto* keepCase = check.Get(*table, "keep-case", "install.keep-case", toml::node_type::boolean))
        keys.keepCase = keepCase->as_boolean()->get();
    if (const auto* shortcuts = check.Get(*table, "shortcuts", "install.shortcuts", toml::node_type::string)) {
        const std::string scope = shortcuts->as_string()->get();
        if (scope != "user" && scope != "all-users")
            check.Fail(*shortcuts, "install.shortcuts", "must be \"user\" (the default) or \"all-users\"");
        keys.allUsersShortcuts = scope == "all-users";
        if (keys.allUsersShortcuts && manifest.elevation != Elevation::Admin)
            check.Fail(*shortcuts, "install.shortcuts",
                       "\"all-users\" needs elevation = \"admin\": only an administrator may write the machine's "
                       "shell folders");
    }
    const size_t sendTo = std::find(ShortcutKeys().begin(), ShortcutKeys().end(), "sendto") - ShortcutKeys().begin();
    for (const TFileEntry& entry : manifest.files)
        if (keys.allUsersShortcuts && !entry.shortcuts[sendTo].name.empty())
            check.Fail(entry.line, "shortcuts.sendto",
                       "Windows keeps Send To for each user alone: with shortcuts = \"all-users\" there is no "
                       "common one; leave this shortcut out");
    if (keys.switches && !manifest.uninstall)
        manifest.notes.push_back(manifest.path.string() + ":" + std::to_string(node.source().begin.line) +
                                 ": install.switches: without [uninstall] the installer has no product folder, so it "
                                 "takes /S and /LOG= but refuses /D=");
    return keys;
}

}  // namespace vorn::pack
