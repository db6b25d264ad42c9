#include "setup/remover/uninstall_record.h"

#include "setup/package_format.h"

namespace vorn::setup {

namespace {

constexpr char kSignature[] = "vorn-uninstall";
constexpr char kVersion[] = "1";
constexpr size_t kDigestLength = 64;
constexpr const char* kRemovalWords[] = {"auto", "always", "never"};

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

std::optional<Removal> RemovalNamed(const std::string& word) {
    for (size_t i = 0; i < std::size(kRemovalWords); ++i)
        if (word == kRemovalWords[i]) return static_cast<Removal>(i);
    return std::nullopt;
}

// One line of the header into the record; false when it is damaged.
bool TakeHeaderLine(std::string_view line, TUninstallRecord& record) {
    const std::vector<std::string> f = Fields(line, 2);
    if (f.size() != 2) return false;
    const std::string& kind = f[0];
    if (kind == "id") record.id = f[1];
    else if (kind == "name") record.name = f[1];
    else if (kind == "version") record.version = f[1];
    else if (kind == "publisher") record.publisher = f[1];
    else if (kind == "scope" && (f[1] == "machine" || f[1] == "user")) record.perUser = f[1] == "user";
    else return false;
    return true;
}

std::optional<TRecordedFile> FileLine(std::string_view line) {
    const std::vector<std::string> f = Fields(line, 5);
    const auto removal = f.size() == 5 ? RemovalNamed(f[1]) : std::nullopt;
    const auto size = f.size() == 5 ? Size(f[2]) : std::nullopt;
    if (!removal || !size || !IsDigest(f[3]) || f[4].empty()) return std::nullopt;
    return TRecordedFile{f[4], *size, f[3], *removal};
}

std::optional<TRecordedLink> LinkLine(std::string_view line) {
    const std::vector<std::string> f = Fields(line, 3);
    if (f.size() != 3 || f[1].empty() || f[2].empty()) return std::nullopt;
    return TRecordedLink{f[1], f[2]};
}

}  // namespace

std::string RecordText(const TUninstallRecord& record) {
    std::string text = Line({kSignature, kVersion}) + Line({"id", record.id}) + Line({"name", record.name}) +
                       Line({"version", record.version}) + Line({"publisher", record.publisher}) +
                       Line({"scope", record.perUser ? "user" : "machine"});
    for (const TRecordedFile& file : record.files)
        text += Line({"file", kRemovalWords[static_cast<int>(file.removal)], std::to_string(file.size), file.digest,
                      file.destination});
    for (const TRecordedLink& link : record.links) text += Line({"link", link.folder, link.name});
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
    if (!started_) {
        started_ = true;
        damaged_ = std::string(line) + "\n" != Line({kSignature, kVersion});
    } else if (kind == "file") {
        const auto file = FileLine(line);
        damaged_ = !file;
        if (file && onFile) onFile(*file);
        else if (file) record_.files.push_back(*file);
        files_ += file.has_value();
    } else if (kind == "link") {
        const auto link = LinkLine(line);
        damaged_ = !link;
        if (link && onLink) onLink(*link);
        else if (link) record_.links.push_back(*link);
        links_ += link.has_value();
    } else {
        damaged_ = !TakeHeaderLine(line, record_);
    }
    return !damaged_;
}

std::optional<TUninstallRecord> TRecordReader::Finish() {
    if (damaged_ || !started_ || record_.id.empty()) return std::nullopt;
    return std::move(record_);
}

}  // namespace vorn::setup
