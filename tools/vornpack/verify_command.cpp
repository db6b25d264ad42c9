#include <cstdio>
#include <string>

#include "compress/exceptions.h"
#include "compress/vorn_codec.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/package_contents.h"

namespace vorn::pack {

int RunVerify(const VerifyOptions& options) {
    size_t checked = 0;
    std::string unchecked;  // one line per entry whose data no sum covers
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        TVornCodec codec;
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
            if (entry.hasHeader && !entry.header.SumIsCompared())
                unchecked += "entry " + std::to_string(entry.index) + " (" +
                             tools::Printable(entry.destination) + "): " + kNotChecked + "\n";
            else
                ++checked;
        };
        WalkPackage(installer, visitor);
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
    const std::string name = tools::Printable(options.installer);
    if (unchecked.empty())
        std::printf("%s: %zu entries, all sound\n", name.c_str(), checked);
    else
        std::printf("%s%s: %zu entries sound, the others not checked\n", unchecked.c_str(), name.c_str(), checked);
    return kExitOk;
}

}  // namespace vorn::pack
