#include "tools/vornpack/manifest/checker.h"

#include <algorithm>

#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/manifest/manifest_text.h"

namespace vorn::pack {

namespace {

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

}  // namespace

void TChecker::Fail(int line, const std::string& field, const std::string& what) const {
    throw EManifestError(path_.string() + ":" + std::to_string(line) + ": " + field + ": " + what);
}

void TChecker::Fail(const toml::node& node, const std::string& field, const std::string& what) const {
    Fail(static_cast<int>(node.source().begin.line), field, what);
}

void TChecker::WrongType(const toml::node& node, const std::string& field, const std::string& expected) const {
    Fail(node, field, "expected " + expected + ", found " + TypeName(node.type()));
}

const toml::node* TChecker::Get(const toml::table& table, std::string_view key, const std::string& field,
                                toml::node_type type) const {
    const toml::node* node = table.get(key);
    if (node && node->type() != type) WrongType(*node, field, TypeName(type));
    return node;
}

std::string TChecker::Text(const toml::node& node, const std::string& field, const std::string& codepage) const {
    const auto* value = node.as_string();
    if (!value) WrongType(node, field, "a string");
    return Converted(node, field, std::string(value->get()), codepage);
}

std::string TChecker::Converted(const toml::node& node, const std::string& field, const std::string& utf8,
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

void TChecker::OnlyKeys(const toml::table& table, const TKeyList& allowed, const std::string& where) const {
    for (const auto& [key, value] : table)
        if (std::find(allowed.begin(), allowed.end(), key.str()) == allowed.end())
            Fail(value, where + std::string(key.str()),
                 "unknown field" + Nearest(key.str(), allowed, value.is_array() && value.as_array()->is_array_of_tables()));
}

std::string Enumerated(const std::vector<std::string>& items, const std::string& lastJoin) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " " + lastJoin + " " : ", ") + items[i];
    return text;
}

}  // namespace vorn::pack
