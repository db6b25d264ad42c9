// What an installer built with [install] keys does beyond its defined
// behaviour: the settings vornpack writes into the stub's resource, the
// switches it is started with, and the options the install driver is given.
// Only the options stub (vornsetup_options.exe) is built with
// VORN_INSTALL_OPTIONS; the plain stub's driver sees kNoInstallOptions, a
// constant, so every check of an option folds away and it stays as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "setup/failure_report.h"
#include "setup/platform.h"

#ifndef VORN_INSTALL_OPTIONS
#define VORN_INSTALL_OPTIONS 0
#endif

namespace vorn::setup {

inline constexpr bool kInstallOptions = VORN_INSTALL_OPTIONS != 0;

// The settings resource: RT_RCDATA number 1, a byte of flags, then the
// [uninstall] folder as the manifest writes it (the folder /D= moves), in
// the package's code page; empty without [uninstall].
inline constexpr uint16_t kSettingsResourceType = 10;  // RT_RCDATA
inline constexpr uint16_t kSettingsResourceId = 1;
enum SettingsFlag : uint8_t { kSwitchesFlag = 1, kKeepCaseFlag = 2, kAllUsersFlag = 4 };

// The exit codes of an installer started with switches.
enum InstallExit : int {
    kInstallDone = 0,
    kInstallFailed = kFailureExitCode,  // an unhandled failure, or the extraction failed
    kInstallWithErrors = 2,             // completed, but a file in use stayed or a shortcut was not saved
    kInstallNotStarted = 3,             // an unknown or malformed switch, or No to the first question
};

// The names of the switches, matched without regard to case.
inline constexpr std::string_view kSilentSwitch = "/S";
inline constexpr std::string_view kFolderSwitch = "/D=";
inline constexpr std::string_view kLogSwitch = "/LOG=";
// The all-users shell folders are the user's names behind this prefix.
inline constexpr std::string_view kCommonFolderPrefix = "Common ";

// The shell folder of a shortcut field (an index into kShortcutFolders),
// the machine's for all-users shortcuts. Defined out of line, as is all
// this header declares: code here would be compiled into the plain stub's
// translation units and could move its functions about.
std::string ShortcutFolderName(size_t folder, bool allUsers);

// Views into the settings resource and the command line, which live as
// long as the process.
struct TInstallOptions {
    bool switches = false;           // the installer accepts switches
    bool keepCase = false;           // destinations keep the manifest's case
    bool allUsersShortcuts = false;  // shortcuts into the machine's common shell folders
    std::string_view productFolder;  // the [uninstall] folder as written; empty without one
    bool switched = false;           // switches were given: the exit code tells what happened
    bool quiet = false;              // /S
    std::string_view installFolder;  // /D=, where the product folder goes instead
    std::string_view logPath;        // /LOG=
};
inline constexpr TInstallOptions kNoInstallOptions{};

// The settings resource's bytes, and the options they give.
std::string SettingsBytes(const TInstallOptions& settings);
TInstallOptions ReadSettings(std::string_view bytes);

// What is wrong with a switch: the reason (null: nothing) and the switch.
struct TSwitchProblem {
    const char* reason = nullptr;
    std::string_view argument;
    std::string Text() const;
};

// Reads the switches of a command line (without the program's name) into
// options. /D= is the last switch and takes the rest of the line, blanks
// included; a switch in double quotes may hold blanks too.
TSwitchProblem ParseSwitches(std::string_view arguments, TInstallOptions& options);

// destination, when it lies in the expanded product folder, moved into the
// install folder; else as it is. Letters compare without regard to case.
std::string MovedInto(const std::string& destination, const std::string& productFolder,
                      std::string_view installFolder);

// How a run ended: still open when a failure or a failed extraction
// stopped it.
enum class RunEnd { Open, Cancelled, Clean, WithErrors };

// The options stub's run: the settings, then the switches (ignored unless
// the settings accept them), then the installation; a switch that cannot
// be followed stops it before anything is written.
int RunWithOptions(TPlatform& platform, std::string_view arguments, std::string_view settings);

}  // namespace vorn::setup
