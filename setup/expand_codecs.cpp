// The installer's dispatcher table: expanders only, so that no compressor is
// carried by the stub. The tools and the library use compress/codec_table.cpp.
#include "compress/codec_table.h"

#include "compress/lh5/lh5.h"
#include "compress/lzh/lzh.h"
#include "compress/rle.h"

namespace vorn {

namespace {

void StoreExpand(TCodecState& s, int32_t) { StoreCopy(s); }
void RleExpandRow(TCodecState& s, int32_t) { RleExpand(s); }

constexpr CodecRow kNothing = {nullptr, nullptr};
constexpr CodecRow kExpanders[] = {
    {StoreExpand, nullptr},   // 0 "NON"
    {RleExpandRow, nullptr},  // 1 "RLE"
    {LzhExpand, nullptr},     // 2 "LZH"
    {nullptr, nullptr},       // 3 "CUS": the installer assigns no handler
    {Lh5Expand, nullptr},     // 4 "LH5"
};

}  // namespace

const CodecRow& CodecFor(uint8_t method) {
    return method < std::size(kExpanders) ? kExpanders[method] : kNothing;
}

}  // namespace vorn
