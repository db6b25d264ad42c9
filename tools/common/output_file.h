// An output file that appears under its name only when complete: it is
// written under a temporary name beside the target and renamed by Commit().
// Without Commit() the temporary file is removed.
#pragma once

#include <memory>
#include <string>

#include "compress/stream.h"

namespace vorn::tools {

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    TStream& Stream() { return *stream_; }
    void Commit();

private:
    std::string path_;
    std::string tempPath_;
    std::unique_ptr<TFileStream> stream_;
    bool committed_ = false;
};

}  // namespace vorn::tools
