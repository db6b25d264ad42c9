// Builds install packages for the tests through the package's own writer
// (setup/package_format.h), or damaged ones piece by piece.
#pragma once

#include <array>
#include <string>

#include "compress/vorn_header.h"
#include "setup/package_format.h"
#include "tests/support/test_support.h"

namespace vorn::setup::test {

using vorn::test::Bytes;

struct TestEntry {
    std::string Destination;
    char RunMode = '0';  // any byte: a damaged package too
    std::array<std::string, kShortcutFolders.size()> Shortcuts;
    std::string TReplaceRule;
    Bytes Stream;  // the entry's compressed stream as stored
};

struct TestPackage {
    std::string Title;
    std::vector<TestEntry> Entries;
};

// Title, entries and end marker, without the trailer.
Bytes PackageBody(const TestPackage& package);
// image + package, as vornpack lays it out: title, entries, end marker,
// alignment, trailer.
Bytes InstallerBytes(const Bytes& image, const TestPackage& package);
// bytes + a trailer with the given PackageStart.
Bytes WithTrailer(Bytes bytes, uint32_t packageStart);
// A whole stream of the given method index, as the component compresses it.
Bytes CompressedStream(const Bytes& content, uint8_t method);
// A whole stream of the stored method ("NON" header) holding content.
inline Bytes StoredStream(const std::string& content) {
    return CompressedStream(vorn::test::Text(content), kMethodStored);
}
inline Bytes AsBytes(const std::string& text) { return vorn::test::Text(text); }

}  // namespace vorn::setup::test
