// The install driver: one whole run of the installer, from start-up through
// the entry loop to the summary box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compress/vorn_codec.h"
#include "setup/folders.h"
#include "setup/install_log.h"
#include "setup/install_options.h"
#include "setup/package_reader.h"
#include "setup/platform.h"

namespace vorn::setup {

// The installer's file name with its extension (from the last ".") replaced.
std::string WithExtension(const std::string& name, const std::string& extension);

class TInstaller {
public:
    explicit TInstaller(TPlatform& platform) : platform_(platform) {}
    ~TInstaller();

    // Runs the installation; returns the exit code: 0 for every run that
    // reaches its summary box, 1 after reporting an unhandled failure; with
    // switches given, one of InstallExit.
    int Run();

private:
    void RunSteps();
    // What the options stub adds (setup/install_options.cpp); the plain
    // stub's driver never calls them, and stays as it was, byte for byte.
    int ExitCode() const;
    int FailureExit();
    // A destination field with its macros replaced, in the product's own
    // folder when /D= moved it.
    std::string Resolved(const std::string& field);
    void OfferShortcutWithOptions(const std::string& field, size_t folder);
    void StartUp();
    std::string InTempFolder(const std::string& extension);
    void OpenLog(const std::string& workFolder);
    void CreateTempFile();
    std::string StartLineNow();
    bool Confirmed();
    void Cancel();
    // false once the loop must stop (end marker or failed extraction).
    bool InstallEntry();
    void Complete();
    void OfferShortcutField(size_t folder);
    bool ShouldExtract();
    // A link of a chain is still expanded, into nothing, for the next one.
    void Skip();
    bool ReplaceAllowed(const std::string& replaceRule);
    // The entry's stream, from the temporary file's start, into its destination.
    bool Extract();
    void RunExtracted();
    void ReleaseRunObjects();
    void Finish();

    TPlatform& platform_;
    std::string modulePath_;
    std::string installerPath_;
    std::string installerName_;
    std::string tempPath_;
    TSystemFolders folders_;
    std::string title_;
    TSummary summary_;
    std::unique_ptr<TInstallLog> log_;
    std::unique_ptr<TVornCodec> codec_;
    std::unique_ptr<TStream> packageStream_;
    std::unique_ptr<TPackageReader> reader_;
    std::unique_ptr<TStream> tempStream_;
    // The entry being installed: its fields as the installer acts on them;
    // its shortcuts are offered as they are read and kept by nobody.
    std::string destination_;
    RunMode runMode_ = RunMode::Never;
    std::string replaceRule_;
    bool hadErrors_ = false;
    std::string runAtEnd_;
#if VORN_INSTALL_OPTIONS
public:
    TInstaller(TPlatform& platform, const TInstallOptions& options) : platform_(platform), options_(options) {}

private:
    const TInstallOptions options_;
    RunEnd end_ = RunEnd::Open;  // what ExitCode tells
    void Ended(RunEnd end) { end_ = end; }
#else
    static constexpr TInstallOptions options_ = kNoInstallOptions;
    void Ended(RunEnd) {}
#endif
};

}  // namespace vorn::setup
