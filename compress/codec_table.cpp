// The full table, both directions, as the tools and the library use it.
#include "compress/codec_table.h"

#include "compress/lh5/lh5.h"
#include "compress/lzh/lzh.h"
#include "compress/rle.h"

namespace vorn {

namespace {

void StoreExpand(TCodecState& s, int32_t) { StoreCopy(s); }
void RleExpandRow(TCodecState& s, int32_t) { RleExpand(s); }

constexpr CodecRow kNothing = {nullptr, nullptr};
constexpr CodecRow kCodecs[] = {
    {StoreExpand, StoreCopy},     // 0 "NON"
    {RleExpandRow, RleCompress},  // 1 "RLE"
    {LzhExpand, LzhCompress},     // 2 "LZH"
    {nullptr, nullptr},           // 3 "CUS": the application's handlers
    {Lh5Expand, Lh5Compress},     // 4 "LH5"
};

}  // namespace

const CodecRow& CodecFor(uint8_t method) {
    return method < std::size(kCodecs) ? kCodecs[method] : kNothing;
}

}  // namespace vorn
