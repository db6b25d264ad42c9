// Signing an installer at build time: an outside command (a code-signing
// tool) run on the finished installer, with no shell in between, and the
// signed result read back as the installer reads itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "tools/common/signal_cleanup.h"

namespace vorn::pack {

// The command failed, or its result lost the package.
class ESigningError : public EVornError {
public:
    using EVornError::EVornError;
};

// Splits a command line into arguments at blanks; single or double quotes
// keep blanks inside an argument and are removed. Nothing else is special.
std::vector<std::string> SplitCommandLine(const std::string& line);

// "{in}" or "{out}" when no argument holds it, else empty: a command that
// does not name both files cannot sign the installer.
std::string MissingPlaceholder(const std::vector<std::string>& args);

// Every "{in}", "{out}" and "{title}" inside each argument, replaced.
std::vector<std::string> SubstitutePlaceholders(std::vector<std::string> args, const std::string& in,
                                                const std::string& out, const std::string& title);

// A private folder (mode 0700, unpredictable name) holding the unsigned
// installer, the signed one and the command's output; removed with
// everything in it when this object goes, or when a signal ends vornpack.
class TSigningArea {
public:
    // otherFiles: names of files the owner keeps there too (PathOf).
    explicit TSigningArea(const std::vector<std::string>& otherFiles = {});
    ~TSigningArea();
    TSigningArea(const TSigningArea&) = delete;
    TSigningArea& operator=(const TSigningArea&) = delete;

    std::string UnsignedPath() const { return (folder_ / "unsigned.exe").string(); }
    std::string SignedPath() const { return (folder_ / "signed.exe").string(); }
    std::string OutputPath() const { return (folder_ / "command.txt").string(); }
    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path folder_;
    std::optional<tools::TRemovedOnSignal> onSignal_;
};

// What the signer did instead of signing, or empty when its output is the
// unsigned installer, byte for byte apart from the header checksum and the
// certificate directory, with a certificate table at its end that holds a
// PKCS#7 signature.
std::string SignedOutputProblem(TStream& unsignedFile, TStream& signedFile);

// Runs the command (placeholders already substituted) on a program at the
// area's unsigned path, as SignInstaller does, and checks that it signed it
// at the signed path; `what` names the program in messages.
void SignProgram(const std::vector<std::string>& command, const TSigningArea& area, std::chrono::seconds timeLimit,
                 const std::string& what);

// Runs the command (placeholders already substituted) in a process group of
// its own, waits for it up to timeLimit (then ends the group), and returns
// the size of the certificate table of the signed installer, which
// must still hold a package that reads to its end marker. Raises
// ESigningError naming the program and quoting what it printed.
uint32_t SignInstaller(const std::vector<std::string>& command, const TSigningArea& area,
                       std::chrono::seconds timeLimit);

}  // namespace vorn::pack
