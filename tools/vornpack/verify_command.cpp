#include <cstdio>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"
#include "tools/common/progress_bar.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/package_contents.h"

namespace vorn::pack {

int RunVerify(const VerifyOptions& options) {
    size_t checked = 0;
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        TVornCodec codec;
        lzma::UseLzmaMethod(codec);
        PackageVisitor visitor;
        visitor.entry = [&](const PackageEntry& entry, TStream& stream) {
            tools::ProgressBar bar("verifying " + std::to_string(entry.index), options.quiet);
            codec.OnShowProgress = bar.Handler();
            TNullStream nothing;
            try {
                codec.ExpandStream(nothing, stream);
            } catch (const EVornError& error) {
                throw EVornError("entry " + std::to_string(entry.index) + " (" + entry.destination +
                                 "): " + error.Message);
            }
            ++checked;
        };
        WalkPackage(installer, visitor);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vornpack: %s: %s\n", options.installer.c_str(), error.what());
        return kExitBadInput;
    }
    std::printf("%s: %zu entries, all sound\n", options.installer.c_str(), checked);
    return kExitOk;
}

}  // namespace vorn::pack
