#include "tools/vornpack/manifest/destination_rules.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>

#include "setup/folders.h"
#include "tools/vornpack/manifest/codepage.h"

namespace vorn::pack {

namespace {

// Windows takes 259 characters and the closing NUL.
constexpr size_t kMaxPath = 259;
// The longest name of a file or folder, and of a path that CreateDirectoryA
// takes (it keeps room for an 8.3 name below).
constexpr size_t kMaxName = 255;
constexpr size_t kMaxFolder = 248;
// The longest values the macros usually take; the stamp has nine digits
// from 2017 until the year 3781.
const setup::TSystemFolders kLongestFolders = setup::TSystemFolders::Column(&setup::TFolderMacro::longest);
constexpr int32_t kNineDigitStampDay = 46361;
constexpr const char* kAnyDriveInstaller = "C:\\setup.exe";
// The deepest shell folder a shortcut goes to, for a user name of the 20
// characters Windows allows.
constexpr std::string_view kLongestShellFolder =
    "C:\\Users\\ABCDEFGHIJKLMNOPQRST\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
constexpr std::string_view kLinkExtension = ".lnk";
constexpr std::string_view kForbidden = "<>:\"|?*";
constexpr std::string_view kForbiddenInOneName = "<>:\"|?*\\/";
// In UTF-8: the superscript digits stand for their digits in device names.
const std::set<std::string> kDeviceNames = {
    "con",  "prn",  "aux",  "nul",  "conin$", "conout$", "com0", "com1", "com2", "com3", "com4",
    "com5", "com6", "com7", "com8", "com9",   "lpt0",    "lpt1", "lpt2", "lpt3", "lpt4", "lpt5",
    "lpt6", "lpt7", "lpt8", "lpt9", "com¹",   "com²",    "com³", "lpt¹", "lpt²", "lpt³"};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> Parts(const std::string& path) {
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (c == '\\') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// The name a part stands for before its extension, as Windows compares
// device names ("con .txt" is the console too).
std::string Stem(const std::string& part) {
    std::string stem = setup::Lowercase(part.substr(0, part.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    return stem;
}

using Breach = std::function<void(const std::string& rule, const std::string& reason)>;

void CheckControlCharacters(const std::string& text, const Breach& breach) {
    for (unsigned char c : text)
        if (c < 0x20) {
            breach("control-character",
                   "holds the control character " + std::to_string(c) + ", which no Windows name can hold");
            return;
        }
}

// Calls breach(rule, reason) for every rule a folder or file name breaks.
void CheckName(const std::string& part, std::string_view forbiddenCharacters, const TRuleContext& context,
               const Breach& breach) {
    const std::string shown = Quoted(FromCodePage(part.size() > kMaxName ? part.substr(0, 20) + "..." : part,
                                                  context.codepage));
    const size_t forbidden = part.find_first_of(forbiddenCharacters);
    if (forbidden != std::string::npos)
        breach("forbidden-character",
               shown + " holds " + Quoted(part.substr(forbidden, 1)) + ", which Windows forbids in names");
    const std::string stem = FromCodePage(Stem(part), context.codepage);
    if (kDeviceNames.count(stem))
        breach("device-name", shown + " is the device " + stem + " on Windows, never a file or folder");
    if (part == "." || part == "..")
        breach("dot-or-empty-name", shown + " is no name: Windows takes it for this folder or the one above");
    else if (part.back() == ' ' || part.back() == '.')
        breach("trailing-space-or-dot", shown + " ends in a space or a dot, which Windows drops from names");
    if (part.size() > kMaxName)
        breach("name-length",
               shown + " is " + std::to_string(part.size()) + " characters long; Windows takes at most 255 in a name");
}

// The installer's path with every macro at its longest, before and after
// it supplies the drive.
std::string Expanded(const std::string& path) {
    return setup::ExpandFolderMacros(path, kLongestFolders, kNineDigitStampDay);
}
std::string Resolved(const std::string& path) { return setup::QualifyDrive(Expanded(path), kAnyDriveInstaller); }

bool HasDrive(const std::string& resolved) { return resolved.size() >= 2 && resolved[1] == ':'; }

// "%NAME%": a name between two percent signs inside one folder or file name.
bool HasVariable(const std::string& path) {
    for (size_t open = path.find('%'); open != std::string::npos; open = path.find('%', open + 1)) {
        const size_t close = path.find_first_of("%\\", open + 1);
        if (close != std::string::npos && path[close] == '%' && close > open + 1) return true;
    }
    return false;
}

// The folder macro for a variable another tool would expand at the start
// of a destination ("$instdir", "%programfiles%"); empty when none fits.
std::string MacroFor(const std::string& variable) {
    static const std::map<std::string, std::string> macros = {
        {"$instdir", "<p>\\Product"}, {"$programfiles", "<p>"}, {"$programfiles32", "<p>"},
        {"$programfiles64", "<p>"},   {"$windir", "<w>"},       {"$sysdir", "<s>"},
        {"%programfiles%", "<p>"},    {"%windir%", "<w>"},      {"%systemroot%", "<w>"},
        {"$localappdata", "<l>"},     {"%localappdata%", "<l>"}};
    const auto found = macros.find(variable);
    return found == macros.end() ? "" : found->second;
}

// "the folder macros are <w> (the Windows folder), ...".
std::string MacroList() {
    std::string list;
    for (const setup::TFolderMacro& macro : setup::kFolderMacros)
        list += std::string(list.empty() ? "" : ", ") + macro.text + " (" + macro.words + ")";
    return "the folder macros are " + list;
}

// "$NAME" or "%NAME%" at the start: another installer's habit, never expanded here.
void CheckLeadingVariable(const std::string& path, const Breach& breach) {
    if (path.empty() || (path[0] != '$' && path[0] != '%')) return;
    const size_t end = path[0] == '%' ? path.find('%', 1) + 1 : path.find('\\');
    const std::string variable = path.substr(0, end == 0 ? std::string::npos : end);
    const std::string macro = MacroFor(variable);
    breach("environment-variable", Quoted(variable) + " is never expanded: the installer would make a folder of that "
                                   "name; " + (macro.empty() ? "" : "write " + macro + " for it; ") + MacroList());
}

// What makes the installer write somewhere else than the path says, or fail.
void CheckPathShape(const std::string& path, const std::string& resolved, const Breach& breach) {
    if (Expanded(path).starts_with("\\\\"))
        breach("network-or-device-path",
               "is a network or device path (\\\\...); the installer installs only to paths on a drive");
    CheckLeadingVariable(path, breach);
    if (HasVariable(path))
        breach("environment-variable", "the installer expands no environment variables (%NAME%): it would make a "
                                       "folder of that name; " + MacroList());
    if (HasDrive(resolved) && !std::isalpha(static_cast<unsigned char>(resolved[0])))
        breach("drive-letter", Quoted(resolved.substr(0, 2)) + " is no drive: a drive is a letter from A to Z");
    if (HasDrive(resolved) && resolved.size() > 2 && resolved[2] != '\\')
        breach("drive-relative", Quoted(resolved.substr(0, 2)) + " without \"\\\" means the drive's current folder,"
                                  " which the installer does not choose; write " +
                                      Quoted(resolved.substr(0, 2) + "\\" + resolved.substr(2)));
    const bool onlyMacro = path.size() == setup::kMacroLength && setup::LeadingMacro(path);
    if (onlyMacro || resolved.back() == '\\' || resolved.size() == 2)
        breach("no-file-name", "names a folder, not a file: end it with the file's name");
}

void CheckLengths(const std::string& resolved, const Breach& breach) {
    if (resolved.size() > kMaxPath)
        breach("length", "is " + std::to_string(resolved.size()) +
                             " characters long where the folder macros take their longest usual values;"
                             " Windows takes at most 259");
    const std::string folder = setup::FolderPart(resolved);
    if (folder.size() > kMaxFolder + 1)
        breach("folder-length", "its folder is " + std::to_string(folder.size() - 1) +
                                    " characters long where the folder macros take their longest usual values;"
                                    " Windows creates folders of at most 248");
}

void CheckNames(const std::string& resolved, const TRuleContext& context, const Breach& breach) {
    const std::vector<std::string> parts = Parts(resolved);
    for (size_t i = HasDrive(resolved) ? 1 : 0; i < parts.size(); ++i) {
        if (!parts[i].empty()) CheckName(parts[i], kForbidden, context, breach);
        else if (i + 1 < parts.size())
            breach("dot-or-empty-name", "holds an empty name (\"\\\\\"); write one \"\\\" between names");
    }
}

void CheckNeedsAdmin(const std::string& path, const TRuleContext& context, const Breach& breach) {
    const setup::TFolderMacro* macro = setup::LeadingMacro(path);
    if (context.elevation != Elevation::User || !macro || !macro->adminOnly) return;
    breach("needs-admin", std::string(macro->text) + " is a folder only an administrator can write, and "
                          "elevation = \"user\" asks for no administrator; install into <l> (the user's own "
                          "programs folder, as in \"<l>\\Product\\...\"), or set elevation = \"admin\"");
}

// The first of the breaches that the entry does not waive.
class TFindings {
public:
    TFindings(const std::set<std::string>& waived, int line, std::string field)
        : waived_(waived), line_(line), field_(std::move(field)) {}
    Breach Reporter() {
        return [this](const std::string& rule, const std::string& reason) {
            if (!waived_.count(rule)) found_.push_back({rule, field_, line_, reason});
        };
    }
    std::optional<TRuleBreach> First() const {
        if (found_.empty()) return std::nullopt;
        return found_.front();
    }

private:
    const std::set<std::string>& waived_;
    int line_;
    std::string field_;
    std::vector<TRuleBreach> found_;
};

// The path as Windows finds the file: one "\" between names, which lose
// their trailing dots and spaces ("a.txt." is "a.txt"), case folded.
std::wstring ComparedPath(const std::string& destination, const TRuleContext& context) {
    std::string path;
    for (std::string& part : Parts(Resolved(Normalized(destination)))) {
        if (part.find_first_not_of('.') != std::string::npos)
            part.erase(part.find_last_not_of(". ") + 1);
        if (!part.empty()) path += (path.empty() ? "" : "\\") + part;
    }
    return FoldedName(path, context.codepage);
}

std::string Described(const TRuledEntry& entry) {
    const std::string line = "line " + std::to_string(entry.line);
    return entry.source.empty() ? "the entry at " + line : Quoted(entry.source) + " (" + line + ")";
}

// Both sources named; for a [[folder]] file that a [[file]] also installs,
// the exclude that keeps the [[folder]] from installing it a second time.
std::string DuplicateReason(const TRuledEntry& first, const TRuledEntry& second) {
    std::string reason = Described(second) + " goes to the same destination as " + Described(first);
    const TRuledEntry* inFolder = first.folderPath.empty() ? &second : &first;
    const TRuledEntry* alone = first.folderPath.empty() ? &first : &second;
    if (!inFolder->folderPath.empty() && alone->folderPath.empty() && !alone->source.empty())
        reason += "; leave it out of the [[folder]] at line " + std::to_string(inFolder->line) + " with exclude = [" +
                  Quoted(inFolder->folderPath) + "]";
    return reason;
}

}  // namespace

std::string Normalized(const std::string& destination) { return setup::Trim(setup::Lowercase(destination)); }

std::string DestinationRuleNames() {
    std::string names;
    for (std::string_view rule : kDestinationRules) names += (names.empty() ? "" : ", ") + std::string(rule);
    return names;
}

std::string TRuleBreach::Message() const {
    return reason + " (rule " + rule + "; no-check = [\"" + rule + "\"] in the entry waives it)";
}

std::optional<TRuleBreach> CheckDestinationRules(const std::string& destination, const std::set<std::string>& waived,
                                                int line, const TRuleContext& context) {
    TFindings findings(waived, line, "destination");
    const Breach breach = findings.Reporter();
    CheckControlCharacters(destination, breach);
    const std::string path = Normalized(destination);
    const size_t stamp = path.find(setup::kStampMacro);
    if (stamp != std::string::npos && path.find(setup::kStampMacro, stamp + 1) != std::string::npos)
        breach("second-stamp", "the installer replaces only the first <u>; the second stays as it is");
    const std::string resolved = Resolved(path);
    CheckPathShape(path, resolved, breach);
    CheckLengths(resolved, breach);
    CheckNames(resolved, context, breach);
    CheckNeedsAdmin(path, context, breach);
    return findings.First();
}

std::optional<TRuleBreach> CheckShortcutRules(const std::string& name, const std::set<std::string>& waived, int line,
                                             const std::string& field, const TRuleContext& context) {
    TFindings findings(waived, line, field);
    const Breach breach = findings.Reporter();
    CheckControlCharacters(name, breach);
    CheckName(name, kForbiddenInOneName, context, breach);
    const size_t linkPath = kLongestShellFolder.size() + 1 + name.size() + kLinkExtension.size();
    if (linkPath > kMaxPath)
        breach("length", "makes a link path of " + std::to_string(linkPath) +
                             " characters in the deepest usual shell folder; Windows takes at most 259");
    return findings.First();
}

std::optional<TRuleBreach> CheckEntryRules(const std::vector<TRuledEntry>& entries, const TRuleContext& context) {
    std::map<std::wstring, const TRuledEntry*> seen;  // path as Windows compares it -> its first entry
    for (const TRuledEntry& entry : entries) {
        auto [at, added] = seen.emplace(ComparedPath(entry.destination, context), &entry);
        if (!added && !entry.waived.count("duplicate"))
            return TRuleBreach{"duplicate", "destination", entry.line, DuplicateReason(*at->second, entry)};
    }
    const TRuledEntry* earlier = nullptr;
    for (const TRuledEntry& entry : entries) {
        if (!entry.runsAtEnd) continue;
        if (earlier && !earlier->waived.count("run-at-end"))
            return TRuleBreach{"run-at-end", "run", earlier->line,
                              "never runs: the entry at line " + std::to_string(entry.line) +
                                  " is also run at the end, and only the last one is"};
        earlier = &entry;
    }
    return std::nullopt;
}

}  // namespace vorn::pack
