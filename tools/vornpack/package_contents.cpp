#include "tools/vornpack/package_contents.h"

#include "compress/lzma/lzma_format.h"
#include "setup/package_reader.h"
#include "setup/setup_errors.h"
#include "tools/common/buffered_stream.h"

namespace vorn::pack {

namespace {

// The chain offset in the head of a chained "LZM" stream; nothing for any
// other stream.
std::optional<uint32_t> ChainOffset(const TVornHeader& header, TStream& stream) {
    if (header.Id() != lzma::kMethodId) return std::nullopt;
    stream.Seek(kHeaderSize);
    uint8_t bytes[lzma::kChainedHeadSize] = {};
    if (stream.Read(bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
    std::optional<lzma::TLzmaHead> head = lzma::TLzmaHead::Decode(bytes);
    if (!head || !head->Chained) return std::nullopt;
    head->DecodeChainOffset(bytes + lzma::kHeadSize);
    return head->ChainOffset;
}

}  // namespace

uint32_t WalkPackage(TStream& installer, const TPackageVisitor& visitor) {
    const setup::TDataDirectory certificate = setup::ReadPeHeaders(installer).Certificate();
    const int64_t tableEnd = int64_t{certificate.address} + certificate.size;
    if (tableEnd != 0 && tableEnd < installer.Size()) throw setup::EPackageError("The program's certificate table is not at the end of the file");
    // The reader takes the fields a byte at a time: one system call each
    // without the buffer, seconds for a long field.
    tools::TBufferedStream buffered(installer);
    setup::TPackageReader reader(buffered);
    reader.Locate();
    const std::string title = reader.ReadField();
    if (visitor.title) visitor.title(title);
    for (size_t index = 1;; ++index) {
        TPackageEntry entry;
        entry.index = index;
        if (!reader.ReadEntryFields(entry)) return reader.SignatureSize();
        entry.streamLength = reader.ReadStreamLength();
        TMemoryStream stream;
        reader.CopyStream(stream, entry.streamLength);
        stream.Seek(0);
        if (const std::optional<TVornHeader> header = PeekHeader(stream)) {
            entry.header = *header;
            entry.hasHeader = true;
            entry.chainOffset = ChainOffset(*header, stream);
        }
        stream.Seek(0);
        if (visitor.entry) visitor.entry(entry, stream);
    }
}

std::string DescribeRunMode(setup::RunMode runMode) {
    if (runMode == setup::RunMode::Now) return "now";
    if (runMode == setup::RunMode::AtEnd) return "at-end";
    return "never";
}

std::string DescribeReplace(const std::string& rule) {
    switch (setup::ReplaceOf(rule)) {
        case setup::Replace::Never: return "never";
        case setup::Replace::Ask: return "ask: " + rule.substr(1);
        case setup::Replace::Always: break;
    }
    return "always";
}

std::string MethodName(const TPackageEntry& entry) {
    return entry.hasHeader ? entry.header.Id() : "headerless";
}

}  // namespace vorn::pack
