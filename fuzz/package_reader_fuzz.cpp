// The installer's package reader over arbitrary files: every entry is read
// as the installer reads it and its stream expanded into nothing. Damaged
// packages must end in the reader's or the component's own exceptions.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "compress/exceptions.h"
#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"
#include "setup/package_reader.h"

namespace {

// The expanders stop at the size their header claims, and a few bytes of
// LH5 data can honestly claim 16 MB (a block of 65,536 matches coded in no
// bits). Expanding is the codec targets' work: here an input may expand
// 64 KiB in all, so that the time goes to the reader.
constexpr int64_t kExpansionPerInput = 64 * 1024;

int64_t Claim(const vorn::TMemoryStream& stream) {
    const auto& bytes = stream.Bytes();
    if (bytes.size() <= static_cast<size_t>(vorn::kHeaderSize)) return static_cast<int64_t>(bytes.size());
    return vorn::TVornHeader::Decode(bytes.data()).UncompressedSize;
}

void ReadPackage(vorn::TStream& file) {
    vorn::setup::TPackageReader reader(file);
    vorn::TVornCodec codec;
    vorn::UseCustomMethods(codec);
    reader.Locate();
    reader.ReadField();  // title
    int64_t budget = kExpansionPerInput;
    for (vorn::setup::TEntryFields fields; reader.ReadEntryFields(fields);) {
        vorn::TMemoryStream stream;
        reader.CopyStream(stream, reader.ReadStreamLength());
        stream.Seek(0);
        vorn::TNullStream nothing;
        try {
            const int64_t claim = Claim(stream);
            if (claim > budget) continue;
            budget -= std::max<int64_t>(claim, 0);
            codec.ExpandStream(nothing, stream);
        } catch (const vorn::EVornError&) {  // a bad stream fails its entry; the installer goes on
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn::TMemoryStream file(std::vector<uint8_t>(data, data + size));
    try {
        ReadPackage(file);
    } catch (const vorn::EVornError&) {  // a damaged package: the installer reports it and stops
    }
    return 0;
}
