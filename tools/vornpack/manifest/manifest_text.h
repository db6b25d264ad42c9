// What vornpack reads in a manifest's text beside the TOML parser: the
// nesting it refuses before the parser recurses on it, and the hints that
// mend habits from elsewhere (double-quoted Windows paths, "\\" in sources,
// slips of a key's name).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn::pack {

// The parser recurses once per level of nesting (a dotted key's parts,
// tables, inline tables, arrays): a few kilobytes of "[a.a.a...]" exhaust
// its stack. A manifest needs a handful of levels; deeper ones are refused
// before it parses.
inline constexpr int kMaxNesting = 32;

// The first line on which nesting passes kMaxNesting, counted generously
// (every dot outside strings and comments, since the last comma or line
// end, deepens by one, as does every open bracket or brace); 0 for none.
// One pass, no recursion.
int TooDeepLine(const std::string& text);

// "; did you mean ...?" with the known key nearest to an unknown one, when
// one is near enough to be a slip; an array of tables is shown as one.
std::string Nearest(std::string_view key, const std::vector<std::string>& known, bool arrayOfTables);

// In double quotes TOML reads "\\" as the start of an escape, so Windows
// paths belong in single quotes: the hint, with the value so written and
// the escapes that became control characters spelled back.
std::string SingleQuotesHint(const std::string& value);
// The double-quoted text on a line of the manifest, as written.
std::string LineText(const std::string& text, int line);
// A source problem, with the hint paths on the build machine need: "/"
// between folders.
std::string SourceHint(const std::string& written, const std::string& problem);

}  // namespace vorn::pack
