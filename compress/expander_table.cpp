// The expanders of the dispatch table, linked by every program that reads
// streams, the installer included.
#include "compress/codec_table.h"

#include <iterator>

#include "compress/lh5/lh5.h"
#include "compress/lzh/lzh.h"
#include "compress/rle.h"
#include "compress/vorn_header.h"

namespace vorn {

namespace {

constexpr CodecFn kExpanders[] = {
    IgnoringSize<StoreCopy>,  // 0 "NON"
    IgnoringSize<RleExpand>,  // 1 "RLE"
    LzhExpand,                // 2 "LZH"
    nullptr,                  // 3 "CUS": the application's OnExpand
    Lh5Expand,                // 4 "LH5"
};

static_assert(std::size(kExpanders) == CompressionIDs.size(), "a row per built-in method");

}  // namespace

CodecFn ExpanderFor(uint8_t method) { return EntryFor(kExpanders, method); }

}  // namespace vorn
