#include "tools/vornpack/package_builder.h"

#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace vorn::pack {

namespace {

constexpr int64_t kMaxInstallerSize = 0x7FFFFFFF;  // the installer's stream sizes are signed 32-bit
constexpr uint8_t kHeaderless = 0xFF;

void WriteLe32(TStream& out, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    out.Write(bytes, 4);
}

void WriteField(TStream& out, const std::string& text) {
    out.Write(text.data(), text.size());
    out.Write("|", 1);
}

std::string ShortcutField(const Shortcut& shortcut) {
    return shortcut.ask ? "?" + shortcut.name : shortcut.name;
}

std::string ReplaceField(const ReplaceRule& rule) {
    switch (rule.kind) {
        case ReplaceRule::Never: return "1";
        case ReplaceRule::Ask: return "1" + rule.question;
        case ReplaceRule::Always: break;
    }
    return "0";
}

uint8_t MethodIndexOf(EntryMethod method) {
    switch (method) {
        case EntryMethod::Stored: return kMethodStored;
        case EntryMethod::Rle: return kMethodRle;
        case EntryMethod::Lzh: return kMethodLzh;
        case EntryMethod::Lh5: case EntryMethod::AsIs: break;
    }
    return kMethodLh5;
}

[[noreturn]] void Fail(const Manifest& manifest, const FileEntry& entry, const std::string& what) {
    throw EManifestError(manifest.path.string() + ":" + std::to_string(entry.line) + ": source: " + what);
}

// A prepared stream goes in as it is, provided the installer can expand it:
// no key (the installer sets none), a single stream, a known method.
uint8_t CopyAsIs(const Manifest& manifest, const FileEntry& entry, TStream& source, TStream& out) {
    uint8_t bytes[kHeaderSize];
    const bool big = source.Size() > kHeaderSize;
    const TVornHeader header = big && source.Read(bytes, kHeaderSize) == kHeaderSize
                                   ? TVornHeader::Decode(bytes)
                                   : TVornHeader{.Magic = {}};
    source.Seek(0);
    uint8_t method = kHeaderless;
    if (header.HasMagic()) {
        if (header.LockLevel > 0) Fail(manifest, entry, "a locked stream; the installer sets no key and could never expand it");
        if (header.ArchiveType != 0) Fail(manifest, entry, "a multi-file archive; the installer expands single streams only");
        TVornCodec probe;
        try {
            method = probe.GetCompressMethod(header.Id());
        } catch (const EVornError& error) {
            Fail(manifest, entry, error.Message);
        }
        if (method == kMethodCustom) Fail(manifest, entry, "a custom stream; the installer cannot expand it");
    }
    out.CopyFrom(source, source.Size());
    return method;
}

BuiltEntry WriteEntry(const Manifest& manifest, const FileEntry& entry, TStream& out,
                      TShowProgressEvent progress) {
    WriteField(out, entry.destination);
    out.Write(reinterpret_cast<const char*>(&entry.run), 1);
    for (const Shortcut& shortcut : entry.shortcuts) WriteField(out, ShortcutField(shortcut));
    WriteField(out, ReplaceField(entry.replace));

    const int64_t lengthAt = out.Position();
    WriteLe32(out, 0);
    TFileStream source(entry.source.string(), FileMode::OpenRead);
    BuiltEntry built{entry.destination, 0, source.Size(), 0};
    if (entry.method == EntryMethod::AsIs) {
        built.method = CopyAsIs(manifest, entry, source, out);
    } else {
        TVornCodec codec;
        codec.HeaderAllowance = 1;  // store unless compression saves at least a byte
        codec.OnShowProgress = std::move(progress);
        built.method = codec.CompressStream(out, source, MethodIndexOf(entry.method)).Method;
    }
    const int64_t end = out.Position();
    if (end > kMaxInstallerSize) throw EManifestError(manifest.path.string() + ": the installer would pass 2 GiB");
    built.streamLength = static_cast<uint32_t>(end - lengthAt - 4);
    out.Seek(lengthAt);
    WriteLe32(out, built.streamLength);
    out.Seek(end);
    return built;
}

}  // namespace

std::vector<BuiltEntry> BuildInstaller(const Manifest& manifest, const std::vector<uint8_t>& stub,
                                       TStream& out, const EntryProgress& progress) {
    const int64_t packageStart = out.Position() + static_cast<int64_t>(stub.size());
    out.Write(stub.data(), stub.size());
    WriteField(out, manifest.title);
    std::vector<BuiltEntry> built;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        const FileEntry& entry = manifest.files[i];
        built.push_back(WriteEntry(manifest, entry, out, progress ? progress(entry, i) : nullptr));
    }
    out.Write("|", 1);
    WriteLe32(out, static_cast<uint32_t>(packageStart));
    return built;
}

}  // namespace vorn::pack
