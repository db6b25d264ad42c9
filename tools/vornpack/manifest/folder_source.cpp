#include "tools/vornpack/manifest/folder_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>

namespace vorn::pack {

namespace {

namespace fs = std::filesystem;

constexpr size_t kNone = std::string_view::npos;

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        if (slash > start) parts.push_back(path.substr(start, slash - start));
    if (start < path.size()) parts.push_back(path.substr(start));
    return parts;
}

// Whether c is in a set written between "[" and "]": "!" or "^" first
// takes the others, "a-z" a range, a "]" first is itself.
bool SetHolds(std::string_view set, unsigned char c) {
    const bool negated = !set.empty() && (set[0] == '!' || set[0] == '^');
    if (negated) set.remove_prefix(1);
    bool found = false;
    for (size_t i = 0; i < set.size(); ++i) {
        const auto low = static_cast<unsigned char>(set[i]);
        if (i + 2 < set.size() && set[i + 1] == '-') {
            found = found || (low <= c && c <= static_cast<unsigned char>(set[i + 2]));
            i += 2;
        } else {
            found = found || low == c;
        }
    }
    return found != negated;
}

// Where the glob goes on after matching c with its character at `at`, or
// kNone when that character does not take c. A "[" without its "]" is itself.
size_t MatchOne(std::string_view glob, size_t at, char c) {
    if (glob[at] == '?') return at + 1;
    if (glob[at] == '[') {
        const size_t from = at + 1 + (at + 1 < glob.size() && (glob[at + 1] == '!' || glob[at + 1] == '^'));
        const size_t close = glob.find(']', from + 1);
        if (close != kNone)
            return SetHolds(glob.substr(at + 1, close - at - 1), static_cast<unsigned char>(c)) ? close + 1 : kNone;
    }
    return glob[at] == c ? at + 1 : kNone;
}

// One name against one name of the glob. Each character but "*" takes
// exactly one, so on a mismatch only the last "*" needs to take one more:
// the earlier ones can take nothing that the last could not. At most the
// product of the lengths, where trying every split of every "*" grows
// exponentially with their number.
bool NameMatches(std::string_view glob, std::string_view name) {
    size_t g = 0, n = 0;
    size_t afterStar = kNone, starTook = 0;
    while (n < name.size()) {
        if (g < glob.size() && glob[g] == '*') {
            afterStar = ++g;
            starTook = n;
            continue;
        }
        if (g < glob.size())
            if (const size_t next = MatchOne(glob, g, name[n]); next != kNone) {
                g = next;
                ++n;
                continue;
            }
        if (afterStar == kNone) return false;
        g = afterStar;
        n = ++starTook;
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

// Whether the glob's names match the path's first names, all or some (a
// folder above the file): reach[i][j] says that the glob's names before i
// match the path's before j. Linear in each, whatever the number of "**".
bool NamesMatch(const std::vector<std::string>& glob, const std::vector<std::string>& path) {
    std::vector<std::vector<char>> reach(glob.size() + 1, std::vector<char>(path.size() + 1, 0));
    reach[0][0] = 1;
    for (size_t i = 0; i < glob.size(); ++i)
        for (size_t j = 0; j <= path.size(); ++j) {
            if (!reach[i][j]) continue;
            if (glob[i] == "**") {
                for (size_t k = j; k <= path.size() && !reach[i + 1][k]; ++k) reach[i + 1][k] = 1;
            } else if (j < path.size() && NameMatches(glob[i], path[j])) {
                reach[i + 1][j + 1] = 1;
            }
        }
    return std::any_of(reach[glob.size()].begin() + 1, reach[glob.size()].end(), [](char r) { return r != 0; });
}

// A table's globs, each remembering whether it matched anything.
class TGlobs {
public:
    TGlobs(const char* key, const std::vector<std::string>& globs) : key_(key), globs_(globs), used_(globs.size(), false) {}

    bool Match(const std::string& path) {
        bool any = false;
        for (size_t i = 0; i < globs_.size(); ++i)
            if (GlobMatches(globs_[i], path)) any = used_[i] = true;
        return any;
    }
    void AddUnused(std::vector<std::pair<std::string, std::string>>& to) const {
        for (size_t i = 0; i < globs_.size(); ++i)
            if (!used_[i]) to.emplace_back(key_, globs_[i]);
    }

private:
    const char* key_;
    const std::vector<std::string>& globs_;
    std::vector<bool> used_;
};

const char* SpecialKind(fs::file_type type) {
    switch (type) {
        case fs::file_type::symlink: return "a symbolic link";
        case fs::file_type::block:
        case fs::file_type::character: return "a device";
        case fs::file_type::fifo: return "a pipe";
        case fs::file_type::socket: return "a socket";
        default: return "not a regular file";
    }
}

fs::file_type TypeOf(mode_t mode) {
    if (S_ISREG(mode)) return fs::file_type::regular;
    if (S_ISDIR(mode)) return fs::file_type::directory;
    if (S_ISLNK(mode)) return fs::file_type::symlink;
    if (S_ISBLK(mode)) return fs::file_type::block;
    if (S_ISCHR(mode)) return fs::file_type::character;
    if (S_ISFIFO(mode)) return fs::file_type::fifo;
    if (S_ISSOCK(mode)) return fs::file_type::socket;
    return fs::file_type::unknown;
}

[[noreturn]] void FailReading(const fs::path& path, int error) {
    throw fs::filesystem_error("cannot read", path, std::error_code(error, std::generic_category()));
}

}  // namespace

bool GlobMatches(const std::string& glob, const std::string& path) {
    std::vector<std::string> names = Split(glob);
    if (glob.find('/') == std::string::npos) names.insert(names.begin(), "**");
    return !names.empty() && NamesMatch(names, Split(path));
}

// The folder is read whole and closed before any folder below it is opened,
// so a walk holds one descriptor however deep the tree.
TFolderListing ReadFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) FailReading(folder, errno);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        FailReading(folder, error);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    struct stat own {};
    if (::fstat(fd, &own) != 0) FailReading(folder, errno);
    TFolderListing listing{.items = {}, .identity = {own.st_dev, own.st_ino}};
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) FailReading(folder, errno);
            return listing;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat item {};
        if (::fstatat(fd, entry->d_name, &item, AT_SYMLINK_NOFOLLOW) != 0) FailReading(folder / name, errno);
        listing.items.push_back({std::string(name), TypeOf(item.st_mode)});
    }
}

