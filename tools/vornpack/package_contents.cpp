#include "tools/vornpack/package_contents.h"

#include "setup/package_reader.h"
#include "setup/setup_errors.h"
#include "tools/common/buffered_stream.h"

namespace vorn::pack {

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
