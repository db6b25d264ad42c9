// What the LZM writers share around liblzma's raw encoder: the options of
// a level, the encoder's lifetime and the head of what it wrote. Included
// by the compress side's LZMA files only.
#pragma once

#include <lzma.h>

#include <cstdint>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_format.h"

namespace vorn::lzma {

inline void CheckLzma(lzma_ret result) {
    if (result != LZMA_OK && result != LZMA_STREAM_END)
        throw EVornError("The LZMA encoder failed (liblzma code " + std::to_string(result) + ")");
}

// The preset of level (refused out of kMinLevel..kMaxLevel) with its
// dictionary cut to the smallest power of two that holds size bytes, but not
// below liblzma's minimum: the expander allocates what the head names.
lzma_options_lzma LevelOptions(int level, int64_t size);

// The head of data made with options and filter, whose bytes have crc32.
TLzmaHead HeadFor(const lzma_options_lzma& options, LzmaFilter filter, uint32_t crc32);

// A raw encoder over a filter chain ended by LZMA_VLI_UNKNOWN, ended on
// every way out.
class TRawEncoder {
public:
    explicit TRawEncoder(const lzma_filter* filters) { CheckLzma(lzma_raw_encoder(&stream_, filters)); }
    ~TRawEncoder() { lzma_end(&stream_); }
    TRawEncoder(const TRawEncoder&) = delete;
    TRawEncoder& operator=(const TRawEncoder&) = delete;

    lzma_stream& Stream() { return stream_; }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace vorn::lzma