TFolderFiles ListFolder(const fs::path& root, const std::vector<std::string>& include,
                        const std::vector<std::string>& exclude, const FolderReader& read) {
    std::error_code error;
    if (!fs::is_directory(root, error)) throw EFolderError("\"" + root.string() + "\" is not a folder");
    TGlobs includes("include", include), excludes("exclude", exclude);
    const auto taken = [&](const std::string& path) {
        const bool included = includes.Match(path) || include.empty();  // both asked: each glob learns it matched
        return !excludes.Match(path) && included;
    };
    TFolderFiles found;
    std::vector<std::string> folders, every;  // every file, taken or not, and "NAME/" for an excluded folder
    std::set<std::pair<uint64_t, uint64_t>> seen;
    for (std::vector<std::string> pending{""}; !pending.empty();) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        // The root may be a link to the tree ("/" after it follows the link); a
        // folder below is opened only if it still is one.
        const fs::path at = root / folder;
        TFolderListing listing;
        try {
            listing = read(at);
        } catch (const fs::filesystem_error& failure) {
            throw EFolderError("\"" + failure.path1().string() + "\" cannot be read: " + failure.code().message());
        }
        if (!seen.insert(listing.identity).second)
            throw EFolderError("\"" + at.string() + "\" is a folder the walk has met before (a loop, or a folder "
                               "mounted twice); leave it out with exclude");
        for (const TFolderItem& item : listing.items) {
            const std::string relative = folder.empty() ? item.name : folder + "/" + item.name;
            if (item.type == fs::file_type::directory) {
                if (excludes.Match(relative)) {
                    every.push_back(relative + "/");
                } else {
                    folders.push_back(relative);
                    pending.push_back(relative);
                }
            } else if (item.type == fs::file_type::regular) {
                every.push_back(relative);
                if (taken(relative)) found.files.push_back(relative);
            } else if (taken(relative)) {
                throw EFolderError("\"" + (at / item.name).string() + "\" is " + SpecialKind(item.type) +
                                   "; leave it out with exclude, or name what it stands for in a [[file]]");
            }
        }
    }
    std::sort(found.files.begin(), found.files.end());
    std::sort(folders.begin(), folders.end());
    std::sort(every.begin(), every.end());
    for (const std::string& folder : folders) {
        const auto next = std::lower_bound(every.begin(), every.end(), folder + "/");
        const bool filled = next != every.end() && next->starts_with(folder + "/");
        const bool inEmpty = !found.emptyFolders.empty() && folder.starts_with(found.emptyFolders.back() + "/");
        if (!filled && !inEmpty && taken(folder)) found.emptyFolders.push_back(folder);
    }
    includes.AddUnused(found.unmatched);
    excludes.AddUnused(found.unmatched);
    return found;
}

}  // namespace vorn::pack
