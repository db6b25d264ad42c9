#include "tools/vornpack/manifest/manifest_text.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "setup/folders.h"

namespace vorn::pack {

namespace {

// Edits (insertions, deletions, changes) from a to b, "_" taken for "-".
size_t Distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const char ca = a[i - 1] == '_' ? '-' : a[i - 1], cb = b[j - 1] == '_' ? '-' : b[j - 1];
            const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ca != cb)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

// Where the string whose opening quote is at `at` ends (its closing quote),
// counting the lines it spans; an unclosed one runs to the end of its line
// (or, multi-line, of the text): the parser names that error itself.
size_t StringEnd(const std::string& text, size_t at, int& line) {
    const char quote = text[at];
    const std::string triple(3, quote);
    const bool multiline = text.compare(at, 3, triple) == 0;
    for (size_t i = at + (multiline ? 3 : 1); i < text.size(); ++i) {
        if (quote == '"' && text[i] == '\\' && i + 1 < text.size() && text[i + 1] != '\n') ++i;
        else if (text[i] == '\n' && !multiline) return i - 1;
        else if (text[i] == '\n') ++line;
        else if (text[i] == quote && !multiline) return i;
        else if (text[i] == quote && text.compare(i, 3, triple) == 0)
            return std::min(text.find_first_not_of(quote, i), text.size()) - 1;  // up to two quotes end the text
    }
    return text.size();
}

}  // namespace

std::string Nearest(std::string_view key, const std::vector<std::string>& known, bool arrayOfTables) {
    const std::string* best = nullptr;
    size_t distance = std::max<size_t>(2, key.size() / 3) + 1;
    for (const std::string& name : known)
        if (const size_t d = Distance(setup::Lowercase(std::string(key)), name); d < distance) best = &name, distance = d;
    if (!best) return "";
    return "; did you mean " + (arrayOfTables ? "[[" + *best + "]]" : "\"" + *best + "\"") + "?";
}

int TooDeepLine(const std::string& text) {
    std::vector<int> outside;  // the nesting around each bracket still open
    int nesting = 0, dots = 0, line = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        switch (text[i]) {
            case '"': case '\'': i = StringEnd(text, i, line); break;
            case '#': i = std::min(text.find('\n', i), text.size()) - 1; break;
            case '.': ++dots; break;
            case '[': case '{':
                outside.push_back(nesting);
                nesting += dots + 1;
                dots = 0;
                break;
            case ']': case '}':
                if (!outside.empty()) nesting = outside.back(), outside.pop_back();
                dots = 0;
                break;
            case '\n': ++line; dots = 0; break;
            case ',': dots = 0; break;
            default: break;
        }
        if (nesting + dots > kMaxNesting) return line;
    }
    return 0;
}

// In double quotes TOML reads "\" as the start of an escape, so Windows
// paths belong in single quotes; the hint shows the value so written, the
// escapes that became control characters spelled back.
std::string SingleQuotesHint(const std::string& value) {
    static const std::map<char, const char*> escapes = {{'\b', "\\b"}, {'\t', "\\t"}, {'\n', "\\n"},
                                                        {'\f', "\\f"}, {'\r', "\\r"}};
    std::string shown;
    for (char c : value) shown += escapes.count(c) ? escapes.at(c) : std::string(1, c);
    return "write Windows paths in single quotes: '" + (shown.empty() ? "<p>\\MyCAD\\a.txt" : shown) + "'";
}

std::string LineText(const std::string& text, int line) {
    std::istringstream lines(text);
    std::string whole;
    for (int n = 0; n < line && std::getline(lines, whole); ++n) {
    }
    const size_t open = whole.find('"'), close = whole.rfind('"');
    return open != std::string::npos && close > open ? whole.substr(open + 1, close - open - 1) : "";
}

std::string SourceHint(const std::string& written, const std::string& problem) {
    if (written.find('\\') == std::string::npos) return problem;
    std::string slashed = written;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    return problem + "; write \"/\" between folders: \"" + slashed + "\"";
}

}  // namespace vorn::pack
