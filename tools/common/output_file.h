// An output file that appears under its name only when complete: it is
// written under a temporary name beside the target and renamed by Commit().
// Without Commit() the temporary file is removed. A target that exists and
// is not a regular file (a device such as /dev/null, a pipe) is written in
// place: renaming over it would replace the device with a file. Writes are
// gathered into large ones (TBufferedStream); Commit() hands on the last.
#pragma once

#include <memory>
#include <string>

#include "compress/stream.h"
#include "tools/common/buffered_stream.h"

namespace vorn::tools {

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    TStream& Stream() { return *buffered_; }
    void Commit();

private:
    std::string path_;
    std::string tempPath_;  // empty when the target is written in place
    std::unique_ptr<TFileStream> stream_;
    std::unique_ptr<TBufferedStream> buffered_;
    bool committed_ = false;
};

}  // namespace vorn::tools
