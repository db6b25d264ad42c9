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
#include "tools/vornpack/stub_manifest.h"

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
        std::vector<uint8_t> stub = LoadStub(options);
        SetElevation(stub, manifest.elevation);
        tools::OutputFile output(options.output);
        std::unique_ptr<tools::ProgressBar> bar;
        auto progress = [&](const FileEntry& entry, size_t) {
            bar = std::make_unique<tools::ProgressBar>(entry.source.filename().string(), options.quiet);
            return bar->Handler();
        };
        const auto built = BuildInstaller(manifest, stub, output.Stream(), progress);
        bar.reset();
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
