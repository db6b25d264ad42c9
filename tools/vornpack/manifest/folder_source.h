// The files of a [[folder]] source: a tree walked on the build machine,
// filtered by globs and put in an order of their own, so that the same tree
// gives the same installer on every file system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vorn::pack {

// A tree that cannot be taken as it is; the message names the path.
class EFolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when a glob matches a path relative to the folder ("bin/app.dll").
// "*" and "?" stay inside one name, "[...]" takes one of a set, "**" stands
// for any number of folders, and a glob without "/" is matched against the
// name in every folder. A glob matches a file also when it matches one of
// the folders above it. Time grows with the product of the glob's and the
// path's lengths at most, whatever the glob.
bool GlobMatches(const std::string& glob, const std::string& path);

// One name in a folder and what it is, links not followed.
struct TFolderItem {
    std::string name;
    std::filesystem::file_type type;
};

struct TFolderListing {
    std::vector<TFolderItem> items;
    std::pair<uint64_t, uint64_t> identity;  // device and inode: a folder met twice is a loop
};

// Lists one folder, or raises std::filesystem::filesystem_error naming the
// path that failed and why. ListFolder takes another for tests.
using FolderReader = std::function<TFolderListing(const std::filesystem::path& folder)>;
TFolderListing ReadFolder(const std::filesystem::path& folder);

struct TFolderFiles {
    std::vector<std::string> files;  // relative, "/"-separated, in byte order
    std::vector<std::string> emptyFolders;  // relative, left out: the installer makes only folders it fills
    // The globs that match nothing in the tree: "include" or "exclude", and the glob.
    std::vector<std::pair<std::string, std::string>> unmatched;
};

// The regular files under root that the include globs take (all, when there
// are none) and no exclude glob matches. An excluded folder is never read.
// Raises EFolderError at a symbolic link or a special file (a device, a
// pipe, a socket) that the globs would take: following a link may leave the
// tree or take a file twice, and reading a pipe may never end; and at any
// folder or file the walk cannot read, or a folder it meets twice.
TFolderFiles ListFolder(const std::filesystem::path& root, const std::vector<std::string>& include,
                        const std::vector<std::string>& exclude, const FolderReader& read = ReadFolder);

}  // namespace vorn::pack
