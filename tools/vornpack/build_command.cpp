#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>

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

void PrintSummary(FILE* to, const Manifest& manifest, const std::vector<BuiltEntry>& built, int64_t total) {
    int64_t sizes = 0;
    for (const BuiltEntry& entry : built) {
        sizes += entry.size;
        const char* method = entry.method < CompressionIDs.size() ? CompressionIDs[entry.method] : "as-is";
        std::fprintf(to, "  %-40s %-5s %10" PRId64 " -> %10" PRIu32 "\n",
                    FromCodePage(entry.destination, manifest.codepage).c_str(), method, entry.size,
                    entry.streamLength);
    }
    std::fprintf(to, "%zu files, %" PRId64 " bytes in an installer of %" PRId64 " bytes\n", built.size(), sizes, total);
}

// Writing the installer over the manifest or a source would destroy it
// (compared by device and inode, so links and other spellings count too).
void RefuseOutputOverInput(const Manifest& manifest, const std::string& output) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0) return;
    auto same = [&](const std::filesystem::path& input) {
        struct stat in {};
        return ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
    };
    if (same(manifest.path)) throw EManifestError(output + ": the output would overwrite the manifest");
    for (const FileEntry& entry : manifest.files)
        if (same(entry.source))
            throw EManifestError(output + ": the output would overwrite the source of the entry at line " +
                                 std::to_string(entry.line));
}

}  // namespace

int RunBuild(const BuildOptions& options) {
    try {
        const Manifest manifest = LoadManifest(options.manifest);
        const std::vector<uint8_t> stub = LoadStub(options);
        RefuseOutputOverInput(manifest, options.output);
        tools::OutputFile output(options.output, tools::OutputAccess::Seekable);
        std::unique_ptr<tools::ProgressBar> bar;
        auto progress = [&](const FileEntry& entry, size_t) {
            bar = std::make_unique<tools::ProgressBar>(entry.source.filename().string(), options.quiet);
            return bar->Handler();
        };
        const auto built = BuildInstaller(manifest, stub, output.Stream(), progress);
        bar.reset();
        const int64_t total = output.Stream().Size();
        output.Commit();
        FILE* report = output.IsStandardOutput() ? stderr : stdout;
        if (!options.quiet) PrintSummary(report, manifest, built, total);
        std::fprintf(report, "%s: written\n", options.output.c_str());
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
