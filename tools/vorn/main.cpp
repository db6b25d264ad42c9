// vorn: compress, expand and describe single VORN streams.
// Exit codes: 0 success, 1 bad input (missing file, damaged stream, wrong
// key), 2 usage error.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "tools/common/method_writer.h"
#include "tools/vorn/commands.h"

using namespace vorn::tools;

namespace {

void AddKeyOption(CLI::App& command, int32_t& key) {
    command.add_option_function<std::string>(
               "-k,--key",
               [&key](const std::string& text) {
                   try {
                       key = ParseKey(text);
                   } catch (const std::exception& error) {
                       throw CLI::ValidationError("--key", error.what());
                   }
               },
               "32-bit key, decimal or 0x hexadecimal; 0 means none")
        ->type_name("KEY");
}

// "non, rle, lzh, lh5 or lzma": the methods vorn writes.
std::string MethodChoices() {
    const std::vector<std::string> names = WritableMethodNames();
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : i + 1 < names.size() ? ", " : " or ") + names[i];
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Compress, expand and describe VORN streams", "vorn"};
    app.set_version_flag("--version", "vorn " VORN_VERSION);
    app.require_subcommand(1);

    TCompressOptions compress;
    auto* compressCommand = app.add_subcommand("compress", "Compress IN into the stream OUT");
    compressCommand->add_option("-m,--method", compress.method, MethodChoices())
        ->check(CLI::IsMember(WritableMethodNames()))
        ->capture_default_str();
    auto* levelOption = compressCommand->add_option("-l,--level", compress.level, "lzma's level, 0 (fast) to 9 (small)")
                            ->check(CLI::Range(0, 9))
                            ->capture_default_str();
    AddKeyOption(*compressCommand, compress.key);
    compressCommand->add_flag("-q,--quiet", compress.quiet, "No progress bar");
    compressCommand->add_option("IN", compress.input)->required();
    compressCommand->add_option("OUT", compress.output, "the stream to write; - for stdout")->required();

    TExpandOptions expand;
    auto* expandCommand = app.add_subcommand("expand", "Expand the stream IN into OUT");
    AddKeyOption(*expandCommand, expand.key);
    expandCommand->add_flag("-q,--quiet", expand.quiet, "No progress bar");
    expandCommand->add_option("IN", expand.input)->required();
    expandCommand->add_option("OUT", expand.output, "the file to write; - for stdout")->required();

    TInfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Show the header of the stream FILE");
    infoCommand->add_option("FILE", info.input)->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    if (levelOption->count() > 0 && !MethodNamed(compress.method)->HasLevels()) {
        std::fprintf(stderr, "--level: only -m lzma has levels\n");
        return kExitUsage;
    }
    if (*compressCommand) return RunCompress(compress);
    if (*expandCommand) return RunExpand(expand);
    return RunInfo(info);
}
