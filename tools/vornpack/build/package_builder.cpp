#include "tools/vornpack/build/package_builder.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "compress/byte_order.h"
#include "compress/lzma/lzma_chain.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"
#include "setup/package_format.h"
#include "setup/pe_image.h"
#include "tools/common/method_writer.h"
#include "tools/vornpack/build/source_file.h"
#include "tools/vornpack/build/store_decision.h"

namespace vorn::pack {

namespace {

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

// Opens the entry's source once for fn; a source that is not what it was
// when checked fails the build at the entry's line.
template <typename Fn>
auto WithSource(const TManifest& manifest, const TFileEntry& entry, Fn fn) {
    try {
        TSourceFile source(entry.source);
        return fn(source);
    } catch (const ESourceError& error) {
        Fail(manifest, entry, error.Message);
    }
}

// The stream expands as the installer will expand it, as verify does: a
// damaged one would install a broken file. Gives what it installs.
TInstalledBytes CheckExpands(const TManifest& manifest, const TFileEntry& entry, TStream& stream) {
    TVornCodec codec;
    UseCustomMethods(codec);
    TDigestStream installed;
    stream.Seek(0);
    try {
        codec.ExpandStream(installed, stream);
    } catch (const EVornError& error) {
        Fail(manifest, entry, "\"" + entry.source.string() + "\" is damaged: " + error.Message);
    }
    return {installed.Size(), installed.Digest()};
}

// A prepared stream goes in as it is, provided the installer can expand it:
// no key (the installer sets none), a single stream, a known method, data
// that expands. The copy in out is what is checked.
uint8_t CopyAsIs(const TManifest& manifest, const TFileEntry& entry, TSourceFile& source, TStream& out,
                 TInstalledBytes& installed) {
    const std::optional<TVornHeader> peeked = PeekHeader(source);
    source.Seek(0);
    uint8_t method = kHeaderless;
    if (peeked) {
        const TVornHeader& header = *peeked;
        if (header.LockLevel > 0) Fail(manifest, entry, "a locked stream; the installer sets no key and could never expand it");
        if (header.ArchiveType != 0) Fail(manifest, entry, "a multi-file archive; the installer expands single streams only");
        TVornCodec probe;
        UseCustomMethods(probe);
        try {
            probe.GetCompressMethod(header.Id());
        } catch (const EVornError& error) {
            Fail(manifest, entry, error.Message);
        }
        // What the installer expands is what the tools write.
        const tools::TMethodIdentity* known = tools::MethodWithId(header.Id());
        if (!known) Fail(manifest, entry, "a custom stream; the installer cannot expand it");
        method = known->Index;
    }
    out.CopyFrom(source, source.Size());
    source.Finish();
    installed = CheckExpands(manifest, entry, out);
    return method;
}

// An entry's stream, made before its turn to be written.
struct TEncodedEntry {
    TBuiltEntry built;
    std::unique_ptr<TMemoryStream> stream = std::make_unique<TMemoryStream>();
};

// The entry's method over the data at source's position.
TCompressResult CompressWith(const TFileEntry& entry, TVornCodec& codec, TStream& dest, TStream& source) {
    return entry.method->Write(codec, dest, source, *entry.method, entry.level);
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

// A seeded entry, LZMA against the stub's program (stored instead when that
// does not shrink it); with no seed, a lone LZMA stream.
TCompressResult EncodeSeeded(const TFileEntry& entry, TVornCodec& codec, TStream& dest, TStream& source,
                             lzma::TLzmaSeed seed) {
    const lzma::TLzmaSettings settings(entry.level, lzma::FilterSuitedTo(source, true), seed);
    codec.HeaderAllowance = 1;
    return lzma::CompressLzmaStream(codec, dest, source, settings);
}

TEncodedEntry EncodeEntry(const TManifest& manifest, const TFileEntry& entry, TShowProgressEvent progress,
                          lzma::TLzmaSeed seed) {
    return WithSource(manifest, entry, [&](TSourceFile& source) {
        TEncodedEntry encoded{.built = {entry.destination, 0, source.Size(), 0, {}}};
        if (entry.method == kAsIs) {
            encoded.built.method = CopyAsIs(manifest, entry, source, *encoded.stream, encoded.built.installed);
        } else {
            TVornCodec codec;
            codec.OnShowProgress = std::move(progress);
            encoded.built.method = entry.seeded ? EncodeSeeded(entry, codec, *encoded.stream, source, seed).Method
                                                : Encode(entry, codec, *encoded.stream, source).Method;
            encoded.built.installed = source.Finish();
        }
        return encoded;
    });
}

// An entry made from those before it, encoded as a file of those bytes would be.
TEncodedEntry EncodeMade(const TFileEntry& entry, const std::string& bytes) {
    TMemoryStream source(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    TEncodedEntry encoded{.built = {entry.destination, 0, source.Size(), 0, {}}};
    TVornCodec codec;
    encoded.built.method = Encode(entry, codec, *encoded.stream, source).Method;
    return encoded;
}

void WriteEntry(const TManifest& manifest, const TFileEntry& entry, TEncodedEntry& encoded, TStream& out) {
    const std::string head = setup::EntryFieldBytes(StoredFields(entry));
    const int64_t length = encoded.stream->Size();
    // The installer reads its own file with the sizes of a stream.
    if (out.Position() + static_cast<int64_t>(head.size()) + setup::kStreamLengthSize + length > kMaxStreamSize)
        Fail(manifest, entry, "with this entry the installer would pass 2 GiB");
    encoded.built.streamLength = static_cast<uint32_t>(length);
    WriteText(out, setup::EntryHeadBytes(StoredFields(entry), encoded.built.streamLength));
    encoded.stream->Seek(0);
    out.CopyFrom(*encoded.stream, length);
}

// What one worker does at a time: an entry alone, or a group of lzma
// entries compressed as one chain.
struct TJob {
    std::vector<size_t> entries;  // in manifest order
    int64_t bytes = 0;            // of their sources
    bool chain = false;
};

int64_t SourceSize(const TFileEntry& entry) {
    std::error_code error;
    const auto size = std::filesystem::file_size(entry.source, error);
    return error ? 0 : static_cast<int64_t>(size);
}

// The fewest bytes an entry's stream can take: exactly what a stored entry
// takes (a stored method, as-is, or data whose sample does not shrink), a
// header for the rest.
int64_t LeastStreamSize(const TManifest& manifest, const TFileEntry& entry, int64_t size) {
    if (entry.method == kAsIs) return size;
    if (entry.method->Index == kMethodStored) return size + kHeaderSize;
    if (entry.made) return kHeaderSize;
    const bool compresses = WithSource(manifest, entry, [&](TSourceFile& source) {
        return WorthCompressing(source, [&](TVornCodec& sampler, TStream& to, TStream& sample) {
            return CompressWith(entry, sampler, to, sample);
        });
    });
    return compresses ? kHeaderSize : size + kHeaderSize;
}

// Refuses, before anything is compressed, a build whose installer must pass
// 2 GiB, naming the entry that takes it over. Sources are sampled only when
// all of them stored could pass it.
void RefuseOversizedBuild(const TManifest& manifest, const std::vector<uint8_t>& stub) {
    const auto fixed = static_cast<int64_t>(stub.size() + setup::TitleFieldBytes(manifest.title).size());
    std::vector<int64_t> heads, sizes;
    int64_t most = fixed;
    for (const TFileEntry& entry : manifest.files) {
        const std::string fields = setup::EntryFieldBytes(StoredFields(entry));
        heads.push_back(static_cast<int64_t>(fields.size()) + setup::kStreamLengthSize);
        sizes.push_back(SourceSize(entry));
        most += heads.back() + sizes.back() + kHeaderSize;
    }
    if (most <= kMaxStreamSize) return;
    int64_t least = fixed;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        least += heads[i] + LeastStreamSize(manifest, manifest.files[i], sizes[i]);
        if (least > kMaxStreamSize)
            Fail(manifest, manifest.files[i], "with this entry the installer would pass 2 GiB (at least " +
                                                  std::to_string(least) + " bytes)");
    }
}

// What seeded entries are compressed against: the stub's sections before
// its resources, its code and data, which the installer holds where the
// stub put them (it starts the installer's file), since neither signing
// nor anything after the build rewrites them. Nothing for a stub without
// resources.
lzma::TLzmaSeed StubSeed(const std::vector<uint8_t>& stub) {
    TMemoryStream image(stub);
    const setup::TPeHeaders pe = setup::ReadPeHeaders(image);
    const std::vector<setup::TPeSection> sections = setup::ReadPeSections(image, pe);
    const uint32_t resources = pe.directories[setup::pe::kResourceDirectory].address;
    uint32_t start = UINT32_MAX, end = 0;
    for (const setup::TPeSection& section : sections) {
        if (section.rawSize > 0) start = std::min(start, section.rawOffset);
        if (resources != 0 && resources >= section.virtualAddress &&
            resources - section.virtualAddress < std::max(section.virtualSize, section.rawSize))
            end = section.rawOffset;
    }
    if (end <= start || end > stub.size() || end - start > lzma::kMaxDictionarySize) return {};
    return {.Bytes = std::span(stub).subspan(start, end - start), .Start = start};
}

// Windows programs when they make up half the chain's bytes or more.
lzma::ChainContent ContentOf(const TManifest& manifest, const TJob& job) {
    int64_t programs = 0;
    for (size_t i : job.entries) {
        const TFileEntry& entry = manifest.files[i];
        if (WithSource(manifest, entry, [](TSourceFile& source) { return lzma::IsWindowsProgram(source); }))
            programs += SourceSize(entry);
    }
    return 2 * programs >= job.bytes ? lzma::ChainContent::WindowsPrograms : lzma::ChainContent::General;
}

// The entries of a chain share one encoder in order: each link is written
// whole, never stored, since the links after it lean on it.
std::vector<TEncodedEntry> EncodeChain(const TManifest& manifest, const TJob& job,
                                       const std::vector<TShowProgressEvent>& progress) {
    lzma::TChainEncoder chain(manifest.files[job.entries.front()].level, job.bytes, ContentOf(manifest, job));
    std::vector<TEncodedEntry> encoded;
    for (size_t i : job.entries) {
        const TFileEntry& entry = manifest.files[i];
        encoded.push_back(WithSource(manifest, entry, [&](TSourceFile& source) {
            TVornCodec codec;
            codec.OnShowProgress = progress[i];
            TEncodedEntry link{.built = {entry.destination, 0, source.Size(), 0, {}}};
            link.built.method = chain.AddLink(codec, *link.stream, source).Method;
            link.built.installed = source.Finish();
            return link;
        }));
    }
    return encoded;
}

std::vector<TEncodedEntry> EncodeJob(const TManifest& manifest, const TJob& job,
                                     const std::vector<TShowProgressEvent>& progress, lzma::TLzmaSeed seed) {
    if (job.chain) return EncodeChain(manifest, job, progress);
    const size_t i = job.entries.front();
    std::vector<TEncodedEntry> encoded;
    encoded.push_back(EncodeEntry(manifest, manifest.files[i], progress[i], seed));
    return encoded;
}

// Whether an entry goes into a chain: an lzma entry with something in it
// that its sample shows will shrink. The others are entries of their own.
bool Chainable(const TManifest& manifest, const TFileEntry& entry, int64_t size) {
    if (entry.method == kAsIs || !entry.method->Solid || size == 0 || entry.made || entry.seeded) return false;
    return WithSource(manifest, entry, [&](TSourceFile& source) {
        return WorthCompressing(source, [&](TVornCodec& sampler, TStream& to, TStream& sample) {
            return CompressWith(entry, sampler, to, sample);
        });
    });
}

// Cuts a run of chainable entries (with one level) into ceil(total /
// target) groups of about equal size, each entry going to the group its
// middle byte falls into.
void CutIntoGroups(const std::vector<size_t>& run, const std::vector<int64_t>& sizes, int64_t target,
                   std::vector<TJob>& plan) {
    int64_t total = 0;
    for (size_t i : run) total += sizes[i];
    const int64_t groups = (total + target - 1) / target;
    int64_t before = 0;
    int64_t current = -1;
    for (size_t i : run) {
        const int64_t group = std::min(groups - 1, (2 * before + sizes[i]) * groups / (2 * total));
        if (group != current) plan.push_back({.entries = {}, .bytes = 0, .chain = true});
        current = group;
        plan.back().entries.push_back(i);
        plan.back().bytes += sizes[i];
        before += sizes[i];
    }
}

// Which entries go into chains, judged on `jobs` threads: each judgement
// compresses a sample. Of several failures, the first in manifest order is
// raised, whatever the number of jobs.
std::vector<char> JudgeChainable(const TManifest& manifest, const std::vector<int64_t>& sizes, size_t jobs) {
    std::vector<char> chainable(manifest.files.size(), 0);
    if (!manifest.solid) return chainable;
    std::atomic<size_t> next = 0;
    std::vector<std::exception_ptr> failures(chainable.size());
    auto judge = [&] {
        for (size_t i; (i = next++) < chainable.size();) {
            try {
                chainable[i] = Chainable(manifest, manifest.files[i], sizes[i]);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::clamp<size_t>(jobs, 1, chainable.size()); ++t) threads.emplace_back(judge);
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
    return chainable;
}

// The jobs of a build, ordered by their first entry. Without solid, an
// entry each. With it, the chainable entries in manifest order form runs of
// one level, and the runs are cut into groups; a chain's links are
// consecutive among the package's lzma entries, whatever lies between.
std::vector<TJob> PlanJobs(const TManifest& manifest, const TBuildSettings& settings) {
    std::vector<int64_t> sizes;
    for (const TFileEntry& entry : manifest.files) sizes.push_back(SourceSize(entry));
    const std::vector<char> chainable = JudgeChainable(manifest, sizes, settings.jobs);
    std::vector<TJob> plan;
    std::vector<size_t> run;
    auto endRun = [&] {
        if (!run.empty()) CutIntoGroups(run, sizes, settings.chainTarget, plan);
        run.clear();
    };
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        if (manifest.files[i].made) continue;  // the writer makes it when its turn comes
        if (!chainable[i]) {
            plan.push_back({.entries = {i}, .bytes = sizes[i], .chain = false});
            continue;
        }
        if (!run.empty() && manifest.files[run.front()].level != manifest.files[i].level) endRun();
        run.push_back(i);
    }
    endRun();
    std::stable_sort(plan.begin(), plan.end(), [](const TJob& a, const TJob& b) { return a.entries[0] < b.entries[0]; });
    return plan;
}

// The threads whose chain encoders fit in half the machine's memory, at
// most `jobs` and at least one: a chain's dictionary holds the whole chain,
// and its encoder takes about eleven times that (some 370 MB for a chain of
// the usual 32 MiB), so one per core could exhaust a many-core machine.
size_t JobsMemoryAllows(const TManifest& manifest, const std::vector<TJob>& plan, size_t jobs) {
    uint64_t largest = 0;
    for (const TJob& job : plan)
        if (job.chain)
            largest = std::max(largest, lzma::TChainEncoder::MemoryUse(manifest.files[job.entries.front()].level, job.bytes));
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (largest == 0 || pages <= 0 || pageSize <= 0) return jobs;
    const uint64_t budget = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2;
    return static_cast<size_t>(std::clamp<uint64_t>(budget / largest, 1, std::max<size_t>(jobs, 1)));
}

// Encodes the jobs on `jobs` threads and hands their entries to the writer
// one at a time in manifest order. A worker takes the largest job not yet
// started among the next few the writer waits for, so that the threads end
// together; at most kLookAhead jobs a thread wait at once, so memory stays
// bounded whatever the number of entries. The first failure in the
// writer's order is the one raised, as in a single-threaded build.
class TEntryPipeline {
public:
    TEntryPipeline(const TManifest& manifest, std::vector<TJob> plan, std::vector<TShowProgressEvent> progress,
                   lzma::TLzmaSeed seed, size_t jobs)
        : manifest_(manifest),
          plan_(std::move(plan)),
          progress_(std::move(progress)),
          seed_(seed),
          slots_(plan_.size()),
          jobs_(std::clamp<size_t>(jobs, 1, std::max<size_t>(1, slots_.size()))) {
        for (size_t j = 0; j < plan_.size(); ++j)
            for (size_t k = 0; k < plan_[j].entries.size(); ++k) where_[plan_[j].entries[k]] = {j, k};
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

    // Waits for entry i (taken in manifest order) and returns it; rethrows
    // its job's failure.
    TEncodedEntry Take(size_t i) {
        const auto [job, k] = where_.at(i);
        std::unique_lock lock(mutex_);
        if (job > reach_) {
            reach_ = job;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return slots_[job].done; });
        TSlot& slot = slots_[job];
        if (slot.failure) std::rethrow_exception(slot.failure);
        TEncodedEntry encoded = std::move(slot.encoded[k]);
        if (k + 1 == slot.encoded.size()) slot.encoded.clear();
        return encoded;
    }

private:
    static constexpr size_t kLookAhead = 4;

    struct TSlot {
        std::vector<TEncodedEntry> encoded;
        std::exception_ptr failure;
        bool started = false;
        bool done = false;
    };

    // The largest job not yet started within reach, if any (under the lock).
    std::optional<size_t> NextJob() {
        while (unstarted_ < slots_.size() && slots_[unstarted_].started) ++unstarted_;
        std::optional<size_t> best;
        const size_t end = std::min(slots_.size(), reach_ + kLookAhead * jobs_);
        for (size_t j = unstarted_; j < end; ++j)
            if (!slots_[j].started && (!best || plan_[j].bytes > plan_[*best].bytes)) best = j;
        return best;
    }

    void Work() {
        for (;;) {
            size_t j;
            {
                std::unique_lock lock(mutex_);
                std::optional<size_t> next;
                changed_.wait(lock, [&] { return stopping_ || (next = NextJob()); });
                if (stopping_) return;
                j = *next;
                slots_[j].started = true;
            }
            TSlot slot;
            try {
                slot.encoded = EncodeJob(manifest_, plan_[j], progress_, seed_);
            } catch (...) {
                slot.failure = std::current_exception();
            }
            slot.started = slot.done = true;
            std::lock_guard lock(mutex_);
            slots_[j] = std::move(slot);
            changed_.notify_all();
        }
    }

    const TManifest& manifest_;
    const std::vector<TJob> plan_;
    std::vector<TShowProgressEvent> progress_;
    const lzma::TLzmaSeed seed_;  // of seeded entries: the stub's program
    std::map<size_t, std::pair<size_t, size_t>> where_;  // entry -> its job and its place there
    std::vector<TSlot> slots_;
    const size_t jobs_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t reach_ = 0;      // the furthest job the writer has waited for
    size_t unstarted_ = 0;  // no job before it waits to be started
    bool stopping_ = false;
};

}  // namespace

std::vector<TBuiltEntry> BuildInstaller(const TManifest& manifest, const std::vector<uint8_t>& stub,
                                       TStream& out, const TBuildSettings& settings) {
    RefuseOversizedBuild(manifest, stub);
    const int64_t packageStart = out.Position() + static_cast<int64_t>(stub.size());
    out.Write(stub.data(), stub.size());
    WriteText(out, setup::TitleFieldBytes(manifest.title));
    std::vector<TShowProgressEvent> progress;
    for (size_t i = 0; i < manifest.files.size(); ++i)
        progress.push_back(settings.progress ? settings.progress(manifest.files[i], i) : nullptr);
    std::vector<TBuiltEntry> built;
    {
        std::vector<TJob> plan = PlanJobs(manifest, settings);
        const size_t jobs = JobsMemoryAllows(manifest, plan, settings.jobs);
        TEntryPipeline pipeline(manifest, std::move(plan), std::move(progress), StubSeed(stub), jobs);
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            const TFileEntry& entry = manifest.files[i];
            TEncodedEntry encoded = entry.made ? EncodeMade(entry, settings.make(built)) : pipeline.Take(i);
            WriteEntry(manifest, manifest.files[i], encoded, out);
            built.push_back(std::move(encoded.built));
        }
    }
    WriteText(out, setup::PackageEndBytes(out.Position(), static_cast<uint32_t>(packageStart)));
    return built;
}

}  // namespace vorn::pack
