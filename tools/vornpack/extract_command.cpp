#include <cstdio>
#include <filesystem>
#include <string>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_method.h"
#include "compress/vorn_codec.h"
#include "setup/folders.h"
#include "tools/common/output_file.h"
#include "tools/common/progress_bar.h"
#include "tools/vornpack/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/package_contents.h"

namespace vorn::pack {

namespace {

// The installer's folders under readable names.
std::string ResolveMacros(std::string path) {
    const std::string head = path.substr(0, 3);
    if (head == "<w>") path = "windows" + path.substr(3);
    else if (head == "<s>") path = "windows\\system" + path.substr(3);
    else if (head == "<p>") path = "program files" + path.substr(3);
    else if (path.size() >= 2 && path[1] == ':') path = path.substr(0, 1) + "\\" + path.substr(2);
    else path = "installer drive\\" + path;
    const size_t stamp = path.find("<u>");
    if (stamp != std::string::npos) path.replace(stamp, 3, "date stamp");
    return path;
}

}  // namespace

std::string ExtractPath(const std::string& destination, const std::string& codepage) {
    const std::string path = ResolveMacros(setup::Lowercase(setup::Trim(destination)));
    std::filesystem::path out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        for (char& c : part)
            if (c == ':' || static_cast<unsigned char>(c) < 32) c = '_';
        if (!part.empty() && part != "." && part != "..") out /= FromCodePage(part, codepage);
        start = end + 1;
    }
    return out.string();
}

int RunExtract(const ExtractOptions& options) {
    size_t written = 0;
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        TVornCodec codec;
        lzma::UseLzmaMethod(codec);
        PackageVisitor visitor;
        visitor.entry = [&](const PackageEntry& entry, TStream& stream) {
            const std::string relative = ExtractPath(entry.destination, options.codepage);
            if (relative.empty())
                throw EVornError("entry " + std::to_string(entry.index) + " has no file name");
            const std::filesystem::path target = std::filesystem::path(options.directory) / relative;
            std::filesystem::create_directories(target.parent_path());
            tools::ProgressBar bar(relative, options.quiet);
            codec.OnShowProgress = bar.Handler();
            tools::OutputFile output(target.string());
            try {
                codec.ExpandStream(output.Stream(), stream);
            } catch (const EVornError& error) {
                throw EVornError("entry " + std::to_string(entry.index) + " (" + relative + "): " + error.Message);
            }
            output.Commit();
            if (!options.quiet) std::printf("%s\n", target.string().c_str());
            ++written;
        };
        WalkPackage(installer, visitor);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vornpack: %s: %s\n", options.installer.c_str(), error.what());
        return kExitBadInput;
    }
    std::printf("%zu files extracted into %s\n", written, options.directory.c_str());
    return kExitOk;
}

}  // namespace vorn::pack
