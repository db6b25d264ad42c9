// [uninstall]: the remover, its record, and the product's entry in Settings.
#include <algorithm>

#include "setup/folders.h"
#include "setup/package_format.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// A text the remover writes into the registry and keeps in its record, a
// line each: no control characters.
std::string RegistryText(const TChecker& check, const toml::node& node, const std::string& field,
                       const std::string& utf8, const TManifest& manifest) {
    const std::string text = check.Converted(node, field, utf8, manifest.codepage);
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        check.Fail(node, field, "holds a control character, which Windows' list of programs cannot show");
    return text;
}

std::string VersionString(const TManifest& manifest, const char* name) {
    if (!manifest.version) return "";
    for (const auto& [key, value] : manifest.version->strings)
        if (key == name) return value;
    return "";
}

}  // namespace

// [uninstall] folder = '<p>\Product', id = "Product": read after the title
// and [version], whose product name, version and company Settings shows.
TUninstall ParseUninstall(const TChecker& check, const toml::node& node, const TManifest& manifest) {
    const auto* table = node.as_table();
    if (!table) check.WrongType(node, "uninstall", "a table with the remover's folder");
    check.OnlyKeys(*table, {"folder", "id"}, "uninstall.");
    TUninstall uninstall;
    uninstall.line = static_cast<int>(node.source().begin.line);
    const auto* folder = check.Get(*table, "folder", "uninstall.folder", toml::node_type::string);
    if (!folder) check.Fail(node, "uninstall.folder", "is missing: name the remover's folder, as in '<p>\\Product'");
    uninstall.folder = check.Text(*folder, "uninstall.folder", manifest.codepage);
    std::replace(uninstall.folder.begin(), uninstall.folder.end(), '/', '\\');
    while (uninstall.folder.ends_with('\\')) uninstall.folder.pop_back();
    const std::string product = VersionString(manifest, "ProductName");
    const std::string name = product.empty() ? FromCodePage(manifest.title, manifest.codepage) : product;
    if (name.empty())
        check.Fail(node, "uninstall", "Settings needs the product's name: give [version] product-name, or a title");
    uninstall.name = RegistryText(check, node, "version.product-name", name, manifest);
    uninstall.version = RegistryText(check, node, "version.product-version", VersionString(manifest, "ProductVersion"), manifest);
    uninstall.publisher = RegistryText(check, node, "version.company", VersionString(manifest, "CompanyName"), manifest);
    uninstall.id = uninstall.name;
    if (const auto* id = check.Get(*table, "id", "uninstall.id", toml::node_type::string))
        uninstall.id = RegistryText(check, *id, "uninstall.id", id->as_string()->get(), manifest);
    if (uninstall.id.empty() || uninstall.id.size() > kMaxText || uninstall.id.find('\\') != std::string::npos)
        check.Fail(node, "uninstall.id", "the registry key's name must be 1 to 255 characters without \"\\\"");
    return uninstall;
}

// The remover and its record must install like any entry, and every entry
// must say its drive: the remover cannot know the one the installer ran from.
void CheckUninstall(const TChecker& check, const TManifest& manifest) {
    const TUninstall& uninstall = *manifest.uninstall;
    std::vector<TFileEntry> files = manifest.files;
    for (const char* name : {setup::kPackageRecordName, setup::kRecordName, setup::kRemoverName}) {
        TFileEntry& entry = files.emplace_back();
        entry.destination = uninstall.folder + "\\" + name;
        entry.line = uninstall.line;
        if (const auto breach = CheckDestinationRules(entry.destination, {}, entry.line, RulesFor(manifest)))
            check.Fail(entry.line, "uninstall.folder", breach->Message());
    }
    if (const auto breach = CheckEntryRules(Ruled(files), RulesFor(manifest))) check.Fail(breach->line, breach->field, breach->Message());
    for (const TFileEntry& entry : files) {
        const std::string path = Normalized(entry.destination);
        if (!setup::LeadingMacro(path) && (path.size() < 2 || path[1] != ':'))
            check.Fail(entry.line, entry.line == uninstall.line ? "uninstall.folder" : "destination",
                       "with [uninstall], every destination starts with a folder macro or a drive: the remover "
                       "cannot tell which drive the installer ran from");
    }
}

}  // namespace vorn::pack
