#include "tests/setup/package_builder.h"

namespace vorn::setup::test {

namespace {

void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

// The title and the entries, without the end.
void AppendEntries(Bytes& out, const TestPackage& package) {
    AppendText(out, TitleFieldBytes(package.Title));
    for (const TestEntry& entry : package.Entries) {
        AppendText(out, EntryHeadBytes({.destination = entry.Destination, .runMode = RunMode{entry.RunMode},
                                        .shortcuts = entry.Shortcuts, .replaceRule = entry.TReplaceRule},
                                       static_cast<uint32_t>(entry.Stream.size())));
        out.insert(out.end(), entry.Stream.begin(), entry.Stream.end());
    }
}

}  // namespace

Bytes PackageBody(const TestPackage& package) {
    Bytes out;
    AppendEntries(out, package);
    out.push_back(kFieldSeparator);
    return out;
}

Bytes WithTrailer(Bytes bytes, uint32_t packageStart) {
    AppendText(bytes, Le32Bytes(packageStart));
    return bytes;
}

Bytes InstallerBytes(const Bytes& image, const TestPackage& package) {
    Bytes out = image;
    AppendEntries(out, package);
    AppendText(out, PackageEndBytes(static_cast<int64_t>(out.size()), static_cast<uint32_t>(image.size())));
    return out;
}

Bytes CompressedStream(const Bytes& content, uint8_t method) {
    TVornCodec codec;
    return vorn::test::CompressBytes(codec, content, method);
}

}  // namespace vorn::setup::test
