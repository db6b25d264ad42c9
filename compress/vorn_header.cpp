#include "compress/vorn_header.h"

#include <algorithm>

#include "compress/byte_order.h"

namespace vorn {

std::optional<TVornHeader> PeekHeader(TStream& stream) {
    const int64_t start = stream.Position();
    uint8_t bytes[kHeaderSize];
    if (stream.Size() - start > kHeaderSize && stream.Read(bytes, kHeaderSize) == kHeaderSize) {
        const TVornHeader header = TVornHeader::Decode(bytes);
        if (header.HasMagic()) return header;
    }
    stream.Seek(start);
    return std::nullopt;
}

TVornHeader TVornHeader::Decode(const uint8_t* bytes) {
    TVornHeader h;
    std::copy_n(bytes, 5, h.Magic.begin());
    std::copy_n(bytes + 5, 3, h.CompressID.begin());
    h.UncompressedSize = static_cast<int32_t>(LoadLe32(bytes + 8));
    h.ArchiveType = bytes[12];
    h.Checksum = LoadLe32(bytes + 13);
    h.LockLevel = static_cast<int32_t>(LoadLe32(bytes + 17));
    return h;
}

std::array<uint8_t, kHeaderSize> TVornHeader::Encode() const {
    std::array<uint8_t, kHeaderSize> out{};
    std::copy(Magic.begin(), Magic.end(), out.begin());
    std::copy(CompressID.begin(), CompressID.end(), out.begin() + 5);
    StoreLe32(out.data() + 8, static_cast<uint32_t>(UncompressedSize));
    out[12] = ArchiveType;
    StoreLe32(out.data() + 13, Checksum);
    StoreLe32(out.data() + 17, static_cast<uint32_t>(LockLevel));
    return out;
}

}  // namespace vorn
