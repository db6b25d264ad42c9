// What the LZM writers share around liblzma's raw encoder: the options of
// a level, the encoder's lifetime, the head of what it wrote and the one
// pass that writes a stream. Included by the compress side's LZMA files only.
#pragma once

#include <lzma.h>

#include <cstdint>
#include <optional>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_format.h"
#include "compress/vorn_codec.h"

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

// Writes the stream of size bytes at source's position into dest from its
// position: the VORN header and the head, then what the encoder makes of
// the data, read in chunks, summed and checked (CRC-32) as read, and
// x86-converted first when head.Filter says so. The encoder ends with
// `end` (LZMA_FINISH for a lone stream, LZMA_SYNC_FLUSH for a chain's
// link); the header and the head are written last, over a placeholder.
// Returns the byte sum, or nothing once the encoder's output passes budget
// bytes (dest then holds part of an attempt). Progress and cancel go
// through codec.OnShowProgress; a cancel leaves dest as it was and raises
// EOperationCancelled.
std::optional<uint32_t> WriteStream(TVornCodec& codec, TStream& dest, TStream& source, int32_t size, TLzmaHead head,
                                    lzma_stream& encoder, lzma_action end, int64_t budget);

}  // namespace vorn::lzma
