// What every reader of a manifest table works with: the checker that turns
// a problem into "FILE:LINE: FIELD: what is wrong" and takes a table's
// values by type, and the limit the installer sets on the texts it keeps.
#pragma once

#include <toml++/toml.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "setup/package_format.h"

namespace vorn::pack {

inline constexpr size_t kMaxText = setup::kNameLimit;  // the installer cuts names, questions and paths after a macro here

// A table's keys, in the order "did you mean" prefers them on a tie.
using TKeyList = std::vector<std::string>;

class TChecker {
public:
    explicit TChecker(std::filesystem::path path) : path_(std::move(path)) {}

    [[noreturn]] void Fail(int line, const std::string& field, const std::string& what) const;
    [[noreturn]] void Fail(const toml::node& node, const std::string& field, const std::string& what) const;

    [[noreturn]] void WrongType(const toml::node& node, const std::string& field, const std::string& expected) const;
    // The value of key, if present, checked to be of the given type.
    const toml::node* Get(const toml::table& table, std::string_view key, const std::string& field,
                          toml::node_type type) const;

    // A string field converted to the code page, without the separator.
    std::string Text(const toml::node& node, const std::string& field, const std::string& codepage) const;
    // Text of the field's (a file name under a [[folder]], say) in the code page.
    std::string Converted(const toml::node& node, const std::string& field, const std::string& utf8,
                          const std::string& codepage) const;

    // Refuses a key the table does not take, with the nearest it does.
    void OnlyKeys(const toml::table& table, const TKeyList& allowed, const std::string& where) const;

private:
    std::filesystem::path path_;
};

// "a, b and c" (lastJoin "and"), for messages that list choices or keys.
std::string Enumerated(const std::vector<std::string>& items, const std::string& lastJoin);

}  // namespace vorn::pack
