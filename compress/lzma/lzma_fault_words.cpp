#include "compress/lzma/lzma_format.h"

namespace vorn::lzma {

bool LzmaFaultsNamed() { return true; }

const char* LzmaFaultWords(LzmaFault fault) {
    switch (fault) {
        case LzmaFault::None: return nullptr;
        case LzmaFault::HeadCutShort: return "the LZM head is cut short";
        case LzmaFault::UnknownVersion: return "the LZM head has an unknown version";
        case LzmaFault::BadProperties: return "the LZM properties byte is out of range (225 or more)";
        case LzmaFault::DictionaryTooLarge: return "the LZM dictionary is larger than 64 MiB";
        case LzmaFault::UnknownFilter: return "the LZM head names an unknown branch filter";
        case LzmaFault::NegativeSize: return "the stream's size is negative";
        case LzmaFault::ChainLiteralBits: return "the LZM chain's lc + lp is over 4";
        case LzmaFault::NoChain:
            return "the LZM link continues a chain that is not there (an earlier link is missing or damaged)";
        case LzmaFault::OffsetPastChain:
            return "the LZM link's chain offset lies past the chain's end (a link is missing, or the offset is wrong)";
        case LzmaFault::OffsetInsideChain:
            return "the LZM link's chain offset lies inside the chain (links out of order, or the offset is wrong)";
        case LzmaFault::ChainMismatch: return "the LZM link's dictionary or properties differ from its chain's";
        case LzmaFault::DataCutShort: return "the LZM data end too soon";
        case LzmaFault::DataDamaged: return "the LZM data are damaged";
        case LzmaFault::DataLeftOver: return "the LZM data go on past the stream's end";
        case LzmaFault::CrcDiffers: return "the LZM CRC-32 differs";
        case LzmaFault::BadSeed: return "the LZM head's seed is empty or larger than its dictionary";
        case LzmaFault::NoSeed:
            return "the LZM stream is seeded with part of the installer that carries it, and expands only from that "
                   "installer (vornpack extract)";
    }
    return nullptr;
}

}  // namespace vorn::lzma
