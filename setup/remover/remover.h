// The remover: the program a package with an uninstall record installs
// last. Started by the installer (no arguments) it registers the product
// with Windows' list of installed programs; started from that list it
// removes what the package installed, keeping what the user changed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "setup/folders.h"
#include "setup/platform.h"
#include "setup/remover/path_guard.h"
#include "setup/remover/remover_services.h"
#include "setup/remover/uninstall_record.h"

namespace vorn::setup {

// The remover's exit codes, which /quiet callers read.
enum RemoverExit : int {
    kRemoverDone = 0,        // registered, or everything removed
    kRemoverKeptFiles = 1,   // removed; files changed since, or shared ones, were kept on purpose
    kRemoverIncomplete = 2,  // something could not be removed (or registered); the entry stays
    kRemoverCancelled = 3,   // the user answered No
    kRemoverNoRecord = 4,    // the record beside the remover is missing or damaged: nothing done
    kRemoverRefused = 5,     // /finish named no remover whose removal has finished: nothing done
};

// Under HKLM (or HKCU for a per-user install), the key of every entry.
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kUninstallSwitch[] = "/uninstall";
inline constexpr char kQuietSwitch[] = "/quiet";

// What became of one recorded file or shortcut. Locked and Unchecked leave
// the removal incomplete: removing again may finish it.
enum class Outcome { Removed, Missing, Changed, Shared, Kept, Foreign, Locked, Unchecked };

struct TRemoval {
    std::string path;
    Outcome outcome;
};

// The decision for one recorded file at its resolved path, judged where
// Windows resolves it: missing, kept (shared in the Windows folder, or kept
// by the record), changed since (size or SHA-256), or removed; locked when
// it cannot be read or deleted, unchecked when its path cannot be judged.
// `removed` gets the canonical path of what is gone.
TRemoval RemoveRecordedFile(TPlatform& platform, const TPathGuard& guard, const TRecordedFile& file,
                            const std::string& path, std::vector<std::string>& removed);

// "20261205" for a day number; and back, empty when the text is no date.
std::string InstallDateText(int32_t dayNumber);
std::optional<int32_t> InstallDateDay(const std::string& text);

// Removes the folders along canonical `paths` that are left empty, deepest
// first, up to but never trying a protected folder.
void RemoveEmptyFolders(TRemoverServices& services, const TPathGuard& guard, const std::vector<std::string>& paths);

class TRemover {
public:
    TRemover(TPlatform& platform, TRemoverServices& services) : platform_(platform), services_(services) {}

    // Writes the entry: quiet and idempotent; a box only when it fails.
    int Register();
    // Asks (unless quiet), removes, and ends with one box (unless quiet).
    int Remove(bool quiet);
    // In the copy started by RemoveAfterExit: deletes `remover` and the
    // folders left empty above it, but only when it is a remover whose
    // removal has finished: named as removers are, its record gone, and
    // byte for byte this copy. Anything else is refused untouched.
    int Finish(const std::string& remover);

private:
    bool LoadRecord(bool quiet);
    RegistryRoot Root() const { return record_.perUser ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine; }
    std::string EntryKey() const { return std::string(kUninstallKey) + "\\" + record_.id; }
    int32_t InstallDay();
    std::vector<TRemoval> RemoveLinks(const TPathGuard& guard, const std::vector<std::string>& installed);
    int Report(const std::vector<TRemoval>& removals, bool quiet);

    TPlatform& platform_;
    TRemoverServices& services_;
    std::string self_;
    std::string recordPath_;
    TUninstallRecord record_;
};

}  // namespace vorn::setup
