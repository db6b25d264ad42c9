#include "tools/vornpack/package_builder.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "compress/byte_order.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"
#include "setup/package_format.h"
#include "tools/common/method_writer.h"
#include "tools/vornpack/store_decision.h"

namespace vorn::pack {

namespace {

constexpr uint8_t kHeaderless = 0xFF;
void WriteText(TStream& out, const std::string& text) { out.Write(text.data(), text.size()); }

std::string ReplaceField(const TReplaceRule& rule) {
    switch (rule.kind) {
        case setup::Replace::Never: return setup::kReplaceNever;
        case setup::Replace::Ask: return setup::kReplaceAsk + rule.question;
        case setup::Replace::Always: break;
    }
    return setup::kReplaceAlways;
}

setup::TEntryFields StoredFields(const TFileEntry& entry) {
    setup::TEntryFields fields{.destination = entry.destination, .runMode = entry.run, .shortcuts = {},
                               .replaceRule = ReplaceField(entry.replace)};
    for (size_t i = 0; i < fields.shortcuts.size(); ++i) {
        const TShortcut& shortcut = entry.shortcuts[i];
        fields.shortcuts[i] = shortcut.ask ? setup::kAskFirst + shortcut.name : shortcut.name;
    }
    return fields;
}

[[noreturn]] void Fail(const TManifest& manifest, const TFileEntry& entry, const std::string& what) {
    throw EManifestError(manifest.path.string() + ":" + std::to_string(entry.line) + ": source: " + what);
}

// The stream expands as the installer will expand it, into nothing, as
// verify does: a damaged one would install a broken file.
void CheckExpands(const TManifest& manifest, const TFileEntry& entry, TStream& source) {
    TVornCodec codec;
    TNullStream nothing;
    try {
        codec.ExpandStream(nothing, source);
    } catch (const EVornError& error) {
        Fail(manifest, entry, "\"" + entry.source.string() + "\" is damaged: " + error.Message);
    }
    source.Seek(0);
}

// A prepared stream goes in as it is, provided the installer can expand it:
// no key (the installer sets none), a single stream, a known method, data
// that expands.
uint8_t CopyAsIs(const TManifest& manifest, const TFileEntry& entry, TStream& source, TStream& out) {
    const std::optional<TVornHeader> peeked = PeekHeader(source);
    source.Seek(0);
    uint8_t method = kHeaderless;
    if (peeked) {
        const TVornHeader& header = *peeked;
        if (header.LockLevel > 0) Fail(manifest, entry, "a locked stream; the installer sets no key and could never expand it");
        if (header.ArchiveType != 0) Fail(manifest, entry, "a multi-file archive; the installer expands single streams only");
        TVornCodec probe;
        lzma::UseLzmaMethod(probe);
        try {
            method = probe.GetCompressMethod(header.Id());
        } catch (const EVornError& error) {
            Fail(manifest, entry, error.Message);
        }
        if (method == kMethodCustom && header.Id() != lzma::kMethodId) Fail(manifest, entry, "a custom stream; the installer cannot expand it");
    }
    CheckExpands(manifest, entry, source);
    out.CopyFrom(source, source.Size());
    return method;
}

// An entry's stream, made before its turn to be written.
struct TEncodedEntry {
    TBuiltEntry built;
    std::unique_ptr<TMemoryStream> stream = std::make_unique<TMemoryStream>();
};

// The entry's method over the data at source's position; LZMA with the x86
// filter for x86 programs.
TCompressResult CompressWith(const TFileEntry& entry, TVornCodec& codec, TStream& dest, TStream& source) {
    return tools::CompressWith(codec, dest, source, *entry.method, entry.level);
}

// Stores data whose sample does not shrink, without a full run over it.
TCompressResult Encode(const TFileEntry& entry, TVornCodec& codec, TStream& dest, TStream& source) {
    const bool compresses = entry.method->Index != kMethodStored &&
                            WorthCompressing(source, [&](TVornCodec& sampler, TStream& to, TStream& sample) {
                                return CompressWith(entry, sampler, to, sample);
                            });
    if (compresses) {
        codec.HeaderAllowance = 1;  // store unless compression saves at least a byte
        return CompressWith(entry, codec, dest, source);
    }
    return codec.CompressStream(dest, source, kMethodStored);  // a copy needs no budget
}

TEncodedEntry EncodeEntry(const TManifest& manifest, const TFileEntry& entry, TShowProgressEvent progress) {
    TFileStream source(entry.source.string(), FileMode::OpenRead);
    TEncodedEntry encoded{.built = {entry.destination, 0, source.Size(), 0}};
    if (entry.method == kAsIs) {
        encoded.built.method = CopyAsIs(manifest, entry, source, *encoded.stream);
    } else {
        TVornCodec codec;
        codec.OnShowProgress = std::move(progress);
        encoded.built.method = Encode(entry, codec, *encoded.stream, source).Method;
    }
    return encoded;
}

void WriteEntry(const TManifest& manifest, const TFileEntry& entry, TEncodedEntry& encoded, TStream& out) {
    const std::string head = setup::EntryFieldBytes(StoredFields(entry));
    const int64_t length = encoded.stream->Size();
    // The installer reads its own file with the sizes of a stream.
    if (out.Position() + static_cast<int64_t>(head.size()) + setup::kStreamLengthSize + length > kMaxStreamSize)
        throw EManifestError(manifest.path.string() + ": the installer would pass 2 GiB");
    encoded.built.streamLength = static_cast<uint32_t>(length);
    WriteText(out, setup::EntryHeadBytes(StoredFields(entry), encoded.built.streamLength));
    encoded.stream->Seek(0);
    out.CopyFrom(*encoded.stream, length);
}

// Encodes the entries on `jobs` threads and hands them to `write` one at a
// time in manifest order. At most `jobs` encoded entries wait at once, so
// memory stays bounded whatever the number of entries. The first failure in
// manifest order is the one raised, as in a single-threaded build.
class TEntryPipeline {
public:
    TEntryPipeline(const TManifest& manifest, std::vector<TShowProgressEvent> progress, size_t jobs)
        : manifest_(manifest),
          progress_(std::move(progress)),
          slots_(manifest.files.size()),
          jobs_(std::clamp<size_t>(jobs, 1, std::max<size_t>(1, slots_.size()))) {
        for (size_t i = 0; i < jobs_; ++i) workers_.emplace_back([this] { Work(); });
    }

