// The remover's registration: resolving the record the package brought,
// settling the install against the version installed before, and the
// entry in the list of installed programs.
#include <algorithm>
#include <map>
#include <set>

#include "compress/exceptions.h"
#include "setup/remover/remover.h"
#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

constexpr size_t kLongestRecord = 64 << 20;
constexpr const char* kLinkExtension = ".lnk";
constexpr char kIncompleteValue[] = "InstallIncomplete";

std::optional<std::string> FileText(TPlatform& platform, const std::string& path) {
    try {
        const std::unique_ptr<TStream> file = platform.OpenRead(path);
        if (file->Size() > static_cast<int64_t>(kLongestRecord)) return std::nullopt;
        std::string text(static_cast<size_t>(file->Size()), '\0');
        if (file->Read(text.data(), text.size()) != text.size()) return std::nullopt;
        return text;
    } catch (const EVornError&) {
        return std::nullopt;
    }
}

std::string WithoutSlash(std::string path) {
    if (path.ends_with('\\')) path.pop_back();
    return path;
}

// Where the remover at removerPath finds a destination: in its own folder
// when the destination lies in the record's product folder, else where the
// macros and the date stamp of `day` lead.
std::string ResolvedPath(const std::string& destination, const std::string& productFolder,
                         const TSystemFolders& folders, int32_t day, const std::string& removerPath) {
    const std::string written = Trim(Lowercase(destination));
    const std::string product = Trim(Lowercase(productFolder));
    if (!product.empty() && written.starts_with(product + "\\"))
        return Lowercase(FolderPart(removerPath)) + ExpandFolderMacros(written.substr(product.size() + 1), folders, day);
    return QualifyDrive(ExpandFolderMacros(destination, folders, day), removerPath);
}

// A file whose count of users a machine install keeps: one the record
// calls shared, or one in the Windows folder.
bool IsCountedHere(const TRecordedFile& file, const TUninstallRecord& record, const TPathGuard& guard,
                   const std::string& canonical) {
    return !record.perUser && !canonical.empty() &&
           (file.sharing == Sharing::Shared || guard.InWindowsFolder(canonical));
}

// What the disk says of one file of a fresh install: the new line when it
// holds the new version, the earlier line when the install could not
// replace the earlier version; counted once for this product.
bool SettleFile(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                const TUninstallRecord& installed, TRecordedFile& file, const TRecordedFile* earlier) {
    const std::string canonical = guard.Canonical(file.destination);
    const auto found = canonical.empty() ? std::nullopt : Fingerprint(platform, canonical);
    const bool current = Matches(found, file);
    if (!current && earlier && Matches(found, *earlier)) {
        const std::string destination = file.destination;
        file = *earlier;
        file.destination = destination;
    }
    if (earlier && earlier->sharing == Sharing::Counted) {
        file.sharing = Sharing::Counted;
    } else if (IsCountedHere(file, installed, guard, canonical) &&
               services.SetSharedCount(canonical, services.SharedCount(canonical) + 1)) {
        file.sharing = Sharing::Counted;
    }
    return current;
}

// Whether a file the earlier version left must stay in the record, for a
// later removal to name it or to finish its removal.
bool StaysRecorded(Outcome outcome) { return outcome == Outcome::Changed || LeavesWork(outcome); }

