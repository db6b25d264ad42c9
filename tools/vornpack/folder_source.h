// The files of a [[folder]] source: a tree walked on the build machine,
// filtered by globs and put in an order of their own, so that the same tree
// gives the same installer on every file system.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn::pack {

// A tree that cannot be taken as it is; the message names the path.
class EFolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when a glob matches a path relative to the folder ("bin/app.dll").
// "*" and "?" stay inside one name, "**" stands for any number of folders,
// and a glob without "/" is matched against the name in every folder. A
// glob matches a file also when it matches one of the folders above it.
bool GlobMatches(const std::string& glob, const std::string& path);

struct TFolderFiles {
    std::vector<std::string> files;  // relative, "/"-separated, in byte order
    std::vector<std::string> emptyFolders;  // relative, left out: the installer makes only folders it fills
};

// The regular files under root that the include globs take (all, when there
// are none) and no exclude glob matches. Raises EFolderError at a symbolic
// link or a special file (a device, a pipe, a socket) that the globs would
// take: following a link may leave the tree or take a file twice, and
// reading a pipe may never end.
TFolderFiles ListFolder(const std::filesystem::path& root, const std::vector<std::string>& include,
                        const std::vector<std::string>& exclude);

}  // namespace vorn::pack
