// [[file]]: one source file, where it goes and what happens to it there.
#include <algorithm>

#include "setup/folders.h"
#include "tools/vornpack/manifest/manifest_text.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

RunMode ParseRun(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (value && value->get() == "never") return RunMode::Never;
    if (value && value->get() == "now") return RunMode::Now;
    if (value && value->get() == "at-end") return RunMode::AtEnd;
    check.Fail(node, "run", "must be \"never\", \"now\" or \"at-end\"");
}

TShortcut ParseShortcut(const TChecker& check, const toml::node& node, const std::string& field,
                       const std::string& codepage) {
    const auto* table = node.as_table();
    if (!table) check.WrongType(node, field, "a table such as { name = \"...\", ask = true }");
    check.OnlyKeys(*table, {"name", "ask"}, field + ".");
    const auto* name = check.Get(*table, "name", field + ".name", toml::node_type::string);
    if (!name) check.Fail(node, field + ".name", "is missing");
    TShortcut shortcut;
    shortcut.name = check.Text(*name, field + ".name", codepage);
    if (const auto* ask = check.Get(*table, "ask", field + ".ask", toml::node_type::boolean))
        shortcut.ask = ask->as_boolean()->get();
    if (shortcut.name.empty()) check.Fail(*name, field + ".name", "must not be empty");
    if (shortcut.name.size() > kMaxText)
        check.Fail(*name, field + ".name", "longer than 255 characters; the installer would cut it");
    if (!shortcut.ask && shortcut.name[0] == setup::kAskFirst)
        check.Fail(*name, field + ".name", "a name starting with \"?\" would be read as a question");
    return shortcut;
}

// A rule breach, explained: a control character that TOML strings cannot
// hold as written comes from an escape ("\b" in "<p>\bin"), which single
// quotes mend, not a waiver.
std::string Explained(const TRuleBreach& breach, const std::string& value) {
    if (breach.rule != "control-character" || value.find_first_of("\b\n\f\r") == std::string::npos)
        return breach.Message();
    return breach.reason + "; " + SingleQuotesHint(value);
}

}  // namespace

const std::array<std::string, setup::kShortcutFolders.size()>& ShortcutKeys() {
    static const auto keys = [] {
        std::array<std::string, setup::kShortcutFolders.size()> names;
        for (size_t i = 0; i < names.size(); ++i) {
            names[i] = setup::Lowercase(setup::kShortcutFolders[i]);
            std::replace(names[i].begin(), names[i].end(), ' ', '-');
        }
        return names;
    }();
    return keys;
}

TFileEntry ParseEntry(const TChecker& check, const toml::table& table, const TManifest& manifest) {
    check.OnlyKeys(table, EntryKeys(EntryTable::File), "");
    TFileEntry entry;
    entry.line = static_cast<int>(table.source().begin.line);
    const TEntryPlace place = ReadPlace(check, table, manifest, EntryTable::File);
    entry.source = place.source;
    entry.destination = place.destination;
    CheckDestination(check, *place.destinationNode, entry.destination);
    if (const auto* waived = table.get("no-check")) entry.waived = ParseWaived(check, *waived);
    if (const auto breach = CheckDestinationRules(entry.destination, entry.waived, entry.line, RulesFor(manifest)))
        check.Fail(*place.destinationNode, "destination", Explained(*breach, entry.destination));

    if (const auto* run = check.Get(table, "run", "run", toml::node_type::string))
        entry.run = ParseRun(check, *run);
    ParseStorage(check, table, manifest, entry);
    if (const auto* shortcuts = check.Get(table, "shortcuts", "shortcuts", toml::node_type::table)) {
        const auto* folders = shortcuts->as_table();
        const auto& keys = ShortcutKeys();
        check.OnlyKeys(*folders, {keys.begin(), keys.end()}, "shortcuts.");
        for (size_t i = 0; i < keys.size(); ++i)
            if (const auto* node = folders->get(keys[i])) {
                const std::string field = "shortcuts." + keys[i] + ".name";
                entry.shortcuts[i] = ParseShortcut(check, *node, "shortcuts." + keys[i], manifest.codepage);
                if (const auto breach = CheckShortcutRules(entry.shortcuts[i].name, entry.waived, entry.line, field,
                                                           RulesFor(manifest)))
                    check.Fail(*node, field, breach->Message());
            }
    }
    return entry;
}

}  // namespace vorn::pack
