#include "tests/support/lzma_chain.h"

#include <lzma.h>

#include <stdexcept>

#include "compress/lzma/lzma_format.h"

namespace vorn::test {

namespace {

void Check(lzma_ret r) {
    if (r != LZMA_OK && r != LZMA_STREAM_END) throw std::runtime_error("liblzma failed");
}

// What the x86 converter's encoding direction makes of the piece: through
// LZMA1 and back, as the converter cannot end a filter chain of its own.
Bytes X86Converted(const Bytes& piece) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 0);
    const lzma_filter filters[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes packed(piece.size() * 2 + 1024), out(piece.size());
    size_t packedSize = 0, inPos = 0, outPos = 0;
    Check(lzma_raw_buffer_encode(filters, nullptr, piece.data(), piece.size(), packed.data(), &packedSize, packed.size()));
    Check(lzma_raw_buffer_decode(filters + 1, nullptr, packed.data(), &inPos, packedSize, out.data(), &outPos, out.size()));
    return out;
}

Bytes Flushed(lzma_stream& encoder, const Bytes& piece) {
    Bytes out(piece.size() + piece.size() / 16 + 4096);
    encoder.next_in = piece.data();
    encoder.avail_in = piece.size();
    encoder.next_out = out.data();
    encoder.avail_out = out.size();
    lzma_ret r;
    while ((r = lzma_code(&encoder, LZMA_SYNC_FLUSH)) == LZMA_OK) {
    }
    Check(r);
    out.resize(out.size() - encoder.avail_out);
    return out;
}

}  // namespace

std::vector<Bytes> LzmaChain(const std::vector<Bytes>& pieces, const TChainCase& c) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 1);
    options.lc = c.Lc;
    options.lp = c.Lp;
    options.pb = c.Pb;
    options.dict_size = c.Dictionary;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream encoder = LZMA_STREAM_INIT;
    Check(lzma_raw_encoder(&encoder, filters));
    lzma::TLzmaHead head{.Lc = c.Lc, .Lp = c.Lp, .Pb = c.Pb, .DictionarySize = c.Dictionary,
                         .Filter = c.X86 ? lzma::LzmaFilter::X86 : lzma::LzmaFilter::None, .Chained = true};
    std::vector<Bytes> links;
    for (const Bytes& piece : pieces) {
        head.Crc32 = lzma_crc32(piece.data(), piece.size(), 0);
        Bytes link = lzma::StreamOpening(head, static_cast<int32_t>(piece.size()), ByteSum(piece));
        const Bytes data = Flushed(encoder, c.X86 && !piece.empty() ? X86Converted(piece) : piece);
        link.insert(link.end(), data.begin(), data.end());
        links.push_back(link);
        head.ChainOffset += static_cast<uint32_t>(piece.size());
    }
    lzma_end(&encoder);
    return links;
}

}  // namespace vorn::test
