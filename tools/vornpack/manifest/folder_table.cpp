// [[folder]]: the files of a tree on the build machine, an entry each, all
// with the table's settings.
#include <algorithm>

#include "tools/vornpack/manifest/folder_source.h"
#include "tools/vornpack/manifest/manifest_text.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

std::vector<std::string> ParseGlobs(const TChecker& check, const toml::table& table, const char* key) {
    std::vector<std::string> globs;
    const auto* node = table.get(key);
    if (!node) return globs;
    const auto* array = node->as_array();
    if (!array) check.WrongType(*node, key, "a list of globs, as in [\"*.dll\", \"bin/**\"]");
    for (const auto& glob : *array) {
        if (!glob.is_string()) check.WrongType(glob, key, "a string");
        const std::string& text = glob.as_string()->get();
        if (text.empty()) check.Fail(glob, key, "a glob must not be empty");
        // Windows' separator would be a literal character here, and match nothing.
        if (text.find('\\') != std::string::npos) {
            std::string slashed = text;
            std::replace(slashed.begin(), slashed.end(), '\\', '/');
            check.Fail(glob, key, "\"" + text + "\": globs separate folders with \"/\", as in \"" + slashed + "\"");
        }
        globs.push_back(text);
    }
    return globs;
}

// A glob that matches nothing is most likely a typo ("MyApp.ex"): worth a warning.
void WarnUnmatched(const toml::table& table, const TFolderFiles& found, const std::filesystem::path& root,
                   TManifest& manifest) {
    for (const auto& [key, glob] : found.unmatched)
        manifest.warnings.push_back(manifest.path.string() + ":" + std::to_string(table.get(key)->source().begin.line) +
                                    ": " + key + ": \"" + glob + "\" matches nothing under \"" + root.string() + "\"");
}

// A key of a [[file]] alone gets its own word: the table is most likely a
// [[file]] turned into a [[folder]].
void RefuseFileOnlyKeys(const TChecker& check, const toml::table& table) {
    for (const std::string& key : FileOnlyKeys())
        if (const auto* node = table.get(key))
            check.Fail(*node, key, "belongs to a [[file]]; a [[folder]] gives " + Enumerated(GivenKeys(), "and") +
                                       " to all its files");
}

}  // namespace

// The files a [[folder]] table takes, one entry each, in the byte order of
// their paths under the folder; each inherits the table's settings and
// meets every destination rule. Empty folders are noted and left out.
void ParseFolder(const TChecker& check, const toml::table& table, TManifest& manifest) {
    RefuseFileOnlyKeys(check, table);
    check.OnlyKeys(table, EntryKeys(EntryTable::Folder), "");
    TFileEntry model;
    model.line = static_cast<int>(table.source().begin.line);
    const TEntryPlace place = ReadPlace(check, table, manifest, EntryTable::Folder);
    const toml::node& source = *place.sourceNode;
    std::string folder = place.destination;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (const auto* waived = table.get("no-check")) model.waived = ParseWaived(check, *waived);
    ParseStorage(check, table, manifest, model);

    const std::filesystem::path& root = place.source;
    TFolderFiles found;
    try {
        found = ListFolder(root, ParseGlobs(check, table, "include"), ParseGlobs(check, table, "exclude"));
    } catch (const EFolderError& error) {
        check.Fail(source, "source", SourceHint(source.as_string()->get(), error.what()));
    }
    if (found.files.empty()) check.Fail(source, "source", "\"" + root.string() + "\" holds no file to install");
    WarnUnmatched(table, found, root, manifest);
    for (const std::string& empty : found.emptyFolders)
        manifest.notes.push_back(manifest.path.string() + ":" + std::to_string(model.line) + ": source: \"" + empty +
                                 "\" is empty and left out: the installer makes only the folders it puts files in");
    for (const std::string& file : found.files) {
        TFileEntry entry = model;
        entry.source = root / file;
        entry.folderPath = file;
        CheckSource(check, source, entry.source);
        std::string name = check.Converted(source, "source", file, manifest.codepage);
        std::replace(name.begin(), name.end(), '/', '\\');
        entry.destination = folder + "\\" + name;
        CheckDestination(check, *place.destinationNode, entry.destination);
        if (const auto breach = CheckDestinationRules(entry.destination, entry.waived, entry.line, RulesFor(manifest)))
            check.Fail(*place.destinationNode, "destination", "for \"" + file + "\": " + breach->Message());
        manifest.files.push_back(std::move(entry));
    }
}

}  // namespace vorn::pack
