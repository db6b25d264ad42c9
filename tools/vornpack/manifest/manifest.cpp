#include "tools/vornpack/manifest/manifest.h"

#include <toml++/toml.h>

#include <algorithm>

#include "tools/vornpack/build/source_file.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/manifest/manifest_text.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// A manifest of 1 MiB parses in well under a second and 64 MB whatever it
// holds (a million numbers are the worst found); a larger one is refused
// before it is read.
constexpr int64_t kMaxManifestSize = int64_t{1} << 20;

// The keys at the manifest's top, its tables among them.
const TKeyList kTopKeys = {"title", "codepage", "arch", "elevation", "icon", "version", "method", "level",
                           "solid", "file", "folder", "uninstall", "install", "sign"};

Elevation ParseElevation(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (const auto level = value ? ElevationNamed(value->get()) : std::nullopt) return *level;
    check.Fail(node, "elevation", "must be \"admin\" or \"user\"");
}

const TArchitecture& ParseArch(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (const TArchitecture* arch = value ? ArchitectureNamed(value->get()) : nullptr) return *arch;
    check.Fail(node, "arch", "must be \"x86\" (32-bit Windows) or \"x64\" (64-bit Windows)");
}

// A NUL ends a string wherever a file system or the installer reads it:
// "f.txt\0.evil" would quietly become "f.txt". The entries of an array of
// tables name their fields as the other messages do, without the array.
void RefuseNuls(const TChecker& check, const toml::node& node, const std::string& field) {
    if (const auto* text = node.as_string()) {
        if (text->get().find('\0') != std::string::npos) check.Fail(node, field, "a NUL character cannot be stored");
    } else if (const auto* table = node.as_table()) {
        for (const auto& [key, value] : *table)
            RefuseNuls(check, value, (field.empty() ? "" : field + ".") + std::string(key.str()));
    } else if (const auto* array = node.as_array()) {
        for (const auto& item : *array) RefuseNuls(check, item, item.is_table() ? "" : field);
    }
}

}  // namespace

TManifest ParseManifest(const std::string& text, const std::filesystem::path& path) {
    TChecker check(path);
    if (const int line = TooDeepLine(text))
        check.Fail(line, "syntax", "nested more than " + std::to_string(kMaxNesting) + " levels deep");
    toml::table root;
    try {
        root = toml::parse(text, path.string());
    } catch (const toml::parse_error& error) {
        const int line = static_cast<int>(error.source().begin.line);
        std::string what(error.description());
        if (what.find("escape sequence") != std::string::npos) what += ": " + SingleQuotesHint(LineText(text, line));
        check.Fail(line, "syntax", what);
    }
    check.OnlyKeys(root, kTopKeys, "");
    RefuseNuls(check, root, "");

    TManifest manifest;
    manifest.path = path;
    if (const auto* codepage = root.get("codepage")) {
        if (const auto* number = codepage->as_integer()) manifest.codepage = std::to_string(number->get());
        else if (const auto* word = codepage->as_string()) manifest.codepage = word->get();
        else check.WrongType(*codepage, "codepage", "an integer or a string");
        try {
            CheckCodePage(manifest.codepage);
        } catch (const std::invalid_argument& error) {
            check.Fail(*codepage, "codepage", error.what());
        }
    }
    if (const auto* title = check.Get(root, "title", "title", toml::node_type::string))
        manifest.title = check.Text(*title, "title", manifest.codepage);
    if (const auto* arch = root.get("arch")) manifest.arch = &ParseArch(check, *arch);
    if (const auto* elevation = root.get("elevation")) manifest.elevation = ParseElevation(check, *elevation);
    ParseMethodAndLevel(check, root, manifest.method, manifest.level);

    if (const auto* icon = root.get("icon")) manifest.icon = ParseIcon(check, *icon, manifest);
    if (const auto* version = root.get("version")) manifest.version = ParseVersionTable(check, *version);
    if (const auto* sign = root.get("sign")) manifest.signCommand = ParseSign(check, *sign, manifest);
    if (const auto* uninstall = root.get("uninstall")) manifest.uninstall = ParseUninstall(check, *uninstall, manifest);

    const auto* files = check.Get(root, "file", "file", toml::node_type::array);
    const auto* folders = check.Get(root, "folder", "folder", toml::node_type::array);
    if ((files && !files->is_array_of_tables()) || (folders && !folders->is_array_of_tables()) || (!files && !folders))
        check.Fail(1, "file", "the manifest needs at least one [[file]] or [[folder]] table");
    if (files)
        for (const auto& node : *files->as_array()) manifest.files.push_back(ParseEntry(check, *node.as_table(), manifest));
    if (folders)
        for (const auto& node : *folders->as_array()) ParseFolder(check, *node.as_table(), manifest);
    // Entries install in the order the manifest gives, whichever table they come from.
    std::stable_sort(manifest.files.begin(), manifest.files.end(),
                     [](const TFileEntry& a, const TFileEntry& b) { return a.line < b.line; });
    if (const auto breach = CheckEntryRules(Ruled(manifest.files), RulesFor(manifest))) check.Fail(breach->line, breach->field, breach->Message());
    if (manifest.uninstall) CheckUninstall(check, manifest);
    if (const auto* install = root.get("install")) manifest.install = ParseInstall(check, *install, manifest);
    if (const auto* solid = root.get("solid")) manifest.solid = ParseSolid(check, *solid, manifest.files);
    return manifest;
}

TManifest LoadManifest(const std::filesystem::path& path) {
    std::vector<uint8_t> text;
    try {
        text = ReadCapped(path, kMaxManifestSize, "the manifest");
    } catch (const ESourceError& error) {
        throw EManifestError(error.Message);
    } catch (const EStreamError&) {
        throw EManifestError(path.string() + ": cannot read the manifest");
    }
    return ParseManifest(std::string(text.begin(), text.end()), path);
}

}  // namespace vorn::pack
