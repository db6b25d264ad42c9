#include "tools/vornpack/package_contents.h"

#include "setup/package_reader.h"

namespace vorn::pack {

uint32_t WalkPackage(TStream& installer, const PackageVisitor& visitor) {
    setup::TPackageReader reader(installer);
    reader.Locate();
    const std::string title = reader.ReadField();
    if (visitor.title) visitor.title(title);
    for (size_t index = 1;; ++index) {
        PackageEntry entry;
        entry.index = index;
        entry.destination = reader.ReadField();
        if (entry.destination.empty()) return reader.SignatureSize();
        entry.runMode = reader.ReadRunMode();
        for (std::string& shortcut : entry.shortcuts) shortcut = reader.ReadField();
        entry.replace = reader.ReadField();
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

std::string DescribeRunMode(int32_t runMode) {
    if (runMode == 1) return "now";
    if (runMode == 2) return "at-end";
    return "never";
}

std::string DescribeReplace(const std::string& rule) {
    if (rule == "1") return "never";
    if (!rule.empty() && rule[0] == '1') return "ask: " + rule.substr(1);
    return "always";
}

std::string MethodName(const PackageEntry& entry) {
    return entry.hasHeader ? entry.header.Id() : "headerless";
}

}  // namespace vorn::pack
