#include "setup/remover/uninstall_record.h"

#include "setup/package_format.h"

namespace vorn::setup {

namespace {

constexpr char kSignature[] = "vorn-uninstall";
constexpr int kVersion = 2;
constexpr size_t kDigestLength = 64;
constexpr const char* kRemovalWords[] = {"auto", "always", "never"};
constexpr const char* kSharingWords[] = {"own", "shared", "counted"};

std::string Line(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : std::string(1, kFieldSeparator)) + field;
    return line + "\n";
}

// The line's fields; the last field takes the rest of the line.
std::vector<std::string> Fields(std::string_view line, size_t count) {
    std::vector<std::string> fields;
    size_t at = 0;
    while (fields.size() + 1 < count) {
        const size_t end = line.find(kFieldSeparator, at);
        if (end == std::string::npos) break;
        fields.emplace_back(line.substr(at, end - at));
        at = end + 1;
    }
    fields.emplace_back(line.substr(at));
    return fields;
}

// A size no larger than any file an installer writes.
std::optional<int64_t> Size(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value <= kLargestRecordedFile ? std::optional(value) : std::nullopt;
}

bool IsDigest(const std::string& text) {
    return text.size() == kDigestLength && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The index of word in words, as the enum it names.
template <class Enum, size_t N>
std::optional<Enum> Named(const std::string& word, const char* const (&words)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (word == words[i]) return static_cast<Enum>(i);
    return std::nullopt;
}

bool IsDate(const std::string& text) {
    return text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos;
}
bool AnyText(const std::string&) { return true; }
bool SomeText(const std::string& text) { return !text.empty(); }

// The head's text lines, in the order they are written: the key, the text
// of the record it holds, the first version of the record that has it,
// and what it may hold. A line that may hold nothing is always written;
// another only when it holds something.
struct THeadLine {
    const char* key;
    std::string TUninstallRecord::*text;
    int since;
    bool (*valid)(const std::string&);
};
constexpr THeadLine kHeadLines[] = {
    {"id", &TUninstallRecord::id, 1, AnyText},
    {"name", &TUninstallRecord::name, 1, AnyText},
    {"version", &TUninstallRecord::version, 1, AnyText},
    {"publisher", &TUninstallRecord::publisher, 1, AnyText},
    {"folder", &TUninstallRecord::folder, 2, SomeText},
    {"installed", &TUninstallRecord::installedOn, 2, IsDate},
};
constexpr char kScopeKey[] = "scope";  // machine or user, after the text lines
constexpr const char* kScopeWords[] = {"machine", "user"};
constexpr char kFileKey[] = "file";
constexpr char kLinkKey[] = "link";

// One line of the head into the record; false when it is damaged.
bool TakeHeadLine(std::string_view line, int version, TUninstallRecord& record) {
    const std::vector<std::string> f = Fields(line, 2);
    if (f.size() != 2) return false;
    if (f[0] == kScopeKey) {
        const auto scope = Named<int>(f[1], kScopeWords);
        if (scope) record.perUser = *scope == 1;
        return scope.has_value();
    }
    for (const THeadLine& head : kHeadLines)
        if (f[0] == head.key && version >= head.since && head.valid(f[1])) {
            record.*head.text = f[1];
            return true;
        }
    return false;
}

}  // namespace

std::string RecordText(const TUninstallRecord& record) {
    std::string text = Line({kSignature, std::to_string(kVersion)});
    for (const THeadLine& head : kHeadLines)
        if (head.valid("") || !(record.*head.text).empty()) text += Line({head.key, record.*head.text});
    text += Line({kScopeKey, kScopeWords[record.perUser]});
    for (const TRecordedFile& file : record.files)
        text += Line({kFileKey, kRemovalWords[static_cast<int>(file.removal)],
                      kSharingWords[static_cast<int>(file.sharing)], std::to_string(file.size), file.digest,
                      file.destination});
    for (const TRecordedLink& link : record.links)
        text += link.path.empty() ? Line({kLinkKey, link.folder, link.name})
                                  : Line({kLinkKey, link.folder, link.name, link.path});
    return text;
}

std::optional<TUninstallRecord> ParseRecord(const std::string& text) {
    TRecordReader reader;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return std::nullopt;  // cut short
        if (!reader.Take(std::string_view(text).substr(at, end - at))) return std::nullopt;
        at = end + 1;
    }
    return reader.Finish();
}

bool TRecordReader::Take(std::string_view line) {
    if (damaged_) return false;
    const std::string_view kind = line.substr(0, line.find(kFieldSeparator));
    if (version_ == 0) {
        const std::vector<std::string> f = Fields(line, 2);
        version_ = f.size() == 2 && f[0] == kSignature && (f[1] == "1" || f[1] == "2") ? f[1][0] - '0' : -1;
        damaged_ = version_ < 0;
    } else if (kind == kFileKey) {
        damaged_ = !TakeFile(line);
    } else if (kind == kLinkKey) {
        damaged_ = !TakeLink(line);
    } else {
        damaged_ = !TakeHeadLine(line, version_, record_);
    }
    return !damaged_;
}

bool TRecordReader::TakeFile(std::string_view line) {
    // Records of earlier builds have no sharing field.
    const size_t count = version_ >= 2 ? 6 : 5;
    const std::vector<std::string> f = Fields(line, count);
    if (f.size() != count) return false;
    const auto removal = Named<Removal>(f[1], kRemovalWords);
    const auto sharing = count == 6 ? Named<Sharing>(f[2], kSharingWords) : std::optional(Sharing::Own);
    const auto size = Size(f[count - 3]);
    if (!removal || !sharing || !size || !IsDigest(f[count - 2]) || f[count - 1].empty()) return false;
    const TRecordedFile file{f[count - 1], *size, f[count - 2], *removal, *sharing};
    if (onFile) onFile(file);
    else record_.files.push_back(file);
    ++files_;
    shared_ += file.sharing != Sharing::Own;
    return true;
}

bool TRecordReader::TakeLink(std::string_view line) {
    const std::vector<std::string> f = Fields(line, 4);
    if (f.size() < 3 || f[1].empty() || f[2].empty() || (f.size() == 4 && (version_ < 2 || f[3].empty())))
        return false;
    const TRecordedLink link{f[1], f[2], f.size() == 4 ? f[3] : ""};
    if (onLink) onLink(link);
    else record_.links.push_back(link);
    ++links_;
    return true;
}

std::optional<TUninstallRecord> TRecordReader::Finish() {
    if (damaged_ || version_ <= 0 || record_.id.empty()) return std::nullopt;
    return std::move(record_);
}

}  // namespace vorn::setup
