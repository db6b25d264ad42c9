// Event types of TVornCodec. A handler is bound (it may capture its object)
// and counts as assigned when it is non-empty; results come back through
// the reference parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "compress/stream.h"

namespace vorn {

// Modes of a file-level operation, handed to the file-name check hook.
enum class TCProcessMode { Compress, Expand };

using TCompressEvent = std::function<void(TStream& dest, TStream& source, std::string& CompressID,
                                          int32_t& Outputsize, int32_t& checksum)>;
using TExpandEvent = std::function<void(TStream& dest, TStream& source, int32_t Sourcesize,
                                        int32_t Destsize, const std::string& CompressID,
                                        int32_t& checksum)>;
using TRecognizeEvent = std::function<void(const std::string& CompressID, bool& recognized)>;
using TFilenameCheckEvent = std::function<void(std::string& filepath, TCProcessMode mode)>;
// Setting PercentageDone to -1 cancels the run.
using TShowProgressEvent = std::function<void(int32_t& PercentageDone)>;

// Percentage of done in total, as a progress handler is given it, without
// overflowing done * 100.
int32_t PercentDone(int32_t done, int32_t total);

}  // namespace vorn
