// What [[file]] and [[folder]] tables share: their keys, the reading of
// source and destination, and the checks every destination meets.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "compress/vorn_header.h"
#include "setup/folders.h"
#include "tools/vornpack/manifest/manifest_text.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// Which entry tables take a key. A [[folder]] gives the keys it shares
// with a [[file]] to each of its files, all but the two that place it.
enum class KeyScope { Place, Given, FileOnly, FolderOnly };

struct TEntryKey {
    const char* name;
    KeyScope scope;
};

// The keys of [[file]] and [[folder]] tables, in the order the messages name them.
constexpr TEntryKey kEntryKeys[] = {
    {"source", KeyScope::Place},       {"destination", KeyScope::Place},   {"run", KeyScope::FileOnly},
    {"include", KeyScope::FolderOnly}, {"exclude", KeyScope::FolderOnly},  {"replace", KeyScope::Given},
    {"method", KeyScope::Given},       {"level", KeyScope::Given},         {"remove", KeyScope::Given},
    {"shared", KeyScope::Given},       {"shortcuts", KeyScope::FileOnly},  {"no-check", KeyScope::Given}};

template <typename Keep>
TKeyList KeysWhere(Keep keep) {
    TKeyList names;
    for (const TEntryKey& key : kEntryKeys)
        if (keep(key.scope)) names.push_back(key.name);
    return names;
}

}  // namespace

TKeyList EntryKeys(EntryTable table) {
    const KeyScope foreign = table == EntryTable::File ? KeyScope::FolderOnly : KeyScope::FileOnly;
    return KeysWhere([&](KeyScope scope) { return scope != foreign; });
}

TKeyList FileOnlyKeys() {
    return KeysWhere([](KeyScope scope) { return scope == KeyScope::FileOnly; });
}

TKeyList GivenKeys() {
    return KeysWhere([](KeyScope scope) { return scope == KeyScope::Given; });
}

TEntryPlace ReadPlace(const TChecker& check, const toml::table& table, const TManifest& manifest, EntryTable kind) {
    const int line = static_cast<int>(table.source().begin.line);
    TEntryPlace place;
    place.sourceNode = check.Get(table, "source", "source", toml::node_type::string);
    if (!place.sourceNode) check.Fail(line, "source", "is missing");
    place.source = manifest.path.parent_path() / place.sourceNode->as_string()->get();
    if (kind == EntryTable::File) CheckSource(check, *place.sourceNode, place.source);

    place.destinationNode = check.Get(table, "destination", "destination", toml::node_type::string);
    if (!place.destinationNode) check.Fail(line, "destination", "is missing");
    place.destination = check.Text(*place.destinationNode, "destination", manifest.codepage);
    std::replace(place.destination.begin(), place.destination.end(), '/', '\\');
    return place;
}

void CheckSource(const TChecker& check, const toml::node& node, const std::filesystem::path& source) {
    std::string quoted = source.string();
    quoted.insert(quoted.begin(), '"');
    quoted.push_back('"');
    struct stat status {};
    if (::stat(source.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        check.Fail(node, "source", SourceHint(node.value_or(std::string()), quoted + " is not a readable file"));
    if (::access(source.c_str(), R_OK) != 0) check.Fail(node, "source", quoted + " cannot be read");
    if (status.st_size > kMaxStreamSize)
        check.Fail(node, "source", "larger than 2 GiB; the installer's sizes are signed 32-bit");
}

void CheckDestination(const TChecker& check, const toml::node& node, const std::string& text) {
    const std::string path = Normalized(text);
    if (path.empty()) check.Fail(node, "destination", "must not be empty");
    const setup::TFolderMacro* macro = setup::LeadingMacro(path);
    if (macro && path.size() - setup::kMacroLength > kMaxText)
        check.Fail(node, "destination", std::string("the installer keeps only 255 characters after ") + macro->text);
    const size_t stamp = path.find(setup::kStampMacro);
    if (stamp != std::string::npos && path.size() - stamp - 3 > kMaxText)
        check.Fail(node, "destination", "the installer keeps only 255 characters after <u>");
}

std::set<std::string> ParseWaived(const TChecker& check, const toml::node& node) {
    std::set<std::string> names;
    const auto* list = node.as_array();
    if (!list) check.Fail(node, "no-check", "must be a list of rule names");
    for (const auto& name : *list) {
        const auto* text = name.as_string();
        const auto& rules = kDestinationRules;
        if (!text || std::find(rules.begin(), rules.end(), text->get()) == rules.end())
            check.Fail(name, "no-check", "no such rule; the rules are " + DestinationRuleNames());
        names.insert(text->get());
    }
    return names;
}

TRuleContext RulesFor(const TManifest& manifest) { return {manifest.codepage, manifest.elevation}; }

std::vector<TRuledEntry> Ruled(const std::vector<TFileEntry>& files) {
    std::vector<TRuledEntry> ruled;
    for (const TFileEntry& entry : files)
        ruled.push_back({entry.destination, entry.run == RunMode::AtEnd, entry.waived, entry.line,
                         entry.source.string(), entry.folderPath});
    return ruled;
}

}  // namespace vorn::pack
