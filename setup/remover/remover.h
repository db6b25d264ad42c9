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
// The remover's switches: none registers; /uninstall [/quiet] removes;
// /finish PID PATH is its own copy, which deletes the remover at PATH once
// the process PID has ended.
inline constexpr char kUninstallSwitch[] = "/uninstall";
inline constexpr char kQuietSwitch[] = "/quiet";
inline constexpr char kFinishSwitch[] = "/finish";

// What became of one recorded file or shortcut. Locked and Unchecked leave
// the removal incomplete: removing again may finish it.
enum class Outcome { Removed, Missing, Changed, Shared, Used, Kept, Foreign, Locked, Unchecked };

struct TRemoval {
    std::string path;
    Outcome outcome;
};

// The decision for one recorded file at its resolved path, judged where
// Windows resolves it: missing, kept (in the Windows folder or shared, and
// not counted, or kept by the record), changed since (size or SHA-256), or
// removed; locked when it cannot be read or deleted, unchecked when its
// path cannot be judged. `gone` gets the canonical path of what is gone.
// A counted file's count is the caller's: it comes here once it is the last.
TRemoval RemoveRecordedFile(TPlatform& platform, const TPathGuard& guard, const TRecordedFile& file,
                            const std::string& path, std::vector<std::string>& gone);

// Size and SHA-256 of a file's content; empty when it cannot be read.
struct TFingerprint {
    int64_t size;
    std::string digest;
    bool operator==(const TFingerprint&) const = default;
};
std::optional<TFingerprint> Fingerprint(TPlatform& platform, const std::string& path);
inline bool Matches(const std::optional<TFingerprint>& found, const TRecordedFile& file) {
    return found && found->size == file.size && found->digest == file.digest;
}

// Removes each shortcut that still points at one of `installed` (canonical
// paths): one of the same name that the user or another product made stays.
std::vector<TRemoval> RemoveLinks(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                                  const std::vector<TRecordedLink>& links, const std::vector<std::string>& installed);

// A file of an installed record, its destination resolved: a counted one
// gives up this product's count first and stays while other programs still
// count it, else goes as RemoveRecordedFile decides. The file is no longer
// counted afterwards, so that removing again cannot give its count up twice.
TRemoval RemoveInstalledFile(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                             TRecordedFile& file, std::vector<std::string>& gone);

// Whether a removal outcome leaves the work unfinished.
bool LeavesWork(Outcome outcome);

// "20261205" for a day number; and back, empty when the text is no date.
std::string InstallDateText(int32_t dayNumber);
std::optional<int32_t> InstallDateDay(const std::string& text);

// Removes the folders along canonical `paths` that are left empty, deepest
// first, up to but never trying a protected folder.
void RemoveEmptyFolders(TRemoverServices& services, const TPathGuard& guard, const std::vector<std::string>& paths);

// The record with every destination and shortcut resolved as the remover
// at `removerPath` finds them: a destination in the record's product folder
// lies in the remover's own folder (the installer may have moved it), every
// other one has its macros and its date stamp of `day` resolved.
TUninstallRecord ResolveRecord(TPlatform& platform, const TUninstallRecord& record, const TSystemFolders& folders,
                               int32_t day, const std::string& removerPath);

// Settles a fresh install, every path of `installed` resolved, against the
// record of the version installed before (resolved too, or null): each
// file the install could not replace keeps the earlier line where the disk
// still holds that version; shared files are counted once; what the earlier
// version installed and this one does not is removed as a removal would,
// and what must stay is carried into `installed` or named. Returns what
// became of the earlier version's files and shortcuts; `complete` is false
// when the disk does not hold what `installed` says.
std::vector<TRemoval> SettleInstall(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                                    TUninstallRecord& installed, const TUninstallRecord* earlier, bool& complete);

class TRemover {
public:
    TRemover(TPlatform& platform, TRemoverServices& services) : platform_(platform), services_(services) {}

    // Writes the entry, after settling an install over an earlier version:
    // quiet and idempotent; a box only when the entry cannot be written.
    int Register();
    // Asks (unless quiet), removes, and ends with one box (unless quiet).
    int Remove(bool quiet);
    // In the copy started by RemoveAfterExit: deletes `remover` and the
    // folders left empty above it, but only when it is a remover whose
    // removal has finished: named as removers are, its record gone, and
    // byte for byte this copy. Anything else is refused untouched.
    int Finish(const std::string& remover);

private:
    bool LoadRecord(const std::string& path, bool quiet);
    RegistryRoot Root() const { return record_.perUser ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine; }
    std::string EntryKey() const { return std::string(kUninstallKey) + "\\" + record_.id; }
    std::string EntryValue(const std::string& name);
    bool MarkedIncomplete();
    std::optional<TUninstallRecord> EarlierRecord(const TSystemFolders& folders, std::string& path);
    bool WriteRecord();
    int WriteEntry(bool complete);
    int Report(const std::vector<TRemoval>& removals, bool quiet);

    TPlatform& platform_;
    TRemoverServices& services_;
    std::string self_;
    std::string recordPath_;
    TUninstallRecord record_;
};

}  // namespace vorn::setup
