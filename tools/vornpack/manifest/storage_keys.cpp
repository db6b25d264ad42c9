// How an entry is stored (method, level, solid), when it replaces a file
// (replace), and what the remover does with it (remove, shared).
#include <algorithm>

#include "tools/common/method_writer.h"
#include "tools/vornpack/manifest/tables.h"

namespace vorn::pack {

namespace {

// The names a manifest may give: the default first, the other methods from
// the newest, then as-is.
std::string MethodChoices() {
    std::vector<std::string> names = {kDefaultMethod->Name};
    const std::vector<std::string> writable = tools::WritableMethodNames();
    for (auto name = writable.rbegin(); name != writable.rend(); ++name)
        if (*name != kDefaultMethod->Name) names.push_back(*name);
    names.push_back(kAsIsName);
    for (std::string& name : names) name = "\"" + name + "\"";
    return Enumerated(names, "or");
}

TEntryMethod ParseMethod(const TChecker& check, const toml::node& node) {
    const auto* value = node.as_string();
    if (value && value->get() == kAsIsName) return kAsIs;
    if (const TEntryMethod method = value ? tools::MethodNamed(value->get()) : nullptr) return method;
    check.Fail(node, "method", "must be " + MethodChoices());
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

bool Solid(const TFileEntry& entry) { return entry.method != kAsIs && entry.method->Solid; }

}  // namespace

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

void ParseStorage(const TChecker& check, const toml::table& table, const TManifest& manifest, TFileEntry& entry) {
    if (const auto* replace = table.get("replace"))
        entry.replace = ParseReplace(check, *replace, manifest.codepage);
    if (const auto* remove = table.get("remove")) entry.removal = ParseRemoval(check, *remove, manifest);
    if (const auto* shared = table.get("shared")) entry.shared = ParseShared(check, *shared, manifest);
    entry.method = manifest.method;
    entry.level = manifest.level;
    ParseMethodAndLevel(check, table, entry.method, entry.level);
}

// A chain holds lzma entries only, so a manifest without any has nothing
// to make solid.
bool ParseSolid(const TChecker& check, const toml::node& node, const std::vector<TFileEntry>& files) {
    const auto* value = node.as_boolean();
    if (!value) check.WrongType(node, "solid", "a boolean");
    if (value->get() && std::none_of(files.begin(), files.end(), Solid))
        check.Fail(node, "solid", "only \"lzma\" entries can be solid; set method = \"lzma\" at the top or in a [[file]]");
    return value->get();
}

}  // namespace vorn::pack
