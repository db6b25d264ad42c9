// What vornpack refuses because the installer could never write it on
// Windows: destinations too long once the folder macros are in, names
// Windows forbids, entries that collide or would never run. Each rule has a
// name; an entry's `no-check = ["NAME"]` waives it where the vendor knows it
// does not apply.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::pack {

struct FileEntry;

inline constexpr std::array<std::string_view, 8> kDestinationRules = {
    "length", "second-stamp", "forbidden-character", "control-character",
    "device-name", "trailing-space-or-dot", "duplicate", "run-at-end"};

// "length, second-stamp, ..." for messages.
std::string DestinationRuleNames();

struct RuleBreach {
    std::string rule;
    std::string field;  // of the manifest entry, for the message
    int line = 0;
    std::string reason;

    // "REASON (rule NAME; no-check = [\"NAME\"] in the entry waives it)"
    std::string Message() const;
};

// The first rule that a destination (in the package's code page, as
// written) breaks, unless waived. line is the entry's.
std::optional<RuleBreach> CheckDestinationRules(const std::string& destination,
                                                const std::set<std::string>& waived, int line);
// The rules across entries: one path twice, more than one run at the end.
std::optional<RuleBreach> CheckEntryRules(const std::vector<FileEntry>& files);

}  // namespace vorn::pack
