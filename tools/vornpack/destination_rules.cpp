#include "tools/vornpack/destination_rules.h"

#include <map>

#include "setup/folders.h"
#include "tools/vornpack/manifest.h"

namespace vorn::pack {

namespace {

// Windows takes 259 characters and the closing NUL.
constexpr size_t kMaxPath = 259;
// The longest values the macros usually take; the stamp has nine digits
// from 2017 until the year 3781.
const setup::TSystemFolders kLongestFolders = {"C:\\WINDOWS", "C:\\Program Files (x86)"};
constexpr int32_t kNineDigitStampDay = 46361;
constexpr const char* kAnyDriveInstaller = "C:\\setup.exe";
constexpr std::string_view kForbidden = "<>:\"|?*";
const std::set<std::string> kDeviceNames = {
    "con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4", "com5", "com6", "com7",
    "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::vector<std::string> Parts(const std::string& path) {
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (c == '\\' || c == '/') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// The name a part stands for before its extension, as Windows compares
// device names ("con .txt" is the console too).
std::string Stem(const std::string& part) {
    std::string stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    return stem;
}

// Calls breach(rule, reason) for every rule a folder or file name breaks.
template <class Breach>
void CheckName(const std::string& part, const Breach& breach) {
    const size_t forbidden = part.find_first_of(kForbidden);
    if (forbidden != std::string::npos)
        breach("forbidden-character", Quoted(part) + " holds " + Quoted(part.substr(forbidden, 1)) +
                                          ", which Windows forbids in names");
    if (kDeviceNames.count(Stem(part)))
        breach("device-name", Quoted(part) + " is the device " + Stem(part) + " on Windows, never a file or folder");
    if (part != "." && part != ".." && (part.back() == ' ' || part.back() == '.'))
        breach("trailing-space-or-dot", Quoted(part) + " ends in a space or a dot, which Windows drops from names");
}

// The installer's path with every macro at its longest, the drive supplied.
std::string LongestPath(const std::string& path) {
    return setup::QualifyDrive(setup::ExpandFolderMacros(path, kLongestFolders, kNineDigitStampDay),
                               kAnyDriveInstaller);
}

std::string Normalized(const std::string& destination) {
    return setup::Trim(setup::Lowercase(destination));
}

}  // namespace

std::string DestinationRuleNames() {
    std::string names;
    for (std::string_view rule : kDestinationRules) names += (names.empty() ? "" : ", ") + std::string(rule);
    return names;
}

std::string RuleBreach::Message() const {
    return reason + " (rule " + rule + "; no-check = [\"" + rule + "\"] in the entry waives it)";
}

std::optional<RuleBreach> CheckDestinationRules(const std::string& destination,
                                                const std::set<std::string>& waived, int line) {
    std::vector<RuleBreach> found;
    auto breach = [&](const std::string& rule, const std::string& reason) {
        if (!waived.count(rule)) found.push_back({rule, "destination", line, reason});
    };
    for (unsigned char c : destination)
        if (c < 0x20) {
            breach("control-character", "holds the control character " + std::to_string(c) +
                                            ", which no Windows name can hold");
            break;
        }
    const std::string path = Normalized(destination);
    const size_t stamp = path.find("<u>");
    if (stamp != std::string::npos && path.find("<u>", stamp + 1) != std::string::npos)
        breach("second-stamp", "the installer replaces only the first <u>; the second stays as it is");
    const std::string longest = LongestPath(path);
    if (longest.size() > kMaxPath)
        breach("length", "is " + std::to_string(longest.size()) +
                             " characters long where the folder macros take their longest usual values;"
                             " Windows takes at most 259");
    const std::vector<std::string> parts = Parts(longest);
    const bool drive = longest.size() >= 2 && longest[1] == ':';
    for (size_t i = drive ? 1 : 0; i < parts.size(); ++i)
        if (!parts[i].empty()) CheckName(parts[i], breach);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::optional<RuleBreach> CheckEntryRules(const std::vector<FileEntry>& files) {
    std::map<std::string, int> seen;  // path with "/" as "\" and letters folded -> line
    for (const FileEntry& entry : files) {
        std::string path = Normalized(entry.destination);
        for (char& c : path)
            if (c == '/') c = '\\';
        auto [at, added] = seen.emplace(path, entry.line);
        if (!added && !entry.waived.count("duplicate"))
            return RuleBreach{"duplicate", "destination", entry.line,
                              "the same destination as the entry at line " + std::to_string(at->second)};
    }
    const FileEntry* earlier = nullptr;
    for (const FileEntry& entry : files) {
        if (entry.run != RunMode::AtEnd) continue;
        if (earlier && !earlier->waived.count("run-at-end"))
            return RuleBreach{"run-at-end", "run", earlier->line,
                              "never runs: the entry at line " + std::to_string(entry.line) +
                                  " is also run at the end, and only the last one is"};
        earlier = &entry;
    }
    return std::nullopt;
}

}  // namespace vorn::pack
