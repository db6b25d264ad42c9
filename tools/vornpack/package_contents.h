// Walks an installer's package the way the installer does, for listing,
// verifying and extracting without running anything.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "compress/stream.h"
#include "compress/vorn_header.h"
#include "setup/package_format.h"

namespace vorn::pack {

// The fields as stored (texts in the package's code page), and the stream's.
struct TPackageEntry : setup::TEntryFields {
    size_t index = 0;  // from 1
    uint32_t streamLength = 0;
    bool hasHeader = false;
    TVornHeader header;  // when hasHeader
    std::optional<uint32_t> chainOffset;  // of a link of a chain (a solid "LZM" entry)
};

struct TPackageVisitor {
    std::function<void(const std::string& title)> title;
    // Gets the entry's stream positioned at its start, holding only it.
    std::function<void(const TPackageEntry& entry, TStream& stream)> entry;
};

// Raises the installer's package errors (EPackageError, EConvertError) for a
// file that has no package or a damaged one. Returns the size of the
// certificate table behind the package (0 for an unsigned installer).
uint32_t WalkPackage(TStream& installer, const TPackageVisitor& visitor);

// How an entry's fields read to a person.
std::string DescribeRunMode(setup::RunMode runMode);
std::string DescribeReplace(const std::string& rule);
std::string MethodName(const TPackageEntry& entry);

}  // namespace vorn::pack
