// Writing a chain of "LZM" streams (lzma_format.h): a group's files, in
// order, through one LZMA2 encoder that is flushed at the end of each file,
// so that every file is a stream of its own and yet shares the dictionary
// of the files before it. Linked into the tools' compress side only.
#pragma once

#include <cstdint>
#include <memory>

#include "compress/lzma/lzma_compress.h"
#include "compress/vorn_codec.h"

namespace vorn::lzma {

// What a chain holds, which its LZMA properties suit: Windows programs
// (PE images), whose instructions keep to no alignment, lose less with lc
// 2 and pb 0; anything else keeps the preset's.
enum class ChainContent { General, WindowsPrograms };

class TChainEncoder {
public:
    // For a group of groupSize bytes in all: the level's preset, with a
    // dictionary that holds the whole group (up to what the expander
    // takes), the longest nice length and the properties that suit the
    // content. A level out of range is refused (EVornError).
    TChainEncoder(int level, int64_t groupSize, ChainContent content = ChainContent::General);
    // The memory such an encoder takes, about eleven times its dictionary;
    // 0 for a level out of range.
    static uint64_t MemoryUse(int level, int64_t groupSize);
    ~TChainEncoder();
    TChainEncoder(const TChainEncoder&) = delete;
    TChainEncoder& operator=(const TChainEncoder&) = delete;

    // Writes the next link into dest from its position: the VORN header
    // ("LZM", the size, the byte sum), the chained head and the LZMA2
    // chunks of the whole source from its position to its end, filtered as
    // FilterSuitedTo says (x86-64 code with X64). A link is never stored instead: the
    // links after it need what it put in the dictionary. Progress and cancel
    // go through codec.OnShowProgress; a cancel (EOperationCancelled) leaves
    // dest as it was and ends the chain. A Key on the codec, an empty source
    // and a link after a cancel are refused (EVornError).
    TCompressResult AddLink(TVornCodec& codec, TStream& dest, TStream& source);

private:
    struct TState;
    std::unique_ptr<TState> state_;  // liblzma's, kept out of this header
};

}  // namespace vorn::lzma
