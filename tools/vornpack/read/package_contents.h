// Walks an installer's package the way the installer does, for listing,
// verifying and extracting without running anything.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "compress/exceptions.h"
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
    std::optional<uint32_t> seedSize;     // of a seeded "LZM" stream: the installer's program bytes it takes
};

struct TPackageVisitor {
    std::function<void(const std::string& title)> title;
    // Gets the entry's stream positioned at its start: a read-only view of
    // its bytes in the installer, read where they lie, never held whole.
    std::function<void(const TPackageEntry& entry, TStream& stream)> entry;
};

// A file with no package behind its program (or none at all): a plain
// program, another maker's installer, a download cut short.
class ENoPackage : public EVornError {
public:
    using EVornError::EVornError;
};

// Raises ENoPackage, naming the file's size, unless a package can be found.
void RequirePackage(TStream& installer);

// Raises ENoPackage for a file without a package, and the installer's
// package errors (EPackageError, EConvertError) for a damaged one. Returns
// the size of the certificate table behind the package (0 for an unsigned
// installer). Holds the fields of one entry and a 256 KB read buffer.
uint32_t WalkPackage(TStream& installer, const TPackageVisitor& visitor);

// How an entry's fields read to a person.
std::string DescribeRunMode(setup::RunMode runMode);
std::string DescribeReplace(const std::string& rule);
std::string MethodName(const TPackageEntry& entry);

}  // namespace vorn::pack