// Removes what the earlier version installed and `installed` does not: its
// shortcuts first, while the files they point at can still be followed,
// then its files as a removal would, keeping in `installed` what must stay.
std::vector<TRemoval> RemoveDropped(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                                    TUninstallRecord& installed, const TUninstallRecord& earlier,
                                    const std::map<std::string, const TRecordedFile*>& before,
                                    const std::set<std::string>& now) {
    std::set<std::string> links;
    for (const TRecordedLink& link : installed.links) links.insert(guard.Canonical(link.path));
    std::vector<TRecordedLink> dropped;
    std::copy_if(earlier.links.begin(), earlier.links.end(), std::back_inserter(dropped),
                 [&](const TRecordedLink& link) { return !links.count(guard.Canonical(link.path)); });
    std::vector<std::string> targets;
    for (const auto& [canonical, file] : before) targets.push_back(canonical);
    std::vector<TRemoval> removals = RemoveLinks(platform, services, guard, dropped, targets);
    std::vector<std::string> gone;
    for (const TRecordedFile& old : earlier.files) {
        const std::string canonical = guard.Canonical(old.destination);
        if (!canonical.empty() && now.count(canonical)) continue;
        TRecordedFile file = old;
        removals.push_back(RemoveInstalledFile(platform, services, guard, file, gone));
        if (StaysRecorded(removals.back().outcome)) installed.files.push_back(file);
    }
    RemoveEmptyFolders(services, guard, gone);
    return removals;
}

}  // namespace

TUninstallRecord ResolveRecord(TPlatform& platform, const TUninstallRecord& record, const TSystemFolders& folders,
                               int32_t day, const std::string& removerPath) {
    TUninstallRecord resolved = record;
    resolved.installedOn = InstallDateText(day);
    for (TRecordedFile& file : resolved.files)
        file.destination = ResolvedPath(file.destination, record.folder, folders, day, removerPath);
    for (TRecordedLink& link : resolved.links) {
        const std::string folder = link.path.empty() ? ShellFolder(platform, link.folder) : "";
        if (!folder.empty()) link.path = folder + "\\" + link.name + kLinkExtension;
    }
    return resolved;
}

std::vector<TRemoval> SettleInstall(TPlatform& platform, TRemoverServices& services, const TPathGuard& guard,
                                    TUninstallRecord& installed, const TUninstallRecord* earlier, bool& complete) {
    std::map<std::string, const TRecordedFile*> before;  // by canonical path
    if (earlier)
        for (const TRecordedFile& file : earlier->files)
            if (std::string canonical = guard.Canonical(file.destination); !canonical.empty())
                before.emplace(std::move(canonical), &file);
    complete = true;
    std::set<std::string> now;
    for (TRecordedFile& file : installed.files) {
        const std::string canonical = guard.Canonical(file.destination);
        const auto found = canonical.empty() ? before.end() : before.find(canonical);
        const TRecordedFile* prior = found == before.end() ? nullptr : found->second;
        complete = SettleFile(platform, services, guard, installed, file, prior) && complete;
        now.insert(canonical);
    }
    if (!earlier) return {};
    std::vector<TRemoval> removals = RemoveDropped(platform, services, guard, installed, *earlier, before, now);
    complete = complete && std::none_of(removals.begin(), removals.end(),
                                        [](const TRemoval& r) { return LeavesWork(r.outcome); });
    return removals;
}

bool TRemover::LoadRecord(const std::string& path, bool quiet) {
    const auto text = FileText(platform_, path);
    const auto record = text ? ParseRecord(*text) : std::nullopt;
    if (record) {
        record_ = *record;
        return true;
    }
    if (!quiet)
        platform_.ShowBox("The uninstall record " + path + " is missing or damaged, so nothing was changed.",
                          "Uninstall", kBoxErrorTaskModal);
    return false;
}

std::string TRemover::EntryValue(const std::string& name) {
    return platform_.RegistryString(Root(), kUninstallKey, record_.id, name);
}

// The record of the version installed before, where its entry says it lies
// (beside this remover when there is no entry), resolved; empty when there
// is none of this product.
std::optional<TUninstallRecord> TRemover::EarlierRecord(const TSystemFolders& folders, std::string& path) {
    const std::string location = EntryValue("InstallLocation");
    path = (location.empty() ? FolderPart(self_) : WithoutSlash(location) + "\\") + kRecordName;
    const auto text = FileText(platform_, path);
    const auto earlier = text ? ParseRecord(*text) : std::nullopt;
    if (!earlier || earlier->id != record_.id) return std::nullopt;
    if (!earlier->installedOn.empty()) return earlier;
    const auto day = InstallDateDay(EntryValue("InstallDate"));
    return ResolveRecord(platform_, *earlier, folders, day.value_or(platform_.TodayDayNumber()),
                         FolderPart(path) + kRemoverName);
}

