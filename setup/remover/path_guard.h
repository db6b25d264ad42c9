// What the remover may touch. Every path it judges is first made what
// Windows resolves it to (full, long names, no \\?\ prefix, links followed,
// one case), so that no spelling of a path can lead a rule astray; then
// one list of folders says what is never removed, nor even tried.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "setup/folders.h"
#include "setup/remover/remover_services.h"

namespace vorn::setup {

class TPathGuard {
public:
    // Protects the system's own folders (as the services name them), the
    // folder macros' folders, every folder that holds one of them, and
    // every drive's root.
    TPathGuard(TRemoverServices& services, const TSystemFolders& folders);

    // The canonical form of path; empty when it cannot be judged (a device,
    // a stream, a path the system cannot resolve).
    std::string Canonical(const std::string& path) const;
    // The file at path opened to be judged and deleted, its path canonical
    // as above; null when it cannot be opened so or judged.
    std::unique_ptr<TRemovableFile> OpenToRemove(const std::string& path) const;
    // Whether a canonical folder must never be removed or tried.
    bool IsProtected(const std::string& folder) const;
    // Whether a canonical path lies in the Windows folder (System, System32
    // and SysWOW64 included) or another macro folder the table marks
    // shared, where other programs may share a file.
    bool InWindowsFolder(const std::string& path) const;

private:
    TRemoverServices& services_;
    std::vector<std::string> protected_;
    std::vector<std::string> shared_;
};

// Whether path lies below folder; both canonical.
bool PathWithin(const std::string& path, const std::string& folder);

}  // namespace vorn::setup
