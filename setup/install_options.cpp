#include "setup/install_options.h"

#include "setup/folders.h"
#include "setup/installer.h"
#include "setup/package_format.h"
#include "setup/shortcuts.h"

namespace vorn::setup {

namespace {

constexpr const char* kSwitchCaption = "Installer switches";
constexpr const char* kSwitchHelp = "\r\rThis installer accepts /S (quiet), /LOG=file and, last, /D=folder.";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The views below are cut with remove_prefix and (data, size) rather than
// substr: every cut is within bounds already, and substr's check and the
// exception it throws cost the options stub their code and message.

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether text starts with name (a switch's, a folder's), in either case.
bool HasSwitch(std::string_view text, std::string_view name) {
    if (text.size() < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (Folded(text[i]) != Folded(name[i])) return false;
    return true;
}

std::string_view Unquoted(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text.remove_prefix(1);
        text.remove_suffix(1);
    }
    return text;
}

// The next argument, blanks inside double quotes included; rest moves past it.
std::string_view NextArgument(std::string_view& rest) {
    bool quoted = false;
    size_t end = 0;
    for (; end < rest.size() && (quoted || !IsBlank(rest[end])); ++end)
        if (rest[end] == '"') quoted = !quoted;
    const std::string_view argument(rest.data(), end);
    rest.remove_prefix(end);
    return quoted ? std::string_view() : argument;  // empty: a quote left open
}

// A drive's path (C:\...) or a share's (\\server\share...), whichever
// folder the installer is started from.
bool IsFullPath(std::string_view folder) {
    if (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\') return Folded(folder[0]) >= 'a' && Folded(folder[0]) <= 'z';
    if (!folder.starts_with("\\\\")) return false;
    const size_t share = folder.find('\\', 2);
    return share != std::string_view::npos && share > 2 && share + 1 < folder.size() && folder[share + 1] != '\\';
}

// A folder Windows can create files in wherever the installer runs: a full
// path, no macro, no character a name cannot hold.
const char* FolderProblem(std::string_view folder) {
    if (folder.find_first_of("<>") != std::string_view::npos) return "/D= cannot hold a folder macro: ";
    if (folder.find_first_of("\"|?*/") != std::string_view::npos)
        return "/D= holds a character no folder name may hold: ";
    if (!IsFullPath(folder)) return "/D= needs a full path, such as C:\\Programs\\Product: ";
    return nullptr;
}

// /D= and the rest of the line, quoted as a whole or not.
const char* TakeFolder(std::string_view rest, TInstallOptions& options) {
    while (IsBlank(rest.back())) rest.remove_suffix(1);
    std::string_view folder = Unquoted(rest);
    folder.remove_prefix(kFolderSwitch.size());
    folder = Unquoted(folder);
    if (const char* problem = FolderProblem(folder)) return problem;
    if (options.productFolder.empty()) return "This installer has no product folder to move: ";
    while (folder.size() > 2 && folder.back() == '\\') folder.remove_suffix(1);
    options.installFolder = folder;
    return nullptr;
}

const char* TakeSwitch(std::string_view argument, TInstallOptions& options) {
    argument = Unquoted(argument);
    if (argument.size() == kSilentSwitch.size() && HasSwitch(argument, kSilentSwitch)) {
        options.quiet = true;
    } else if (HasSwitch(argument, kLogSwitch)) {
        argument.remove_prefix(kLogSwitch.size());
        options.logPath = Unquoted(argument);
        if (options.logPath.empty() || options.logPath.find('"') != std::string_view::npos)
            return "/LOG= needs a file name, in double quotes when it holds blanks: ";
    } else {
        return "Unknown switch: ";
    }
    return nullptr;
}

}  // namespace

std::string TSwitchProblem::Text() const { return reason ? reason + std::string(argument) : std::string(); }

// Reads every switch it can, so that a quiet run stays quiet whatever its
// other switches; keeps the first problem.
TSwitchProblem ParseSwitches(std::string_view rest, TInstallOptions& options) {
    TSwitchProblem first;
    while (!rest.empty()) {
        if (IsBlank(rest.front())) {
            rest.remove_prefix(1);
            continue;
        }
        options.switched = true;
        const std::string_view start = rest;
        const char* problem = nullptr;
        const std::string_view afterQuote(rest.data() + 1, rest.size() - 1);
        if (HasSwitch(rest, kFolderSwitch) || (rest.starts_with('"') && HasSwitch(afterQuote, kFolderSwitch))) {
            problem = TakeFolder(rest, options);
            rest = {};
        } else {
            const std::string_view argument = NextArgument(rest);
            problem = argument.empty() ? "A double quote is not closed: " : TakeSwitch(argument, options);
        }
        if (problem && !first.reason) first = {problem, std::string_view(start.data(), start.size() - rest.size())};
    }
    return first;
}

std::string ShortcutFolderName(size_t folder, bool allUsers) {
    const std::string name = kShortcutFolders[folder];
    return allUsers ? std::string(kCommonFolderPrefix) + name : name;
}

std::string SettingsBytes(const TInstallOptions& settings) {
    const auto flags = static_cast<char>((settings.switches ? kSwitchesFlag : 0) |
                                         (settings.keepCase ? kKeepCaseFlag : 0) |
                                         (settings.allUsersShortcuts ? kAllUsersFlag : 0));
    return flags + std::string(settings.productFolder);
}

TInstallOptions ReadSettings(std::string_view bytes) {
    TInstallOptions options;
    if (bytes.empty()) return options;
    const auto flags = static_cast<uint8_t>(bytes[0]);
    options.switches = flags & kSwitchesFlag;
    options.keepCase = flags & kKeepCaseFlag;
    options.allUsersShortcuts = flags & kAllUsersFlag;
    bytes.remove_prefix(1);
    options.productFolder = bytes;
    return options;
}

std::string MovedInto(const std::string& destination, const std::string& productFolder,
                      std::string_view installFolder) {
    const size_t length = productFolder.size();
    if (destination.size() <= length || destination[length] != '\\' || !HasSwitch(destination, productFolder))
        return destination;
    std::string moved(installFolder);
    return moved.append(destination, length);
}

int TInstaller::ExitCode() const {
    if (!options_.switched) return kInstallDone;
    switch (end_) {
        case RunEnd::Clean: return kInstallDone;
        case RunEnd::WithErrors: return kInstallWithErrors;
        case RunEnd::Cancelled: return kInstallNotStarted;
        case RunEnd::Open: break;
    }
    return kInstallFailed;
}

// A quiet run shows nothing: the failure goes into its log, when it has one.
int TInstaller::FailureExit() {
    if (!options_.quiet) return ReportCurrentFailure(platform_);
    try {
        if (log_) log_->Line(CurrentFailureText());
    } catch (...) {
    }
    return kInstallFailed;
}

// One expansion, keeping the case, and lowercased where the plain stub's
// would have lowercased.
std::string TInstaller::Resolved(const std::string& field) {
    const int32_t today = platform_.TodayDayNumber();
    std::string destination = ExpandFolderMacrosKeepingCase(field, folders_, today);
    if (!options_.installFolder.empty())
        destination = MovedInto(destination, ExpandFolderMacrosKeepingCase(std::string(options_.productFolder), folders_, today),
                                options_.installFolder);
    return options_.keepCase ? destination : Lowercase(destination);
}

// Quietly, an asked shortcut is not made (the user's shell folders stay as
// they are), and a shell folder the registry does not name is an error in
// the log instead of a box.
void TInstaller::OfferShortcutWithOptions(const std::string& field, size_t folder) {
    if (field.empty() || (options_.quiet && field.starts_with(kAskFirst))) return;
    const std::string folderName = ShortcutFolderName(folder, options_.allUsersShortcuts);
    const bool named = !options_.quiet || !ShellFolder(platform_, folderName).empty();
    if (!named) log_->Line(ShortcutNotSavedLine(folderName));
    if (!named || !OfferShortcut(platform_, *log_, title_, destination_, field, folderName)) hadErrors_ = true;
}

int RunWithOptions(TPlatform& platform, std::string_view arguments, std::string_view settings) {
    TInstallOptions options = ReadSettings(settings);
    if (options.switches) {
        const TSwitchProblem problem = ParseSwitches(arguments, options);
        if (problem.reason) {
            if (!options.quiet) platform.ShowBox(problem.Text() + kSwitchHelp, kSwitchCaption, kBoxErrorTaskModal);
            return kInstallNotStarted;
        }
    }
    return TInstaller(platform, options).Run();
}

}  // namespace vorn::setup
