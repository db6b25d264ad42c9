// What vornpack refuses because the installer could never write it on
// Windows: destinations too long once the folder macros are in, names
// Windows forbids, paths the installer would make something else of, entries
// that collide or would never run. Each rule has a
// name; an entry's `no-check = ["NAME"]` waives it where the vendor knows it
// does not apply.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vornpack/pe/execution_level.h"

namespace vorn::pack {

inline constexpr std::array<std::string_view, 17> kDestinationRules = {
    "length",         "second-stamp",         "forbidden-character",    "control-character",
    "device-name",    "trailing-space-or-dot", "duplicate",             "run-at-end",
    "no-file-name",   "drive-letter",          "environment-variable",  "network-or-device-path",
    "drive-relative", "dot-or-empty-name",     "name-length",           "folder-length",
    "needs-admin"};

// What the rules need to know of the manifest beyond the entry.
struct TRuleContext {
    std::string codepage = "1252";
    Elevation elevation = Elevation::Admin;
};

// "length, second-stamp, ..." for messages.
std::string DestinationRuleNames();

// The destination as the installer sees it: lowercased, trimmed of bytes <= 32.
std::string Normalized(const std::string& destination);

struct TRuleBreach {
    std::string rule;
    std::string field;  // of the manifest entry, for the message
    int line = 0;
    std::string reason;

    // "REASON (rule NAME; no-check = [\"NAME\"] in the entry waives it)"
    std::string Message() const;
};

// The first rule that a destination (in the package's code page, "\\" as
// the separator) breaks, unless waived, judged on the path the installer
// will make of it. line is the entry's.
std::optional<TRuleBreach> CheckDestinationRules(const std::string& destination, const std::set<std::string>& waived,
                                                int line, const TRuleContext& context);
// The same for a shortcut's name, a file name in a shell folder; field names it.
std::optional<TRuleBreach> CheckShortcutRules(const std::string& name, const std::set<std::string>& waived, int line,
                                             const std::string& field, const TRuleContext& context);
// What the rules across entries see of one entry.
struct TRuledEntry {
    const std::string& destination;
    bool runsAtEnd;
    const std::set<std::string>& waived;
    int line;
    std::string source;      // as messages show it; empty for the files vornpack makes
    std::string folderPath;  // under its [[folder]], "/"-separated; empty for a [[file]]
};

// The rules across entries, in install order: one path twice (as Windows
// compares paths: case folded, names without their trailing dots and
// spaces), more than one run at the end.
std::optional<TRuleBreach> CheckEntryRules(const std::vector<TRuledEntry>& entries, const TRuleContext& context);

}  // namespace vorn::pack
