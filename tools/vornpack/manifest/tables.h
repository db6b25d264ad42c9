// The readers of the manifest's tables, a file each, and what they share.
// ParseManifest (manifest.cpp) calls them in the order their checks need:
// a table read later may look at what an earlier one set.
#pragma once

#include <toml++/toml.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tools/vornpack/manifest/checker.h"
#include "tools/vornpack/manifest/destination_rules.h"
#include "tools/vornpack/manifest/manifest.h"

namespace vorn::pack {

// entry_keys.cpp: what [[file]] and [[folder]] tables share.

enum class EntryTable { File, Folder };

// Every key the table takes.
TKeyList EntryKeys(EntryTable table);
// The keys a [[file]] takes and a [[folder]] does not.
TKeyList FileOnlyKeys();
// The keys a [[folder]] gives to each of its files.
TKeyList GivenKeys();

// Where an entry table's files come from and go to, both given as strings:
// the source resolved against the manifest's folder, the destination in
// the code page with "\\" between names, the only separator the installer
// knows.
struct TEntryPlace {
    const toml::node* sourceNode = nullptr;
    std::filesystem::path source;
    const toml::node* destinationNode = nullptr;
    std::string destination;
};
// A [[file]]'s source is judged as soon as it is read, before the
// destination; a [[folder]]'s when it is walked.
TEntryPlace ReadPlace(const TChecker& check, const toml::table& table, const TManifest& manifest, EntryTable kind);

// Judged without opening it: the build opens each source once, without
// blocking, and judges it again on that handle.
void CheckSource(const TChecker& check, const toml::node& node, const std::filesystem::path& source);
// The lengths the installer keeps of a destination.
void CheckDestination(const TChecker& check, const toml::node& node, const std::string& text);
// no-check = ["RULE", ...]
std::set<std::string> ParseWaived(const TChecker& check, const toml::node& node);

TRuleContext RulesFor(const TManifest& manifest);
// What the rules across entries see of the entries.
std::vector<TRuledEntry> Ruled(const std::vector<TFileEntry>& files);

// storage_keys.cpp: how an entry is stored, and what the remover does with it.

// method and level of a [[file]] table or of the manifest's top, over the
// defaults given. A level belongs with the lzma method only.
void ParseMethodAndLevel(const TChecker& check, const toml::table& table, TEntryMethod& method, int& level);
// replace, method, level, remove and shared: what [[file]] and [[folder]] entries share.
void ParseStorage(const TChecker& check, const toml::table& table, const TManifest& manifest, TFileEntry& entry);
// solid = true|false, read once the entries are known.
bool ParseSolid(const TChecker& check, const toml::node& node, const std::vector<TFileEntry>& files);

// file_table.cpp, folder_table.cpp: the entries.

TFileEntry ParseEntry(const TChecker& check, const toml::table& table, const TManifest& manifest);
// Appends the folder's files to the manifest's entries.
void ParseFolder(const TChecker& check, const toml::table& table, TManifest& manifest);

// version_and_icon.cpp: what Explorer shows of the installer.

TVersionInfo ParseVersionTable(const TChecker& check, const toml::node& node);
std::vector<TIconImage> ParseIcon(const TChecker& check, const toml::node& node, TManifest& manifest);

// uninstall_table.cpp, install_table.cpp, sign_table.cpp

TUninstall ParseUninstall(const TChecker& check, const toml::node& node, const TManifest& manifest);
// The remover and its record must install like any entry.
void CheckUninstall(const TChecker& check, const TManifest& manifest);
TInstallKeys ParseInstall(const TChecker& check, const toml::node& node, TManifest& manifest);
std::vector<std::string> ParseSign(const TChecker& check, const toml::node& node, TManifest& manifest);

}  // namespace vorn::pack
