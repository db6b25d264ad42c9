// The install package: what vornpack appends to the installer stub and the
// installer reads front to back. Behind the program image come the title
// field, the entries, the end marker (an empty destination field) and the
// trailer: the title's file offset, 4 bytes little-endian. Every number and
// fixed name the package stores is defined here, once for the installer that
// reads it and for vornpack and the tests that write it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::setup {

// Ends every text field; no field can hold it.
inline constexpr char kFieldSeparator = '|';
inline constexpr int64_t kTrailerSize = 4;
inline constexpr int64_t kStreamLengthSize = 4;

// The run mode byte is a decimal digit; the digits not named here start nothing.
enum class RunMode : char { Never = '0', Now = '1', AtEnd = '2' };

// The shell folders of an entry's shortcut fields, in package order. A
// shortcut field is empty (no shortcut), the link's name, or kAskFirst and
// the name.
inline constexpr std::array<const char*, 5> kShortcutFolders = {"Desktop", "Startup", "Programs",
                                                                "Start Menu", "SendTo"};
inline constexpr char kAskFirst = '?';

// The installer takes at most this many characters of the text behind a
// prefix: an asked shortcut's name, the name a replace rule shows, the rest
// of a destination behind a folder macro; vornpack refuses longer ones.
inline constexpr size_t kNameLimit = 255;

// What an entry's replace rule does with an existing file: exactly
// kReplaceNever keeps it, kReplaceAsk followed by a name asks (showing the
// name), anything else replaces it unasked; vornpack writes kReplaceAlways.
enum class Replace { Always, Never, Ask };
inline constexpr char kReplaceNever[] = "1";
inline constexpr char kReplaceAsk = '1';
inline constexpr char kReplaceAlways[] = "0";

constexpr Replace ReplaceOf(std::string_view rule) {
    if (rule == kReplaceNever) return Replace::Never;
    return rule.starts_with(kReplaceAsk) ? Replace::Ask : Replace::Always;
}

// An entry's fields ahead of its stream. The run mode has no separator
// behind it. The stream length follows (4 bytes, little-endian), then that
// many bytes of compressed stream.
struct TEntryFields {
    std::string destination;  // never empty: an empty one is the end marker
    RunMode runMode = RunMode::Never;
    std::array<std::string, kShortcutFolders.size()> shortcuts;
    std::string replaceRule;
};

// The order of an entry's fields, spelled once for the writer, the tools'
// reader and the installer, which acts between them. Each callable takes
// the next field; `destination` returns false at the end marker, which ends
// the walk, and `shortcut` gets the field's index in kShortcutFolders.
template <class Destination, class Mode, class Shortcut, class Rule>
bool WalkEntryFields(Destination&& destination, Mode&& runMode, Shortcut&& shortcut, Rule&& replaceRule) {
    if (!destination()) return false;
    runMode();
    for (size_t i = 0; i < kShortcutFolders.size(); ++i) shortcut(i);
    replaceRule();
    return true;
}

// The writer's pieces, in package order: the title field, each entry's head
// (its fields and stream length) followed by its stream, then the end.

inline std::string TitleFieldBytes(const std::string& title) { return title + kFieldSeparator; }

// The fields as the package stores them.
inline std::string EntryFieldBytes(const TEntryFields& fields) {
    std::string bytes;
    WalkEntryFields([&] {
                        bytes += fields.destination + kFieldSeparator;
                        return true;
                    },
                    [&] { bytes += static_cast<char>(fields.runMode); },
                    [&](size_t i) { bytes += fields.shortcuts[i] + kFieldSeparator; },
                    [&] { bytes += fields.replaceRule + kFieldSeparator; });
    return bytes;
}

inline std::string Le32Bytes(uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(value >> shift);
    return bytes;
}

inline std::string EntryHeadBytes(const TEntryFields& fields, uint32_t streamLength) {
    return EntryFieldBytes(fields) + Le32Bytes(streamLength);
}

// Signing puts an 8-byte aligned certificate table behind the trailer.
inline constexpr int64_t kSigningAlignment = 8;

// The end marker (an empty destination) written at file offset `at`, zeros
// that end the trailer on a multiple of kSigningAlignment, so that signing
// tools need no padding of their own, and the trailer.
inline std::string PackageEndBytes(int64_t at, uint32_t packageStart) {
    const int64_t trailerAt = at + 1;
    const auto zeros = static_cast<size_t>(-(trailerAt + kTrailerSize) & (kSigningAlignment - 1));
    return kFieldSeparator + std::string(zeros, '\0') + Le32Bytes(packageStart);
}

}  // namespace vorn::setup
