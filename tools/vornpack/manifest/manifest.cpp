#include "tools/vornpack/manifest/manifest.h"

#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "compress/vorn_header.h"
#include "setup/folders.h"
#include "setup/package_format.h"
#include "tools/common/method_writer.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/manifest/destination_rules.h"
#include "tools/vornpack/manifest/folder_source.h"
#include "tools/vornpack/manifest/manifest_text.h"
#include "tools/vornpack/build/signing.h"
#include "tools/vornpack/build/source_file.h"

namespace vorn::pack {

namespace {

constexpr size_t kMaxText = setup::kNameLimit;  // the installer cuts names, questions and paths after a macro here
// Past these a file is refused before it is read. A manifest of 1 MiB
// parses in well under a second and 64 MB whatever it holds (a million
// numbers are the worst found); an icon of every size Windows shows, in
// PNG, takes well under 4 MiB.
constexpr int64_t kMaxManifestSize = int64_t{1} << 20;
constexpr int64_t kMaxIconSize = int64_t{4} << 20;

// "a string", "an integer", ... for messages about a value's type.
std::string TypeName(toml::node_type type) {
    switch (type) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a floating-point number";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        case toml::node_type::date: return "a date";
        case toml::node_type::time: return "a time";
        case toml::node_type::date_time: return "a date-time";
        default: return "nothing";
    }
}

class TChecker {
public:
    explicit TChecker(std::filesystem::path path) : path_(std::move(path)) {}

    [[noreturn]] void Fail(int line, const std::string& field, const std::string& what) const {
        throw EManifestError(path_.string() + ":" + std::to_string(line) + ": " + field + ": " + what);
    }
    [[noreturn]] void Fail(const toml::node& node, const std::string& field, const std::string& what) const {
        Fail(static_cast<int>(node.source().begin.line), field, what);
    }

    [[noreturn]] void WrongType(const toml::node& node, const std::string& field, const std::string& expected) const {
        Fail(node, field, "expected " + expected + ", found " + TypeName(node.type()));
    }
    // The value of key, if present, checked to be of the given type.
    const toml::node* Get(const toml::table& table, std::string_view key, const std::string& field,
                          toml::node_type type) const {
        const toml::node* node = table.get(key);
        if (node && node->type() != type) WrongType(*node, field, TypeName(type));
        return node;
    }

    // A string field converted to the code page, without the separator.
    std::string Text(const toml::node& node, const std::string& field, const std::string& codepage) const {
        const auto* value = node.as_string();
        if (!value) WrongType(node, field, "a string");
        return Converted(node, field, std::string(value->get()), codepage);
    }
    // Text of the field's (a file name under a [[folder]], say) in the code page.
    std::string Converted(const toml::node& node, const std::string& field, const std::string& utf8,
                          const std::string& codepage) const {
        std::string converted;
        try {
            converted = ToCodePage(utf8, codepage);
        } catch (const std::invalid_argument& error) {
            Fail(node, field, error.what());
        }
        if (converted.find(setup::kFieldSeparator) != std::string::npos)
            Fail(node, field, "\"" + std::string(1, setup::kFieldSeparator) + "\" cannot be stored in an installer");
        return converted;
    }

