#include <stdexcept>

#include "compress/lzma/lzma_format.h"
#include "tests/support/test_support.h"

namespace vorn::test {

namespace {

void Check(lzma_ret r) {
    if (r != LZMA_OK && r != LZMA_STREAM_END) throw std::runtime_error("liblzma failed");
}

}  // namespace

Bytes LzmaRawCode(const Bytes& input, const lzma_filter* filters, bool encoding, size_t room) {
    Bytes out(room);
    size_t inPos = 0, outPos = 0;
    Check(encoding ? lzma_raw_buffer_encode(filters, nullptr, input.data(), input.size(), out.data(), &outPos, room)
                   : lzma_raw_buffer_decode(filters, nullptr, input.data(), &inPos, input.size(), out.data(), &outPos, room));
    out.resize(outPos);
    return out;
}

lzma_options_lzma LzmaOptions(uint32_t preset, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dictionary) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, preset);
    options.lc = lc;
    options.lp = lp;
    options.pb = pb;
    options.dict_size = dictionary;
    return options;
}

std::vector<Bytes> LzmaChain(const std::vector<Bytes>& pieces, const TChainCase& c) {
    lzma_options_lzma options = LzmaOptions(1, c.Lc, c.Lp, c.Pb, c.Dictionary);
    const lzma_filter lzma2[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // The x86 converter cannot end a filter chain: each piece goes through it and LZMA1, and back through LZMA1.
    const lzma_filter x86[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream encoder = LZMA_STREAM_INIT;
    Check(lzma_raw_encoder(&encoder, lzma2));
    lzma::TLzmaHead head{.Lc = c.Lc, .Lp = c.Lp, .Pb = c.Pb, .DictionarySize = c.Dictionary,
                         .Filter = c.X86 ? lzma::LzmaFilter::X86 : lzma::LzmaFilter::None, .Chained = true};
    std::vector<Bytes> links;
    for (const Bytes& piece : pieces) {
        head.Crc32 = lzma_crc32(piece.data(), piece.size(), 0);
        const Bytes plain = c.X86 && !piece.empty() ? LzmaRawCode(LzmaRawCode(piece, x86, true, piece.size() * 2 + 4096), x86 + 1, false, piece.size()) : piece;
        Bytes link = lzma::StreamOpening(head, static_cast<int32_t>(piece.size()), ByteSum(piece));
        link.resize(link.size() + plain.size() * 2 + 4096);
        encoder.next_in = plain.data();
        encoder.avail_in = plain.size();
        encoder.next_out = link.data() + link.size() - (plain.size() * 2 + 4096);
        encoder.avail_out = plain.size() * 2 + 4096;
        lzma_ret r;
        while ((r = lzma_code(&encoder, LZMA_SYNC_FLUSH)) == LZMA_OK) {
        }
        Check(r);
        link.resize(link.size() - encoder.avail_out);
        links.push_back(link);
        head.ChainOffset += static_cast<uint32_t>(piece.size());
    }
    lzma_end(&encoder);
    return links;
}

}  // namespace vorn::test
