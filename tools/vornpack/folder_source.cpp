#include "tools/vornpack/folder_source.h"

#include <fnmatch.h>

#include <algorithm>

namespace vorn::pack {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        if (slash > start) parts.push_back(path.substr(start, slash - start));
    if (start < path.size()) parts.push_back(path.substr(start));
    return parts;
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
            } else if (j < path.size() && ::fnmatch(glob[i].c_str(), path[j].c_str(), 0) == 0) {
                reach[i + 1][j + 1] = 1;
            }
        }
    return std::any_of(reach[glob.size()].begin() + 1, reach[glob.size()].end(), [](char r) { return r != 0; });
}

bool MatchesAny(const std::vector<std::string>& globs, const std::string& path) {
    return std::any_of(globs.begin(), globs.end(), [&](const std::string& glob) { return GlobMatches(glob, path); });
}

const char* SpecialKind(const fs::file_status& status) {
    switch (status.type()) {
        case fs::file_type::symlink: return "a symbolic link";
        case fs::file_type::block:
        case fs::file_type::character: return "a device";
        case fs::file_type::fifo: return "a pipe";
        case fs::file_type::socket: return "a socket";
        default: return "not a regular file";
    }
}

}  // namespace

bool GlobMatches(const std::string& glob, const std::string& path) {
    std::vector<std::string> names = Split(glob);
    if (glob.find('/') == std::string::npos) names.insert(names.begin(), "**");
    return !names.empty() && NamesMatch(names, Split(path));
}

TFolderFiles ListFolder(const fs::path& root, const std::vector<std::string>& include,
                        const std::vector<std::string>& exclude) {
    std::error_code error;
    if (!fs::is_directory(root, error)) throw EFolderError("\"" + root.string() + "\" is not a folder");
    const auto taken = [&](const std::string& path) {
        return (include.empty() || MatchesAny(include, path)) && !MatchesAny(exclude, path);
    };
    TFolderFiles found;
    std::vector<std::string> folders, every;  // every file, taken or not
    fs::recursive_directory_iterator walk(root, error), end;
    if (error) throw EFolderError("\"" + root.string() + "\" cannot be read: " + error.message());
    for (; walk != end; walk.increment(error)) {
        if (error) throw EFolderError("\"" + root.string() + "\" cannot be read: " + error.message());
        const std::string relative = walk->path().lexically_relative(root).generic_string();
        const fs::file_status status = walk->symlink_status(error);
        if (status.type() == fs::file_type::directory) {
            folders.push_back(relative);
        } else if (status.type() == fs::file_type::regular) {
            every.push_back(relative);
            if (taken(relative)) found.files.push_back(relative);
        } else if (taken(relative)) {
            throw EFolderError("\"" + walk->path().string() + "\" is " + SpecialKind(status) +
                               "; leave it out with exclude, or name what it stands for in a [[file]]");
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
    return found;
}

}  // namespace vorn::pack