bool TRemover::MarkedIncomplete() {
    try {
        return !EntryValue(kIncompleteValue).empty();
    } catch (const ERegistryDataType&) {
        return true;  // the number it is written as
    }
}

bool TRemover::WriteRecord() {
    try {
        const std::string text = RecordText(record_);
        platform_.CreateNew(recordPath_)->Write(text.data(), text.size());
        return true;
    } catch (const EVornError&) {
        return false;
    }
}

int TRemover::Register() {
    self_ = platform_.ModulePath();
    recordPath_ = FolderPart(self_) + kRecordName;
    const std::string packageRecord = FolderPart(self_) + kPackageRecordName;
    const bool fresh = platform_.Exists(packageRecord);
    if (!LoadRecord(fresh ? packageRecord : recordPath_, false)) return kRemoverNoRecord;
    if (!fresh && !record_.installedOn.empty()) return WriteEntry(!MarkedIncomplete());
    const TSystemFolders folders = LoadSystemFolders(platform_);
    const TPathGuard guard(services_, folders);
    std::string earlierPath;
    const auto earlier = fresh ? EarlierRecord(folders, earlierPath) : std::nullopt;
    record_ = ResolveRecord(platform_, record_, folders, platform_.TodayDayNumber(), self_);
    bool complete = true;
    SettleInstall(platform_, services_, guard, record_, earlier ? &*earlier : nullptr, complete);
    if (!WriteRecord()) {
        platform_.ShowBox(record_.name + " could not be added to the list of installed programs: its record " +
                              recordPath_ + " cannot be written.",
                          record_.name, kBoxErrorTaskModal);
        return kRemoverIncomplete;
    }
    platform_.RemoveFile(packageRecord);
    // A product folder that moved leaves the earlier record and remover behind.
    const std::string moved = guard.Canonical(earlierPath);
    if (earlier && !moved.empty() && moved != guard.Canonical(recordPath_)) {
        const std::string earlierRemover = FolderPart(moved) + kRemoverName;
        platform_.RemoveFile(moved);
        platform_.RemoveFile(earlierRemover);
        RemoveEmptyFolders(services_, guard, {moved});
    }
    return WriteEntry(complete);
}

int TRemover::WriteEntry(bool complete) {
    int64_t bytes = 0;
    for (const std::string& own : {self_, recordPath_})
        if (const auto found = Fingerprint(platform_, own)) bytes += found->size;
    for (const TRecordedFile& file : record_.files)
        if (platform_.Exists(file.destination)) bytes += file.size;
    const std::string quoted = "\"" + self_ + "\" " + kUninstallSwitch;
    std::vector<TRegistryValue> values = {
        {"DisplayName", record_.name, {}},
        {"DisplayIcon", self_, {}},
        {"InstallLocation", WithoutSlash(FolderPart(self_)), {}},
        {"UninstallString", quoted, {}},
        {"QuietUninstallString", quoted + " " + kQuietSwitch, {}},
        {"EstimatedSize", "", static_cast<uint32_t>(std::min<int64_t>((bytes + 1023) / 1024, UINT32_MAX))},
        {"NoModify", "", 1},
        {"NoRepair", "", 1},
        {"InstallDate", record_.installedOn, {}},
    };
    if (!record_.version.empty()) values.push_back({"DisplayVersion", record_.version, {}});
    if (!record_.publisher.empty()) values.push_back({"Publisher", record_.publisher, {}});
    if (!complete) values.push_back({kIncompleteValue, "", 1});
    if (services_.WriteKey(Root(), EntryKey(), values)) return complete ? kRemoverDone : kRemoverIncomplete;
    platform_.ShowBox(record_.name + " could not be added to the list of installed programs: the registry key " +
                          (record_.perUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") + EntryKey() +
                          " cannot be written.",
                      record_.name, kBoxErrorTaskModal);
    return kRemoverIncomplete;
}

}  // namespace vorn::setup
