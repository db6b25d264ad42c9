#include "tools/common/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "compress/exceptions.h"

namespace vorn::tools {

OutputFile::OutputFile(std::string path)
    : path_(std::move(path)), tempPath_(path_ + ".part" + std::to_string(::getpid())) {
    stream_ = std::make_unique<TFileStream>(tempPath_, FileMode::Create);
}

OutputFile::~OutputFile() {
    stream_.reset();
    if (!committed_) std::remove(tempPath_.c_str());
}

void OutputFile::Commit() {
    stream_.reset();
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0)
        throw EStreamError("Cannot create file \"" + path_ + "\": " + std::strerror(errno));
    committed_ = true;
}

}  // namespace vorn::tools
