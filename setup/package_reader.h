// Reads the install package appended to the installer's own file, strictly
// front to back. Every read stops at the 4-byte trailer: a package cut short
// raises EPackageError instead of running on into the trailer or past it.
#pragma once

#include <cstdint>
#include <string>

#include "compress/stream.h"

namespace vorn::setup {

inline constexpr char kFieldSeparator = '|';
inline constexpr int64_t kTrailerSize = 4;

class TPackageReader {
public:
    explicit TPackageReader(TStream& file) : file_(file) {}

    // Reads the trailer and seeks to the title. Raises EPackageError when
    // the file has no package behind its program image or the trailer points
    // outside the file.
    void Locate();
    // The bytes up to the next separator, which is consumed.
    std::string ReadField();
    // One byte taken as a decimal digit; raises EConvertError otherwise.
    int32_t ReadRunMode();
    uint32_t ReadStreamLength();
    // Copies the next length bytes, which must lie inside the package.
    void CopyStream(TStream& dest, uint32_t length);

private:
    uint8_t ReadByte(const char* cutShortMessage);

    TStream& file_;
    int64_t position_ = 0;
    int64_t end_ = 0;  // where the trailer begins
};

// The end of the program image in a PE file (the furthest end of a section's
// raw data), or 0 when the file does not start like one.
int64_t ExecutableImageEnd(TStream& file);

}  // namespace vorn::setup
