// What the remover needs of the system beyond the installer's platform:
// writing and deleting its registry entry, judging and removing folders,
// reading shortcuts and handing the deletion of its own file to a process
// that outlives it. The remover
// uses the Win32 implementation in setup/win32/; the tests a scripted one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "setup/platform.h"

namespace vorn::setup {

struct TRegistryValue {
    std::string name;
    std::string text;               // REG_SZ, unless number holds a value
    std::optional<uint32_t> number;  // REG_DWORD
};

// A file opened to be judged and deleted through one handle, which lets no
// one write to it meanwhile: what was read is what goes.
class TRemovableFile {
public:
    virtual ~TRemovableFile() = default;
    // Its path as CanonicalPath gives it, taken from the open file.
    virtual const std::string& Canonical() const = 0;
    // Its bytes from where the last read ended; EStreamError on failure.
    virtual TStream& Content() = 0;
    // Deletes it, once this object closes it; false when it cannot go.
    virtual bool Remove() = 0;
};

class TRemoverServices {
public:
    virtual ~TRemoverServices() = default;

    // Deletes root\key with its values (it has no subkeys), creates it anew
    // and writes the values; false on any failure.
    virtual bool WriteKey(RegistryRoot root, const std::string& key, const std::vector<TRegistryValue>& values) = 0;
    // Deletes root\key; true when it is gone, also when it never was.
    virtual bool DeleteKey(RegistryRoot root, const std::string& key) = 0;
    // RemoveDirectoryA: true when the folder was empty and is gone.
    virtual bool RemoveFolder(const std::string& path) = 0;
    // The path Windows resolves `path` to, as the current folder and drive
    // see it: full, without a \\?\ or \\.\ prefix, with long names, through
    // junctions and links where it exists, lowercased; empty when it names
    // nothing a rule can judge.
    virtual std::string CanonicalPath(const std::string& path) = 0;
    // The existing file at path, opened to be read and deleted; null when it
    // cannot be opened so (missing, a folder, in use, denied) or its path
    // has no canonical form.
    virtual std::unique_ptr<TRemovableFile> OpenToRemove(const std::string& path) = 0;
    // The folders the system names for itself, the machine and the user (the
    // Windows folder and its system folders, both Program Files, ProgramData,
    // the user's profile and shell folders), as the system spells them.
    virtual std::vector<std::string> ProtectedFolders() = 0;
    // GetWindowsDirectoryA.
    virtual std::string WindowsFolder() = 0;
    // The file a shortcut points at; empty when it cannot be read as one.
    virtual std::string LinkTarget(const std::string& linkPath) = 0;
    // How many products count a file under the machine's SharedDLLs key;
    // 0 where none does.
    virtual uint32_t SharedCount(const std::string& path) = 0;
    // Sets that count (the value goes at 0); false when it cannot be written.
    virtual bool SetSharedCount(const std::string& path, uint32_t count) = 0;
    // A running program cannot delete its own file: starts a copy of this
    // program outside the folders being removed, which waits for this
    // process to end and then finishes the removal of `self`.
    virtual void RemoveAfterExit(const std::string& self) = 0;
};

}  // namespace vorn::setup
