#include "tests/setup/package_builder.h"

namespace vorn::setup::test {

namespace {

void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes PackageBody(const TestPackage& package) {
    Bytes out;
    AppendText(out, package.Title + kFieldSeparator);
    for (const TestEntry& entry : package.Entries) {
        AppendText(out, EntryFieldBytes({.destination = entry.Destination, .runMode = RunMode{entry.RunMode},
                                         .shortcuts = entry.Shortcuts, .replaceRule = entry.ReplaceRule}));
        AppendLe32(out, static_cast<uint32_t>(entry.Stream.size()));
        out.insert(out.end(), entry.Stream.begin(), entry.Stream.end());
    }
    out.push_back(kFieldSeparator);
    return out;
}

Bytes WithTrailer(Bytes bytes, uint32_t packageStart) {
    AppendLe32(bytes, packageStart);
    return bytes;
}

Bytes InstallerBytes(const Bytes& image, const TestPackage& package) {
    Bytes out = image;
    const Bytes body = PackageBody(package);
    out.insert(out.end(), body.begin(), body.end());
    return WithTrailer(std::move(out), static_cast<uint32_t>(image.size()));
}

Bytes CompressedStream(const Bytes& content, uint8_t method) {
    TVornCodec codec;
    return vorn::test::CompressBytes(codec, content, method);
}

}  // namespace vorn::setup::test
