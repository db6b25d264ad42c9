#include <cstdio>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/package_contents.h"

namespace vorn::pack {

int RunVerify(const TVerifyOptions& options) {
    size_t checked = 0;
    std::string unchecked;  // one line per entry whose data no sum covers
    size_t uncheckedCount = 0;
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        TVornCodec codec;
        lzma::UseLzmaMethod(codec);
        TPackageVisitor visitor;
        visitor.entry = [&](const TPackageEntry& entry, TStream& stream) {
            tools::TProgressBar bar("verifying " + std::to_string(entry.index), options.quiet);
            codec.OnShowProgress = bar.Handler();
            TNullStream nothing;
            try {
                codec.ExpandStream(nothing, stream);
            } catch (const EVornError& error) {
                throw EVornError("entry " + std::to_string(entry.index) + " (" + entry.destination +
                                 "): " + error.Message);
            }
            ++checked;
            if (entry.hasHeader && entry.header.SumIsCompared()) return;
            unchecked += "entry " + std::to_string(entry.index) + " (" + tools::Printable(entry.destination) +
                         "): " + (entry.hasHeader ? kNotChecked : "not checked: headerless, copied as it is") + "\n";
            ++uncheckedCount;
        };
        WalkPackage(installer, visitor);
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
    const std::string name = tools::Printable(options.installer);
    if (unchecked.empty())
        std::printf("%s: %zu entries, all sound\n", name.c_str(), checked);
    else
        std::printf("%s%s: %zu entries, %zu not checked\n", unchecked.c_str(), name.c_str(), checked, uncheckedCount);
    return kExitOk;
}

}  // namespace vorn::pack
