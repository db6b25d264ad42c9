#include "setup/remover/path_guard.h"

#include <algorithm>

namespace vorn::setup {

namespace {

std::string WithoutSlash(std::string path) {
    if (path.ends_with('\\')) path.pop_back();
    return path;
}

bool IsDrivePath(const std::string& path) {
    const bool letter = path.size() >= 3 && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    return letter && path[1] == ':' && path[2] == '\\' && path.find(':', 2) == std::string::npos;
}

// "\\server\share\..." with a server and a share, and no stream.
bool IsSharePath(const std::string& path) {
    if (!path.starts_with("\\\\") || path.find(':') != std::string::npos) return false;
    const size_t share = path.find('\\', 2);
    return share != std::string::npos && share > 2 && share + 1 < path.size() && path[share + 1] != '\\';
}

// A drive's root ("c:\") or a share's ("\\server\share").
bool IsRoot(const std::string& path) {
    if (IsDrivePath(path)) return path.size() == 3;
    const size_t share = path.find('\\', 2);
    return path.find('\\', share + 1) == std::string::npos || path.find('\\', share + 1) + 1 == path.size();
}

}  // namespace

bool PathWithin(const std::string& path, const std::string& folder) {
    const std::string prefix = WithoutSlash(folder) + "\\";
    return !folder.empty() && path.size() > prefix.size() && path.starts_with(prefix);
}

TPathGuard::TPathGuard(TRemoverServices& services, const TSystemFolders& folders) : services_(services) {
    std::vector<std::string> named = services.ProtectedFolders();
    std::vector<std::string> shared = {services.WindowsFolder()};
    for (const TFolderMacro& macro : kFolderMacros) {
        named.push_back(folders[macro.folder]);
        if (macro.shared) shared.push_back(folders[macro.folder]);
    }
    for (const std::string& folder : named)
        if (std::string canonical = Canonical(folder); !canonical.empty()) protected_.push_back(WithoutSlash(canonical));
    for (const std::string& folder : shared)
        if (std::string canonical = Canonical(folder); !canonical.empty()) shared_.push_back(WithoutSlash(canonical));
}

std::string TPathGuard::Canonical(const std::string& path) const {
    if (path.empty()) return "";
    std::string canonical = services_.CanonicalPath(path);
    return IsDrivePath(canonical) || IsSharePath(canonical) ? canonical : "";
}

std::unique_ptr<TRemovableFile> TPathGuard::OpenToRemove(const std::string& path) const {
    if (path.empty()) return nullptr;
    std::unique_ptr<TRemovableFile> file = services_.OpenToRemove(path);
    return file && (IsDrivePath(file->Canonical()) || IsSharePath(file->Canonical())) ? std::move(file) : nullptr;
}

bool TPathGuard::IsProtected(const std::string& folder) const {
    const std::string bare = WithoutSlash(folder);
    if (IsRoot(folder)) return true;
    return std::any_of(protected_.begin(), protected_.end(),
                       [&](const std::string& kept) { return kept == bare || PathWithin(kept, bare); });
}

bool TPathGuard::InWindowsFolder(const std::string& path) const {
    return std::any_of(shared_.begin(), shared_.end(),
                       [&](const std::string& shared) { return PathWithin(path, shared); });
}

}  // namespace vorn::setup
