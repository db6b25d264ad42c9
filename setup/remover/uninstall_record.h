// The uninstall record: what a package installs, written by vornpack into
// the package beside the remover, and what a product has installed, written
// by the remover when it registers. Text in the package's code page, one
// item a line, fields split by the package's field separator, which no text
// of a package holds:
//   vorn-uninstall|2      (1 in records of earlier builds: no sharing field,
//                          no folder or installed line)
//   id|Vorn Sample        the registry key's name
//   name|... version|... publisher|...   what Settings shows
//   scope|machine         or user: HKLM or HKCU
//   folder|<p>\Vorn Sample   the product folder as the manifest names it
//   installed|20261205    only in a registered record: every path resolved
//   file|auto|own|SIZE|SHA256|DESTINATION   macros unresolved until installed
//   link|Desktop|NAME[|PATH]   a shortcut: shell folder, link name, and once
//                              installed the link's path
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::setup {

// The remover and its record, side by side in the folder the vendor names.
// A package brings its record under a name of its own, so that the record of
// the version installed before survives until the new remover has read it.
inline constexpr char kRemoverName[] = "uninstall.exe";
inline constexpr char kRecordName[] = "uninstall.dat";
inline constexpr char kPackageRecordName[] = "uninstall.new";

// No file an installer writes is larger: an installer holds less than 2 GiB.
inline constexpr int64_t kLargestRecordedFile = INT32_MAX;

// Whether the remover takes a file away. Auto keeps what lies in the
// Windows folder (System included) unless its count of users says it is
// the last one: other programs may share it.
enum class Removal { Auto, Always, Never };
// Whether a file is counted among the shared files of the machine (the
// SharedDLLs counts): Own files are not; Shared ones are to be counted when
// installed for the machine; Counted ones hold one count of this product's.
enum class Sharing { Own, Shared, Counted };

struct TRecordedFile {
    std::string destination;
    int64_t size = 0;
    std::string digest;  // SHA-256 of the installed content, lowercase hexadecimal
    Removal removal = Removal::Auto;
    Sharing sharing = Sharing::Own;

    bool operator==(const TRecordedFile&) const = default;
};

struct TRecordedLink {
    std::string folder;  // "Desktop", "Start Menu", ...
    std::string name;    // without ".lnk"
    std::string path;    // the link file, once installed

    bool operator==(const TRecordedLink&) const = default;
};

struct TUninstallRecord {
    std::string id;
    std::string name;
    std::string version;
    std::string publisher;
    bool perUser = false;
    std::string folder;       // the product folder as written; empty in records of earlier builds
    std::string installedOn;  // YYYYMMDD once the remover resolved every path; empty before
    std::vector<TRecordedFile> files;
    std::vector<TRecordedLink> links;

    bool operator==(const TUninstallRecord&) const = default;
};

std::string RecordText(const TUninstallRecord& record);
// Empty when the text is no record of a version this build reads, or a line
// of it is damaged.
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
    size_t SharedFiles() const { return shared_; }

private:
    bool TakeFile(std::string_view line);
    bool TakeLink(std::string_view line);

    TUninstallRecord record_;
    int version_ = 0;  // 0 until the first line is read
    bool damaged_ = false;
    size_t files_ = 0;
    size_t links_ = 0;
    size_t shared_ = 0;
};

}  // namespace vorn::setup
