#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

#include "compress/events.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/vorn_header.h"
#include "tools/vornpack/pe/resource_section.h"
#include "tools/common/buffered_stream.h"
#include "tools/common/output_file.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/build/package_builder.h"
#include "tools/vornpack/build/signing.h"
#include "tools/vornpack/build/source_file.h"
#include "tools/vornpack/pe/stub_image.h"
#include "tools/vornpack/pe/execution_level.h"
#include "tools/vornpack/pe/stub_rewrite.h"
#include "tools/vornpack/build/uninstall_entries.h"

namespace vorn::pack {

namespace {

// Past this a --stub is refused before it is read: the carried stubs take
// about 120 KB, and an installer's program has no use for megabytes.
constexpr int64_t kMaxStubSize = int64_t{4} << 20;

// A --stub that cannot be read or cannot be an installer's program.
class EStubError : public EVornError {
public:
    using EVornError::EVornError;
};

std::vector<uint8_t> LoadStub(const TBuildOptions& options, const TManifest& manifest) {
    const TArchitecture& arch = *manifest.arch;
    if (options.stub.empty()) {
        std::vector<uint8_t> stub = CarriedStub(arch, manifest.install.Any() ? StubKind::Options : StubKind::Plain);
        if (stub.empty())
            throw EVornError(std::string("this vornpack carries no ") + arch.name + " installer stub; give one with --stub");
        return stub;
    }
    std::error_code error;
    if (std::filesystem::is_directory(options.stub, error))
        throw EStubError("--stub \"" + options.stub + "\": a folder, not a program");
    std::vector<uint8_t> stub;
    try {
        stub = ReadCapped(options.stub, kMaxStubSize, "the stub");
    } catch (const ESourceError& problem) {
        throw EStubError("--stub " + problem.Message);
    } catch (const EStreamError&) {
        throw EStubError("--stub \"" + options.stub + "\": cannot be read");
    }
    const std::string problem = StubProblem(stub, arch);
    if (!problem.empty())
        throw EStubError("--stub \"" + options.stub + "\" cannot be the installer's program: " + problem);
    return stub;
}

std::vector<std::string> SignCommand(const TBuildOptions& options, const TManifest& manifest) {
    if (options.signCommand.empty()) return manifest.signCommand;
    std::vector<std::string> command = SplitCommandLine(options.signCommand);
    const std::string missing = MissingPlaceholder(command);
    if (!missing.empty()) throw ESigningError("--sign-command must name the installer's file with " + missing);
    return command;
}

// Builds the installer into the signing area, signs it there and copies the
// signed file into the output; returns the certificate table's size.
uint32_t BuildSigned(const TManifest& manifest, const std::vector<uint8_t>& stub,
                     const std::vector<std::string>& command, const TBuildSettings& settings, TStream& out,
                     std::vector<TBuiltEntry>& built) {
    TSigningArea area;
    {
        TFileStream file(area.UnsignedPath(), FileMode::Create);
        tools::TBufferedStream buffered(file);
        built = BuildInstaller(manifest, stub, buffered, settings);
        buffered.Flush();
    }
    const uint32_t signature = SignInstaller(
        SubstitutePlaceholders(command, area.UnsignedPath(), area.SignedPath(),
                               FromCodePage(manifest.title, manifest.codepage)),
        area, manifest.signTimeLimit);
    TFileStream signedFile(area.SignedPath(), FileMode::OpenRead);
    out.CopyFrom(signedFile, signedFile.Size());
    return signature;
}

size_t JobsFor(const TBuildOptions& options) {
    if (options.jobs > 0) return options.jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

// One bar for the whole build: the entries' progress, counted in source
// bytes, summed across the threads that compress them.
class TTotalProgress {
public:
    TTotalProgress(const TManifest& manifest, bool quiet) : bar_("building", quiet), draw_(bar_.Handler()) {
        for (const TFileEntry& entry : manifest.files) {
            std::error_code error;
            const auto size = std::filesystem::file_size(entry.source, error);
            sizes_.push_back(error ? 0 : static_cast<int64_t>(size));
            total_ += sizes_.back();
        }
    }

    EntryProgress ForEntries() {
        if (!draw_) return {};
        return [this](const TFileEntry&, size_t index) -> TShowProgressEvent {
            return [this, bytes = sizes_[index], shown = int64_t{0}](int32_t& percent) mutable {
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

    tools::TProgressBar bar_;
    TShowProgressEvent draw_;
    std::mutex mutex_;
    std::vector<int64_t> sizes_;  // of the sources, in manifest order
    int64_t total_ = 0;
    int64_t done_ = 0;
};

void PrintSummary(FILE* to, const TManifest& manifest, const std::vector<TBuiltEntry>& built, int64_t total) {
    int64_t sizes = 0;
    for (const TBuiltEntry& entry : built) {
        sizes += entry.size;
        const char* method = entry.method == kHeaderless ? "as-is" : tools::WrittenId(entry.method);
        std::fprintf(to, "  %-40s %-5s %10" PRId64 " -> %10" PRIu32 "\n",
                    FromCodePage(entry.destination, manifest.codepage).c_str(), method, entry.size,
                    entry.streamLength);
    }
    std::fprintf(to, "%zu files, %" PRId64 " bytes in an installer of %" PRId64 " bytes\n", built.size(), sizes, total);
}

// Writing the installer over the manifest, a source, the icon or the stub
// would destroy it (compared by device and inode, so links and other
// spellings count too).
void RefuseOutputOverInput(const TManifest& manifest, const std::string& stub, const std::string& output) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0) return;
    auto same = [&](const std::filesystem::path& input) {
        struct stat in {};
        return ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
    };
    if (same(manifest.path)) throw EManifestError(output + ": the output would overwrite the manifest");
    if (!manifest.iconPath.empty() && same(manifest.iconPath))
        throw EManifestError(output + ": the output would overwrite the icon");
    if (!stub.empty() && same(stub)) throw EManifestError(output + ": the output would overwrite the stub (--stub)");
    for (const TFileEntry& entry : manifest.files)
        if (same(entry.source))
            throw EManifestError(output + ": the output would overwrite the source of the entry at line " +
                                 std::to_string(entry.line));
}

}  // namespace

int RunBuild(const TBuildOptions& options) {
    try {
        TManifest manifest = LoadManifest(options.manifest);
        for (const std::string& warning : manifest.warnings)
            std::fprintf(stderr, "vornpack: warning: %s\n", tools::Printable(warning).c_str());
        if (!options.quiet)
            for (const std::string& note : manifest.notes)
                std::fprintf(stderr, "vornpack: note: %s\n", tools::Printable(note).c_str());
        std::vector<uint8_t> stub = LoadStub(options, manifest);
        try {
            SetElevation(stub, manifest.elevation);
            ApplyFace(manifest, stub);
            ApplyInstallSettings(manifest, stub);
            ClearPeChecksum(stub);
        } catch (const EPeImageError& error) {
            throw EStubError("--stub \"" + options.stub + "\" cannot take an icon or version information: " +
                             error.Message);
        } catch (const EVornError& error) {
            throw EStubError("--stub \"" + options.stub + "\": " + error.Message);
        }
        RefuseOutputOverInput(manifest, options.stub, options.output);
        tools::TOutputFile output(options.output);  // entries are written whole: no seeking back
        const std::vector<std::string> command = SignCommand(options, manifest);
        std::optional<TUninstallFiles> uninstall;
        if (manifest.uninstall) {
            uninstall.emplace(manifest, command);
            for (TFileEntry& entry : uninstall->Entries(manifest)) manifest.files.push_back(std::move(entry));
        }
        std::vector<TBuiltEntry> built;
        uint32_t signature = 0;
        {
            TTotalProgress progress(manifest, options.quiet);
            const TBuildSettings settings{.jobs = JobsFor(options), .progress = progress.ForEntries(),
                                          .make = [&](const std::vector<TBuiltEntry>& before) {
                                              return setup::RecordText(UninstallRecord(manifest, before));
                                          }};
            if (command.empty())
                built = BuildInstaller(manifest, stub, output.Stream(), settings);
            else
                signature = BuildSigned(manifest, stub, command, settings, output.Stream(), built);
        }
        const int64_t total = output.Stream().Size();
        output.Commit();
        FILE* report = output.IsStandardOutput() ? stderr : stdout;
        if (!options.quiet) PrintSummary(report, manifest, built, total);
        if (!command.empty())
            std::fprintf(report, "%s: signed by %s, %" PRIu32 " bytes of signature\n", options.output.c_str(),
                         command[0].c_str(), signature);
        std::fprintf(report, "%s: written\n", options.output.c_str());
        return kExitOk;
    } catch (const ESigningError& error) {
        return tools::ReportFailure("vornpack", options.output, error);
    } catch (const EStubError& error) {
        std::fprintf(stderr, "vornpack: %s\n", tools::Printable(error.what()).c_str());
        return kExitBadInput;
    } catch (const EManifestError& error) {
        std::fprintf(stderr, "vornpack: %s\n", tools::Printable(error.what()).c_str());
        return kExitBadInput;
    } catch (const std::bad_alloc&) {  // the library's words name nothing the user could act on
        return tools::ReportFailure("vornpack", options.manifest,
                                    std::runtime_error("not enough memory to build this installer"));
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.manifest, error);
    }
}

}  // namespace vorn::pack
