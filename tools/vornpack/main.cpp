// vornpack: builds installers from a manifest; lists, verifies and
// extracts existing ones. Exit codes: 0 ok, 1 bad input, 2 usage.
#include <CLI/CLI.hpp>

#include <stdexcept>

#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/commands.h"

using namespace vorn::pack;

namespace {

const CLI::Validator kCodePage(
    [](std::string& codepage) {
        try {
            CheckCodePage(codepage);
            return std::string();
        } catch (const std::invalid_argument& error) {
            return std::string(error.what());
        }
    },
    "874|1250..1258");

// The code page the installer's texts are read in, for the commands that read one.
void AddCodePage(CLI::App& command, std::string& codepage) {
    command.add_option("--codepage", codepage, "code page of the texts")->capture_default_str()->check(kCodePage);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Build, list, verify and extract vorn installers", "vornpack"};
    app.set_version_flag("--version", "vornpack " VORN_VERSION);
    app.require_subcommand(1);

    TBuildOptions build;
    auto* buildCommand = app.add_subcommand("build", "Build an installer from a manifest");
    buildCommand->add_option("MANIFEST", build.manifest, "the manifest (TOML)")->required();
    buildCommand->add_option("-o,--output", build.output, "the installer to write; - for stdout")->capture_default_str();
    buildCommand->add_option("--stub", build.stub, "use this stub (a GUI program of the manifest's arch), not the carried one");
    buildCommand->add_option("--sign-command", build.signCommand,
                             "sign with this command, e.g. \"osslsigncode sign ... -in {in} -out {out}\" (no shell: "
                             "split at blanks, quotes group)");
    buildCommand->add_option("-j,--jobs", build.jobs, "entries compressed at once (default: one per core)")
        ->check(CLI::PositiveNumber);
    buildCommand->add_flag("-q,--quiet", build.quiet, "print only errors and the result");

    TListOptions list;
    auto* listCommand = app.add_subcommand("list", "Show an installer's title and entries");
    listCommand->add_option("INSTALLER", list.installer)->required();
    listCommand->add_flag("--json", list.json, "as JSON");
    AddCodePage(*listCommand, list.codepage);

    TVerifyOptions verify;
    auto* verifyCommand = app.add_subcommand("verify", "Check every field and checksum of an installer");
    verifyCommand->add_option("INSTALLER", verify.installer)->required();
    verifyCommand->add_flag("-q,--quiet", verify.quiet, "no progress bar");

    TExtractOptions extract;
    auto* extractCommand = app.add_subcommand("extract", "Write an installer's files under a folder");
    extractCommand->add_option("INSTALLER", extract.installer)->required();
    extractCommand->add_option("-C,--directory", extract.directory, "target folder")->capture_default_str();
    AddCodePage(*extractCommand, extract.codepage);
    extractCommand->add_flag("--overwrite", extract.overwrite, "replace files already in the target folder");
    extractCommand->add_flag("-q,--quiet", extract.quiet, "print only errors and the result");

    TWingetOptions winget;
    auto* wingetCommand = app.add_subcommand("winget", "Print a winget installer manifest for a quiet installer");
    wingetCommand->add_option("INSTALLER", winget.installer)->required();
    wingetCommand->add_option("--url", winget.url, "the address the catalog downloads the installer from");
    AddCodePage(*wingetCommand, winget.codepage);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    if (*buildCommand) return RunBuild(build);
    if (*listCommand) return RunList(list);
    if (*verifyCommand) return RunVerify(verify);
    if (*wingetCommand) return RunWinget(winget);
    return RunExtract(extract);
}
