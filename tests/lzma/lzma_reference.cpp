#include "tests/lzma/lzma_reference.h"

#include <lzma.h>
#include <zlib.h>

#include <stdexcept>

#include "compress/vorn_header.h"

namespace vorn::test {

namespace {

Bytes RawCode(const Bytes& input, const lzma_filter* filters, bool encoding) {
    Bytes out(input.size() * 2 + 4096);
    size_t inPos = 0, outPos = 0;
    for (;;) {
        const lzma_ret r = encoding
            ? lzma_raw_buffer_encode(filters, nullptr, input.data(), input.size(), out.data(), &outPos, out.size())
            : lzma_raw_buffer_decode(filters, nullptr, input.data(), &inPos, input.size(), out.data(), &outPos, out.size());
        if (r == LZMA_OK || r == LZMA_STREAM_END) break;
        if (r != LZMA_BUF_ERROR || out.size() > (input.size() + 4096) * 64)
            throw std::runtime_error("liblzma failed: " + std::to_string(r));
        out.resize(out.size() * 2);
        inPos = outPos = 0;
    }
    out.resize(outPos);
    return out;
}

}  // namespace

Bytes ReferenceEncode(const Bytes& input, const TLzmaCase& c) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    options.lc = c.Lc;
    options.lp = c.Lp;
    options.pb = c.Pb;
    options.dict_size = c.Dictionary;
    options.ext_flags = c.EndMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    options.ext_size_low = static_cast<uint32_t>(input.size());
    options.ext_size_high = 0;
    lzma_filter filters[3] = {};
    int n = 0;
    if (c.X86) filters[n++] = {LZMA_FILTER_X86, nullptr};
    filters[n++] = {c.EndMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    return RawCode(input, filters, true);
}

Bytes ReferenceX86Decode(const Bytes& input) {
    // The converter cannot end a chain of its own: the input goes through
    // LZMA, and comes back through LZMA and the converter.
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 0);
    const lzma_filter filters[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    return RawCode(RawCode(input, filters + 1, true), filters, false);
}

Bytes LzmStream(const Bytes& input, const TLzmaCase& c) {
    lzma::TLzmaHead head;
    head.Lc = c.Lc;
    head.Lp = c.Lp;
    head.Pb = c.Pb;
    head.DictionarySize = c.Dictionary;
    head.Filter = c.X86 ? lzma::LzmaFilter::X86 : lzma::LzmaFilter::None;
    head.Crc32 = static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size())));
    TVornHeader header;
    header.CompressID = {'L', 'Z', 'M'};
    header.UncompressedSize = static_cast<int32_t>(input.size());
    for (uint8_t b : input) header.Checksum += b;
    Bytes out;
    for (uint8_t b : header.Encode()) out.push_back(b);
    for (uint8_t b : head.Encode()) out.push_back(b);
    const Bytes data = ReferenceEncode(input, c);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace vorn::test