    void OnlyKeys(const toml::table& table, const std::vector<std::string>& allowed,
                  const std::string& where) const {
        for (const auto& [key, value] : table)
            if (std::find(allowed.begin(), allowed.end(), key.str()) == allowed.end())
                Fail(value, where + std::string(key.str()), "unknown field" + Nearest(key.str(), allowed, value.is_array() && value.as_array()->is_array_of_tables()));
    }

private:
    std::filesystem::path path_;
};

// The destination as the installer sees it: lowercased, trimmed of bytes <= 32.
std::string Normalized(const std::string& destination) {
    return setup::Trim(setup::Lowercase(destination));
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

TRuleContext RulesFor(const TManifest& manifest) { return {manifest.codepage, manifest.elevation}; }

RunMode ParseRun(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (value && value->get() == "never") return RunMode::Never;
    if (value && value->get() == "now") return RunMode::Now;
    if (value && value->get() == "at-end") return RunMode::AtEnd;
    check.Fail(node, "run", "must be \"never\", \"now\" or \"at-end\"");
}

// The names a manifest may give: the default first, the other methods from
// the newest, then as-is.
std::string MethodChoices() {
    std::vector<std::string> names = {kDefaultMethod->Name};
    const std::vector<std::string> writable = tools::WritableMethodNames();
    for (auto name = writable.rbegin(); name != writable.rend(); ++name)
        if (*name != kDefaultMethod->Name) names.push_back(*name);
    std::string text;
    for (const std::string& name : names) text += "\"" + name + "\", ";
    return text.substr(0, text.size() - 2) + " or \"" + kAsIsName + "\"";
}

TEntryMethod ParseMethod(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (value && value->get() == kAsIsName) return kAsIs;
    if (const TEntryMethod method = value ? tools::MethodNamed(value->get()) : nullptr) return method;
    check.Fail(node, "method", "must be " + MethodChoices());
}

// method and level of a [[file]] table or of the manifest's top, over the
// defaults given. A level belongs with the lzma method only.
void ParseMethodAndLevel(const TChecker& check, const toml::table& table, TEntryMethod& method, int& level) {
    if (const auto* node = check.Get(table, "method", "method", toml::node_type::string))
        method = ParseMethod(check, *node);
    const auto* node = table.get("level");
    if (!node) return;
    const auto* value = node->as_integer();
    if (!value || value->get() < lzma::kMinLevel || value->get() > lzma::kMaxLevel)
        check.Fail(*node, "level", "must be an integer from 0 to 9");
    if (method == kAsIs || !method->HasLevels()) check.Fail(*node, "level", "only the \"lzma\" method has levels");
    level = static_cast<int>(value->get());
}

TReplaceRule ParseReplace(const TChecker& check, const toml::node& node, const std::string& codepage) {
    if (const auto* word = node.as_string()) {
        if (word->get() == "always") return {setup::Replace::Always, ""};
        if (word->get() == "never") return {setup::Replace::Never, ""};
    } else if (const auto* table = node.as_table()) {
        check.OnlyKeys(*table, {"ask"}, "replace.");
        if (const auto* ask = check.Get(*table, "ask", "replace.ask", toml::node_type::string)) {
            std::string question = check.Text(*ask, "replace.ask", codepage);
            if (question.empty()) check.Fail(*ask, "replace.ask", "the question must not be empty");
            if (question.size() > kMaxText)
                check.Fail(*ask, "replace.ask", "longer than 255 characters; the installer would cut it");
            return {setup::Replace::Ask, question};
        }
    } else {
        check.WrongType(node, "replace", "a string or a table");
    }
    check.Fail(node, "replace", "must be \"always\", \"never\" or { ask = \"question\" }");
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

// Judged without opening it: the build opens each source once, without
// blocking, and judges it again on that handle.
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

bool Solid(const TFileEntry& entry) { return entry.method != kAsIs && entry.method->Solid; }

// solid = true|false, read once the entries are known: a chain holds lzma
// entries only, so a manifest without any has nothing to make solid.
bool ParseSolid(const TChecker& check, const toml::node& node, const std::vector<TFileEntry>& files) {
    const auto* value = node.as_boolean();
    if (!value) check.WrongType(node, "solid", "a boolean");
    if (value->get() && std::none_of(files.begin(), files.end(), Solid))
        check.Fail(node, "solid", "only \"lzma\" entries can be solid; set method = \"lzma\" at the top or in a [[file]]");
    return value->get();
}

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

// remove = true|false: whether the remover takes the entry's file away
// (by default it keeps what lies in the Windows folder).
setup::Removal ParseRemoval(const TChecker& check, const toml::node& node, const TManifest& manifest) {
    const auto* value = node.as_boolean();
    if (!value) check.WrongType(node, "remove", "a boolean");
    if (!manifest.uninstall)
        check.Fail(node, "remove", "tells the remover what to do, and there is none: add an [uninstall] table");
    return value->get() ? setup::Removal::Always : setup::Removal::Never;
}

// shared = true: the file is counted among the machine's shared files, and
// the remover takes it away only with the last product that counts it.
bool ParseShared(const TChecker& check, const toml::node& node, const TManifest& manifest) {
    const auto* value = node.as_boolean();
    if (!value) check.WrongType(node, "shared", "a boolean");
    if (!manifest.uninstall)
        check.Fail(node, "shared", "tells the remover what to do, and there is none: add an [uninstall] table");
    return value->get();
}

// replace, method, level, remove and shared: what [[file]] and [[folder]] entries share.
void ParseStorage(const TChecker& check, const toml::table& table, const TManifest& manifest, TFileEntry& entry) {
    if (const auto* replace = table.get("replace"))
        entry.replace = ParseReplace(check, *replace, manifest.codepage);
    if (const auto* remove = table.get("remove")) entry.removal = ParseRemoval(check, *remove, manifest);
    if (const auto* shared = table.get("shared")) entry.shared = ParseShared(check, *shared, manifest);
    entry.method = manifest.method;
    entry.level = manifest.level;
    ParseMethodAndLevel(check, table, entry.method, entry.level);
}

TFileEntry ParseEntry(const TChecker& check, const toml::table& table, const TManifest& manifest) {
    check.OnlyKeys(table,
                   {"source", "destination", "run", "replace", "method", "level", "remove", "shared", "shortcuts",
                    "no-check"},
                   "");
    TFileEntry entry;
    entry.line = static_cast<int>(table.source().begin.line);
    const auto* source = check.Get(table, "source", "source", toml::node_type::string);
    if (!source) check.Fail(entry.line, "source", "is missing");
    entry.source = manifest.path.parent_path() / source->as_string()->get();
    CheckSource(check, *source, entry.source);

    const auto* destination = check.Get(table, "destination", "destination", toml::node_type::string);
    if (!destination) check.Fail(entry.line, "destination", "is missing");
    entry.destination = check.Text(*destination, "destination", manifest.codepage);
    std::replace(entry.destination.begin(), entry.destination.end(), '/', '\\');  // the installer knows only "\\"
    CheckDestination(check, *destination, entry.destination);
    if (const auto* waived = table.get("no-check")) entry.waived = ParseWaived(check, *waived);
    if (const auto breach = CheckDestinationRules(entry.destination, entry.waived, entry.line, RulesFor(manifest)))
        check.Fail(*destination, "destination", Explained(*breach, entry.destination));

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

// The files a [[folder]] table takes, one entry each, in the byte order of
// their paths under the folder; each inherits the table's settings and
// meets every destination rule. Empty folders are noted and left out.
void ParseFolder(const TChecker& check, const toml::table& table, TManifest& manifest) {
    for (const char* key : {"run", "shortcuts"})
        if (const auto* node = table.get(key))
            check.Fail(*node, key, "belongs to a [[file]]; a [[folder]] gives replace, method, level, remove, shared "
                                   "and no-check to all its files");
    check.OnlyKeys(table,
                   {"source", "destination", "include", "exclude", "method", "level", "replace", "remove", "shared",
                    "no-check"},
                   "");
    TFileEntry model;
    model.line = static_cast<int>(table.source().begin.line);
    const auto* source = check.Get(table, "source", "source", toml::node_type::string);
    if (!source) check.Fail(model.line, "source", "is missing");
    const auto* destination = check.Get(table, "destination", "destination", toml::node_type::string);
    if (!destination) check.Fail(model.line, "destination", "is missing");
    std::string folder = check.Text(*destination, "destination", manifest.codepage);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (const auto* waived = table.get("no-check")) model.waived = ParseWaived(check, *waived);
    ParseStorage(check, table, manifest, model);

    const std::filesystem::path root = manifest.path.parent_path() / source->as_string()->get();
    TFolderFiles found;
    try {
        found = ListFolder(root, ParseGlobs(check, table, "include"), ParseGlobs(check, table, "exclude"));
    } catch (const EFolderError& error) {
        check.Fail(*source, "source", SourceHint(source->as_string()->get(), error.what()));
    }
    if (found.files.empty()) check.Fail(*source, "source", "\"" + root.string() + "\" holds no file to install");
    WarnUnmatched(table, found, root, manifest);
    for (const std::string& empty : found.emptyFolders)
        manifest.notes.push_back(manifest.path.string() + ":" + std::to_string(model.line) + ": source: \"" + empty +
                                 "\" is empty and left out: the installer makes only the folders it puts files in");
    for (const std::string& file : found.files) {
        TFileEntry entry = model;
        entry.source = root / file;
        entry.folderPath = file;
        CheckSource(check, *source, entry.source);
        std::string name = check.Converted(*source, "source", file, manifest.codepage);
        std::replace(name.begin(), name.end(), '/', '\\');
        entry.destination = folder + "\\" + name;
        CheckDestination(check, *destination, entry.destination);
        if (const auto breach = CheckDestinationRules(entry.destination, entry.waived, entry.line, RulesFor(manifest)))
            check.Fail(*destination, "destination", "for \"" + file + "\": " + breach->Message());
        manifest.files.push_back(std::move(entry));
    }
}

// [sign] timeout = SECONDS: how long the signing command may take.
std::chrono::seconds ParseSignTimeLimit(const TChecker& check, const toml::node& node) {
    constexpr int64_t kLongestLimit = 24 * 60 * 60;
    const auto* seconds = node.as_integer();
    if (!seconds) check.WrongType(node, "sign.timeout", "an integer (seconds)");
    if (seconds->get() < 1 || seconds->get() > kLongestLimit)
        check.Fail(node, "sign.timeout", "must be from 1 to 86400 seconds");
    return std::chrono::seconds(seconds->get());
}

// [sign] command = ["tool", "arg", "{in}", ...]: an argument list, run
// without a shell, that must name both the unsigned and the signed file.
// Without it, [sign] may hold only the time limit for --sign-command.
std::vector<std::string> ParseSign(const TChecker& check, const toml::node& node, TManifest& manifest) {
    const auto* table = node.as_table();
    if (!table) check.Fail(node, "sign", "must be a table with a command");
    check.OnlyKeys(*table, {"command", "timeout"}, "sign.");
    if (const auto* limit = table->get("timeout")) manifest.signTimeLimit = ParseSignTimeLimit(check, *limit);
    const auto* command = table->get("command");
    if (!command && table->contains("timeout")) return {};
    if (!command) check.Fail(node, "sign.command", "is missing");
    const auto* args = command->as_array();
    if (!args || args->empty()) check.Fail(*command, "sign.command", "must be a list of arguments");
    std::vector<std::string> result;
    for (const auto& arg : *args) {
        if (!arg.is_string()) check.Fail(arg, "sign.command", "every argument must be a string");
        result.push_back(arg.as_string()->get());
    }
    const std::string missing = MissingPlaceholder(result);
    if (!missing.empty()) check.Fail(*command, "sign.command", "must name the installer's file with " + missing);
    return result;
}

// The [version] keys and the string each one sets, in the order written.
constexpr std::pair<const char*, const char*> kVersionStrings[] = {
    {"company", "CompanyName"},     {"description", "FileDescription"}, {"file-version", "FileVersion"},
    {"internal-name", "InternalName"}, {"copyright", "LegalCopyright"}, {"trademarks", "LegalTrademarks"},
    {"original-filename", "OriginalFilename"}, {"product-name", "ProductName"},
    {"product-version", "ProductVersion"}, {"comments", "Comments"}};

TFourPartVersion ParseFourParts(const TChecker& check, const toml::node& node, const std::string& field) {
    const auto* text = node.as_string();
    if (!text) check.WrongType(node, field, "a string");
    const auto version = ParseVersion(text->get());
    if (!version) check.Fail(node, field, "must be four numbers from 0 to 65535, as in \"1.2.3.4\"");
    return *version;
}

// [version]: the version information Explorer shows; text stays UTF-8.
TVersionInfo ParseVersionTable(const TChecker& check, const toml::node& node) {
    const auto* table = node.as_table();
    if (!table) check.WrongType(node, "version", "a table");
    std::vector<std::string> keys;
    for (const auto& [key, name] : kVersionStrings) keys.push_back(key);
    check.OnlyKeys(*table, keys, "version.");
    const auto* file = table->get("file-version");
    if (!file) check.Fail(node, "version.file-version", "is missing");
    TVersionInfo info;
    info.fileVersion = ParseFourParts(check, *file, "version.file-version");
    info.productVersion = info.fileVersion;
    if (const auto* product = table->get("product-version"))
        info.productVersion = ParseFourParts(check, *product, "version.product-version");
    for (const auto& [key, name] : kVersionStrings) {
        const auto* value = check.Get(*table, key, std::string("version.") + key, toml::node_type::string);
        if (value) info.strings.push_back({name, value->as_string()->get()});
        else if (key == std::string_view("product-version")) info.strings.push_back({name, VersionText(info.productVersion)});
    }
    try {
        VersionResourceBytes(info);
    } catch (const EFaceError& error) {
        check.Fail(node, "version", error.what());
    }
    return info;
}

// icon = "app.ico": every image of the file goes into the installer.
std::vector<TIconImage> ParseIcon(const TChecker& check, const toml::node& node, TManifest& manifest) {
    const auto* text = node.as_string();
    if (!text) check.WrongType(node, "icon", "a string");
    const std::filesystem::path path = manifest.iconPath = manifest.path.parent_path() / text->get();
    std::string quoted = path.string();  // built in place: GCC 12 misreads "\"" + text + "\""
    quoted.insert(quoted.begin(), '"');
    quoted.push_back('"');
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadCapped(path, kMaxIconSize, "the icon");
    } catch (const ESourceError& error) {
        check.Fail(node, "icon", error.Message);
    } catch (const EStreamError&) {
        check.Fail(node, "icon", quoted + " is not a readable file");
    }
    try {
        return ReadIconFile(bytes);
    } catch (const EFaceError& problem) {
        check.Fail(node, "icon", quoted + ": " + problem.what());
    }
}

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

// What the rules across entries see of the entries.
std::vector<TRuledEntry> Ruled(const std::vector<TFileEntry>& files) {
    std::vector<TRuledEntry> ruled;
    for (const TFileEntry& entry : files)
        ruled.push_back({entry.destination, entry.run == RunMode::AtEnd, entry.waived, entry.line,
                         entry.source.string(), entry.folderPath});
    return ruled;
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
    check.OnlyKeys(root, {"title", "codepage", "arch", "elevation", "icon", "version", "method", "level", "solid", "file",
                          "folder", "uninstall", "install", "sign"}, "");
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
