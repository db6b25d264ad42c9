#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <mutex>
#include <thread>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "compress/codec_state.h"
#include "compress/vorn_header.h"
#include "tools/common/output_file.h"
#include "tools/common/progress_bar.h"
#include "tools/vornpack/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/package_builder.h"
#include "tools/vornpack/stub_image.h"

namespace vorn::pack {

namespace {

std::vector<uint8_t> LoadStub(const BuildOptions& options) {
    if (options.stub.empty()) {
        std::vector<uint8_t> stub = CarriedStub();
        if (stub.empty()) throw EVornError("this vornpack carries no installer stub; give one with --stub");
        return stub;
    }
    std::ifstream in(options.stub, std::ios::binary);
    if (!in) throw EVornError("Cannot open file \"" + options.stub + "\"");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t JobsFor(const BuildOptions& options) {
    if (options.jobs > 0) return options.jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

// One bar for the whole build: the entries' progress, counted in source
// bytes, summed across the threads that compress them.
class TotalProgress {
public:
    TotalProgress(const Manifest& manifest, bool quiet) : bar_("building", quiet), draw_(bar_.Handler()) {
        for (const FileEntry& entry : manifest.files) {
            std::error_code error;
            const auto size = std::filesystem::file_size(entry.source, error);
            total_ += error ? 0 : static_cast<int64_t>(size);
        }
    }

    EntryProgress ForEntries() {
        if (!draw_) return {};
        return [this](const FileEntry& entry, size_t) -> TShowProgressEvent {
            std::error_code error;
            const auto size = std::filesystem::file_size(entry.source, error);
            const int64_t bytes = error ? 0 : static_cast<int64_t>(size);
            return [this, bytes, shown = int64_t{0}](int32_t& percent) mutable {
                const int64_t now = bytes * std::clamp(percent, 0, 100) / 100;
                Add(now - shown);
                shown = now;
            };
        };
    }

private:
    void Add(int64_t bytes) {
        std::lock_guard lock(mutex_);
        done_ += bytes;
        int32_t percent = PercentDone(static_cast<int32_t>(done_ >> 10), static_cast<int32_t>(total_ >> 10));
        draw_(percent);
    }

    tools::ProgressBar bar_;
    TShowProgressEvent draw_;
    std::mutex mutex_;
    int64_t total_ = 0;
    int64_t done_ = 0;
};

void PrintSummary(const Manifest& manifest, const std::vector<BuiltEntry>& built, int64_t total) {
    int64_t sizes = 0;
    for (const BuiltEntry& entry : built) {
        sizes += entry.size;
        const char* method = entry.method < CompressionIDs.size() ? CompressionIDs[entry.method] : "as-is";
        std::printf("  %-40s %-5s %10" PRId64 " -> %10" PRIu32 "\n",
                    FromCodePage(entry.destination, manifest.codepage).c_str(), method, entry.size,
                    entry.streamLength);
    }
    std::printf("%zu files, %" PRId64 " bytes in an installer of %" PRId64 " bytes\n", built.size(), sizes, total);
}

}  // namespace

int RunBuild(const BuildOptions& options) {
    try {
        const Manifest manifest = LoadManifest(options.manifest);
        const std::vector<uint8_t> stub = LoadStub(options);
        tools::OutputFile output(options.output);
        std::vector<BuiltEntry> built;
        {
            TotalProgress progress(manifest, options.quiet);
            built = BuildInstaller(manifest, stub, output.Stream(),
                                   {.jobs = JobsFor(options), .progress = progress.ForEntries()});
        }
        const int64_t total = output.Stream().Size();
        output.Commit();
        if (!options.quiet) PrintSummary(manifest, built, total);
        std::printf("%s: written\n", options.output.c_str());
        return kExitOk;
    } catch (const EManifestError& error) {
        std::fprintf(stderr, "vornpack: %s\n", error.what());
        return kExitBadInput;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vornpack: %s: %s\n", options.manifest.c_str(), error.what());
        return kExitBadInput;
    }
}

}  // namespace vorn::pack
