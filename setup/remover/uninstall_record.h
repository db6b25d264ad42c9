// The uninstall record: what a package installs, written by vornpack into
// the package beside the remover, and read by the remover. Text in the
// package's code page, one item a line, fields split by the package's
// field separator, which no text of a package holds:
//   vorn-uninstall|1
//   id|Vorn Sample        the registry key's name
//   name|... version|... publisher|...   what Settings shows
//   scope|machine         or user: HKLM or HKCU
//   file|auto|SIZE|SHA256|DESTINATION   as the package writes it, macros unresolved
//   link|Desktop|NAME     a shortcut: shell folder and link name
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::setup {

// The remover and its record, side by side in the folder the vendor names.
inline constexpr char kRemoverName[] = "uninstall.exe";
inline constexpr char kRecordName[] = "uninstall.dat";

// No file an installer writes is larger: an installer holds less than 2 GiB.
inline constexpr int64_t kLargestRecordedFile = INT32_MAX;

// Whether the remover takes a file away. Auto keeps what lies in the
// Windows folder (System included): other programs may share it.
enum class Removal { Auto, Always, Never };

struct TRecordedFile {
    std::string destination;
    int64_t size = 0;
    std::string digest;  // SHA-256 of the installed content, lowercase hexadecimal
    Removal removal = Removal::Auto;

    bool operator==(const TRecordedFile&) const = default;
};

struct TRecordedLink {
    std::string folder;  // "Desktop", "Start Menu", ...
    std::string name;    // without ".lnk"

    bool operator==(const TRecordedLink&) const = default;
};

struct TUninstallRecord {
    std::string id;
    std::string name;
    std::string version;
    std::string publisher;
    bool perUser = false;
    std::vector<TRecordedFile> files;
    std::vector<TRecordedLink> links;

    bool operator==(const TUninstallRecord&) const = default;
};

std::string RecordText(const TUninstallRecord& record);
// Empty when the text is no record of this version, or a line of it is damaged.
std::optional<TUninstallRecord> ParseRecord(const std::string& text);

// Reads a record a line at a time, so that nobody need hold a large one
// whole: files and links go to onFile and onLink as they are read where
// those are set, and into the record otherwise.
class TRecordReader {
public:
    std::function<void(const TRecordedFile&)> onFile;
    std::function<void(const TRecordedLink&)> onLink;

    // One line, without its "\n"; false once a line was damaged.
    bool Take(std::string_view line);
    // The record after its last line; empty when it is damaged or none.
    std::optional<TUninstallRecord> Finish();
    size_t Files() const { return files_; }
    size_t Links() const { return links_; }

private:
    TUninstallRecord record_;
    bool started_ = false;
    bool damaged_ = false;
    size_t files_ = 0;
    size_t links_ = 0;
};

}  // namespace vorn::setup
