#include "tools/common/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "compress/exceptions.h"

namespace vorn::tools {

namespace {

bool IsSpecialFile(const std::string& path) {
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    return !error && type != std::filesystem::file_type::regular;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (!IsSpecialFile(path_)) tempPath_ = path_ + ".part" + std::to_string(::getpid());
    stream_ = std::make_unique<TFileStream>(tempPath_.empty() ? path_ : tempPath_, FileMode::Create);
    buffered_ = std::make_unique<TBufferedStream>(*stream_);
}

OutputFile::~OutputFile() {
    buffered_.reset();
    stream_.reset();
    if (!committed_ && !tempPath_.empty()) std::remove(tempPath_.c_str());
}

void OutputFile::Commit() {
    buffered_->Flush();
    buffered_.reset();
    stream_.reset();
    if (!tempPath_.empty() && std::rename(tempPath_.c_str(), path_.c_str()) != 0)
        throw EStreamError("Cannot create file \"" + path_ + "\": " + std::strerror(errno));
    committed_ = true;
}

}  // namespace vorn::tools
