#include "setup/remover/remover.h"

#include <algorithm>
#include <set>
#include <vector>

#include "compress/exceptions.h"
#include "setup/folders.h"
#include "setup/remover/sha256.h"

namespace vorn::setup {

namespace {

constexpr size_t kReadBlock = 64 << 10;
constexpr size_t kListedAtMost = 20;  // paths a box names; the rest are counted
constexpr const char* kEntryWords = "the entry in the list of installed programs";

std::string WithoutSlash(std::string path) {
    if (path.ends_with('\\')) path.pop_back();
    return path;
}

std::string Why(Outcome outcome) {
    switch (outcome) {
        case Outcome::Changed: return "changed since it was installed";
        case Outcome::Shared: return "shared: other programs may use it";
        case Outcome::Used: return "other programs still use it";
        case Outcome::Kept: return "kept by the installer's wish";
        case Outcome::Foreign: return "it no longer points at what was installed";
        case Outcome::Locked: return "in use, or it cannot be deleted";
        case Outcome::Unchecked: return "its path cannot be checked";
        default: return "";
    }
}

std::string Listed(const std::vector<const TRemoval*>& removals) {
    std::string text;
    for (size_t i = 0; i < removals.size() && i < kListedAtMost; ++i)
        text += "\r" + removals[i]->path + " (" + Why(removals[i]->outcome) + ")";
    if (removals.size() > kListedAtMost) text += "\rand " + std::to_string(removals.size() - kListedAtMost) + " more";
    return text;
}

// Size and digest of what is left to read; none when reading fails.
std::optional<TFingerprint> Fingerprint(TStream& content) {
    try {
        TSha256 sha;
        std::vector<uint8_t> block(kReadBlock);
        int64_t size = 0;
        while (const size_t n = content.Read(block.data(), block.size())) {
            sha.Add(block.data(), n);
            size += static_cast<int64_t>(n);
        }
        return TFingerprint{size, DigestText(sha.Finish())};
    } catch (const EVornError&) {
        return std::nullopt;
    }
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameContent(TPlatform& platform, const std::string& a, const std::string& b) {
    const auto first = Fingerprint(platform, a);
    return first && first == Fingerprint(platform, b);
}

}  // namespace

std::optional<TFingerprint> Fingerprint(TPlatform& platform, const std::string& path) {
    try {
        return Fingerprint(*platform.OpenRead(path));
    } catch (const EVornError&) {
        return std::nullopt;
    }
}

bool LeavesWork(Outcome outcome) { return outcome == Outcome::Locked || outcome == Outcome::Unchecked; }

TRemoval RemoveRecordedFile(TPlatform& platform, const TPathGuard& guard, const TRecordedFile& file,
                            const std::string& path, std::vector<std::string>& gone) {
    // Judged and deleted through one handle where it opens so: nothing can
    // change it in between, and one open does the work of three. Else by
    // its path, as a file that others hold open must be.
    const std::unique_ptr<TRemovableFile> opened = file.removal == Removal::Never ? nullptr : guard.OpenToRemove(path);
    const std::string target = opened ? opened->Canonical() : guard.Canonical(path);
    if (target.empty()) return {path, Outcome::Unchecked};
    if (!opened && !platform.Exists(target)) {
        gone.push_back(target);
        return {path, Outcome::Missing};
    }
    if (file.removal == Removal::Never) return {path, Outcome::Kept};
    if (file.removal == Removal::Auto && (file.sharing == Sharing::Shared || guard.InWindowsFolder(target)))
        return {path, Outcome::Shared};
    const auto found = opened ? Fingerprint(opened->Content()) : Fingerprint(platform, target);
    if (!found) return {path, Outcome::Locked};
    if (!Matches(found, file)) return {path, Outcome::Changed};
    if (!(opened ? opened->Remove() : platform.RemoveFile(target))) return {path, Outcome::Locked};
    gone.push_back(target);
    return {path, Outcome::Removed};
}

std::string InstallDateText(int32_t dayNumber) {
    int year = 0, month = 0, day = 0;
    CivilDate(dayNumber, year, month, day);
    const std::string digits = std::to_string(year * 10000 + month * 100 + day);
    return std::string(8 - std::min<size_t>(8, digits.size()), '0') + digits;
}

std::optional<int32_t> InstallDateDay(const std::string& text) {
    if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    int value = 0;
    for (char digit : text) value = value * 10 + (digit - '0');
    const int month = value / 100 % 100, day = value % 100;
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    return DayNumber(value / 10000, month, day);
}

void RemoveEmptyFolders(TRemoverServices& services, const TPathGuard& guard, const std::vector<std::string>& paths) {
    std::vector<std::string> candidates;
    // A folder that resolves elsewhere (a junction, a link) is no folder of
    // the product's: the climb stops there. A folder climbed from before has
    // had its whole climb judged, and judging costs system calls per folder.
    std::set<std::string> climbed;
    for (const std::string& path : paths)
        for (std::string folder = WithoutSlash(FolderPart(path));
             !folder.empty() && climbed.insert(folder).second && !guard.IsProtected(folder) &&
             guard.Canonical(folder) == folder;
             folder = WithoutSlash(FolderPart(folder)))
            candidates.push_back(folder);
    // Deepest first.
    std::sort(candidates.begin(), candidates.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    for (const std::string& folder : candidates) services.RemoveFolder(folder);
}

std::vector<TRemoval> RemoveLinks(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                                  const std::vector<TRecordedLink>& links, const std::vector<std::string>& installed) {
    std::vector<TRemoval> removals;
    for (const TRecordedLink& link : links) {
        const std::string canonical = guard.Canonical(link.path);
        if (canonical.empty() || !platform.Exists(canonical)) continue;
        const std::string target = guard.Canonical(services.LinkTarget(canonical));
        if (target.empty() || std::find(installed.begin(), installed.end(), target) == installed.end())
            removals.push_back({link.path, Outcome::Foreign});
        else
            removals.push_back({link.path, platform.RemoveFile(canonical) ? Outcome::Removed : Outcome::Locked});
    }
    return removals;
}

TRemoval RemoveInstalledFile(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                             TRecordedFile& file, std::vector<std::string>& gone) {
    if (file.sharing == Sharing::Counted) {
        const std::string key = guard.Canonical(file.destination);
        const uint32_t count = key.empty() ? 0 : services.SharedCount(key);
        if (!key.empty() && !services.SetSharedCount(key, count > 0 ? count - 1 : 0))
            return {file.destination, Outcome::Locked};
        file.sharing = Sharing::Own;
        if (count > 1 && file.removal != Removal::Always) return {file.destination, Outcome::Used};
        file.removal = file.removal == Removal::Auto ? Removal::Always : file.removal;  // the last user: no longer shared
    }
    return RemoveRecordedFile(platform, guard, file, file.destination, gone);
}

int TRemover::Remove(bool quiet) {
    self_ = platform_.ModulePath();
    recordPath_ = FolderPart(self_) + kRecordName;
    if (!LoadRecord(recordPath_, quiet)) return kRemoverNoRecord;
    if (!quiet && platform_.ShowBox("Remove " + record_.name +
                                        " and the files it installed?\r\rFiles changed since they were installed "
                                        "are kept.",
                                    record_.name, kBoxYesNoQuestion) != kAnswerYes)
        return kRemoverCancelled;
    const TSystemFolders folders = LoadSystemFolders(platform_);
    const TPathGuard guard(services_, folders);
    // A record the remover never registered still holds macros: resolved
    // as on the day the entry names.
    if (record_.installedOn.empty()) {
        const auto day = InstallDateDay(EntryValue("InstallDate"));
        record_ = ResolveRecord(platform_, record_, folders, day.value_or(platform_.TodayDayNumber()), self_);
    }
    // Resolving a path costs several system calls; only shortcuts need the
    // files' paths resolved before anything goes.
    std::vector<std::string> installed;
    if (!record_.links.empty())
        for (const TRecordedFile& file : record_.files) installed.push_back(guard.Canonical(file.destination));
    // Shortcuts first, while the files they point at can still be followed.
    std::vector<TRemoval> removals = RemoveLinks(platform_, services_, guard, record_.links, installed);
    std::vector<std::string> gone;
    std::vector<TRecordedFile> left;  // what removing again still has to judge
    for (TRecordedFile& file : record_.files) {
        removals.push_back(RemoveInstalledFile(platform_, services_, guard, file, gone));
        if (removals.back().outcome != Outcome::Used) left.push_back(file);
    }
    record_.files = std::move(left);
    RemoveEmptyFolders(services_, guard, gone);
    const bool complete =
        std::none_of(removals.begin(), removals.end(), [](const TRemoval& r) { return LeavesWork(r.outcome); });
    // While anything that should go remains, the entry, the record and the
    // remover stay, so that removing again can finish the work.
    if (!complete && !WriteRecord()) {
        removals.push_back({recordPath_, Outcome::Locked});
    } else if (complete && !services_.DeleteKey(Root(), EntryKey())) {
        removals.push_back({kEntryWords, Outcome::Locked});
    } else if (complete) {
        if (!platform_.RemoveFile(recordPath_)) removals.push_back({recordPath_, Outcome::Locked});
        services_.RemoveAfterExit(self_);
    }
    return Report(removals, quiet);
}

int TRemover::Report(const std::vector<TRemoval>& removals, bool quiet) {
    std::vector<const TRemoval*> locked, kept;
    for (const TRemoval& removal : removals) {
        if (LeavesWork(removal.outcome)) locked.push_back(&removal);
        else if (removal.outcome != Outcome::Removed && removal.outcome != Outcome::Missing) kept.push_back(&removal);
    }
    std::string text = record_.name + " was removed.";
    if (!locked.empty())
        text = record_.name + " could not be removed completely. These files remain:" + Listed(locked) +
               "\r\rClose the programs that use them, then remove " + record_.name + " again.";
    if (!kept.empty()) text += "\r\rThese files were kept:" + Listed(kept);
    if (!quiet) platform_.ShowBox(text, record_.name, kBoxOk);
    return !locked.empty() ? kRemoverIncomplete : !kept.empty() ? kRemoverKeptFiles : kRemoverDone;
}

int TRemover::Finish(const std::string& remover) {
    const TPathGuard guard(services_, LoadSystemFolders(platform_));
    const std::string target = guard.Canonical(remover);
    const std::string own = guard.Canonical(platform_.ModulePath());
    const bool finished = !target.empty() && target != own &&
                          target.ends_with(std::string("\\") + kRemoverName) &&
                          !platform_.Exists(FolderPart(target) + kRecordName) &&
                          !platform_.Exists(FolderPart(target) + kPackageRecordName);
    if (!finished || !platform_.Exists(target) || !SameContent(platform_, target, own)) return kRemoverRefused;
    if (!platform_.RemoveFile(target)) return kRemoverIncomplete;
    RemoveEmptyFolders(services_, guard, {target});
    return kRemoverDone;
}

}  // namespace vorn::setup
