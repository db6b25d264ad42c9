#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "compress/exceptions.h"
#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/read/package_contents.h"
#include "tools/vornpack/build/uninstall_entries.h"

namespace vorn::pack {

namespace {

struct TInstalled {
    size_t index;
    int64_t size;
    std::string digest;
};

// Why a recorded file is not what the package installs, or empty.
std::string RecordMismatch(const setup::TRecordedFile& file, const std::map<std::string, TInstalled>& installed) {
    const auto found = installed.find(file.destination);
    if (found == installed.end()) return "the uninstall record names " + file.destination + ", which no entry installs";
    if (found->second.size != file.size || found->second.digest != file.digest)
        return "the uninstall record does not match entry " + std::to_string(found->second.index) + " (" +
               file.destination + "): the remover would keep it as changed";
    return "";
}

// What the record says, read a line at a time as its entry expands, each
// file against the entries before it.
struct TRecordCheck {
    explicit TRecordCheck(const std::map<std::string, TInstalled>& installed) : lines(reader) {
        reader.onFile = [&](const setup::TRecordedFile& file) {
            if (mismatch.empty()) mismatch = RecordMismatch(file, installed);
        };
        reader.onLink = [](const setup::TRecordedLink&) {};
    }
    setup::TRecordReader reader;
    TRecordLines lines;
    std::string mismatch;
};

}  // namespace

int RunVerify(const TVerifyOptions& options) {
    size_t checked = 0;
    std::string unchecked;  // one line per entry whose data no sum covers
    size_t uncheckedCount = 0;
    std::map<std::string, TInstalled> installed;  // by destination as written
    std::optional<setup::TUninstallRecord> record;
    std::string mismatch;
    size_t recordedFiles = 0, recordedLinks = 0;
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        TVornCodec codec;
        UseCustomMethods(codec);
        lzma::SetSeed(codec, installer);
        TPackageVisitor visitor;
        visitor.entry = [&](const TPackageEntry& entry, TStream& stream) {
            tools::TProgressBar bar("verifying " + std::to_string(entry.index), options.quiet);
            codec.OnShowProgress = bar.Handler();
            TRecordCheck check(installed);
            TDigestStream expanded(IsRecordEntry(entry) ? &check.lines : nullptr);
            try {
                codec.ExpandStream(expanded, stream);
            } catch (const EVornError& error) {
                throw EVornError("entry " + std::to_string(entry.index) + " (" + entry.destination +
                                 "): " + error.Message);
            }
            installed[entry.destination] = {entry.index, expanded.Size(), expanded.Digest()};
            if (auto found = IsRecordEntry(entry) ? check.lines.Finish() : std::nullopt) {
                record = std::move(found);
                mismatch = check.mismatch;
                recordedFiles = check.reader.Files();
                recordedLinks = check.reader.Links();
            }
            ++checked;
            if (entry.hasHeader && entry.header.SumIsCompared()) return;
            unchecked += "entry " + std::to_string(entry.index) + " (" + tools::Printable(entry.destination) +
                         "): " + (entry.hasHeader ? kNotChecked : "not checked: headerless, copied as it is") + "\n";
            ++uncheckedCount;
        };
        WalkPackage(installer, visitor);
        if (record) {
            if (!mismatch.empty()) throw EVornError(mismatch);
            std::printf("uninstall record: %zu files and %zu shortcuts, every file as the package installs it\n",
                        recordedFiles, recordedLinks);
        }
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