    ~TEntryPipeline() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

    // Waits for entry i (taken in order from 0) and returns it; rethrows its failure.
    TEncodedEntry Take(size_t i) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slots_[i].done; });
        TSlot slot = std::move(slots_[i]);
        taken_ = i + 1;
        changed_.notify_all();
        if (slot.failure) std::rethrow_exception(slot.failure);
        return std::move(*slot.encoded);
    }

private:
    struct TSlot {
        std::optional<TEncodedEntry> encoded;
        std::exception_ptr failure;
        bool done = false;
    };

    void Work() {
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || (next_ < slots_.size() && next_ < taken_ + jobs_); });
                if (stopping_) return;
                i = next_++;
            }
            TSlot slot;
            try {
                slot.encoded = EncodeEntry(manifest_, manifest_.files[i], progress_[i]);
            } catch (...) {
                slot.failure = std::current_exception();
            }
            slot.done = true;
            std::lock_guard lock(mutex_);
            slots_[i] = std::move(slot);
            changed_.notify_all();
        }
    }

    const TManifest& manifest_;
    std::vector<TShowProgressEvent> progress_;
    std::vector<TSlot> slots_;
    const size_t jobs_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;   // the next entry a worker takes
    size_t taken_ = 0;  // entries handed to the writer
    bool stopping_ = false;
};

}  // namespace

std::vector<TBuiltEntry> BuildInstaller(const TManifest& manifest, const std::vector<uint8_t>& stub,
                                       TStream& out, const TBuildSettings& settings) {
    const int64_t packageStart = out.Position() + static_cast<int64_t>(stub.size());
    out.Write(stub.data(), stub.size());
    WriteText(out, setup::TitleFieldBytes(manifest.title));
    std::vector<TShowProgressEvent> progress;
    for (size_t i = 0; i < manifest.files.size(); ++i)
        progress.push_back(settings.progress ? settings.progress(manifest.files[i], i) : nullptr);
    std::vector<TBuiltEntry> built;
    {
        TEntryPipeline pipeline(manifest, std::move(progress), settings.jobs);
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            TEncodedEntry encoded = pipeline.Take(i);
            WriteEntry(manifest, manifest.files[i], encoded, out);
            built.push_back(std::move(encoded.built));
        }
    }
    WriteText(out, setup::PackageEndBytes(out.Position(), static_cast<uint32_t>(packageStart)));
    return built;
}

}  // namespace vorn::pack
