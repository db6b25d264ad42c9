#include "tools/vornpack/build/signing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "compress/byte_order.h"
#include "setup/pe_image.h"
#include "tools/vornpack/read/package_contents.h"

extern char** environ;

namespace vorn::pack {

namespace {

constexpr size_t kQuotedOutput = 2000;  // the tail of what the command printed

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string CommandOutput(const TSigningArea& area) {
    std::ifstream in(area.OutputPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string output = text.str();
    if (output.size() > kQuotedOutput) output = "..." + output.substr(output.size() - kQuotedOutput);
    while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back()))) output.pop_back();
    return output.empty() ? "(it printed nothing)" : output;
}

// The signer's output as it comes: only its end is kept, so that a command
// that prints without end costs no memory.
class TOutputTail {
public:
    void Add(const char* bytes, size_t n) {
        text_.append(bytes, n);
        if (text_.size() > 2 * kKept) text_.erase(0, text_.size() - kKept);
    }
    const std::string& Text() const { return text_; }

private:
    static constexpr size_t kKept = 2 * kQuotedOutput;  // CommandOutput marks what was cut
    std::string text_;
};

// A pipe for the signer's output; the read end never blocks.
class TOutputPipe {
public:
    TOutputPipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw ESigningError("cannot make a pipe for the signing command: " + std::string(std::strerror(errno)));
        read_ = ends[0];
        write_ = ends[1];
        ::fcntl(read_, F_SETFL, O_NONBLOCK);
    }
    ~TOutputPipe() {
        ::close(read_);
        CloseWriteEnd();
    }
    TOutputPipe(const TOutputPipe&) = delete;
    TOutputPipe& operator=(const TOutputPipe&) = delete;

    int WriteEnd() const { return write_; }
    void CloseWriteEnd() {
        if (write_ >= 0) ::close(write_);
        write_ = -1;
    }
    // Reads what is there, a few blocks at most; true when more may be waiting.
    bool ReadAvailable(TOutputTail& tail) {
        char block[1 << 16];
        for (int i = 0; i < 16; ++i) {
            const ssize_t got = ::read(read_, block, sizeof block);
            closed_ = closed_ || got == 0;
            if (got <= 0) return false;
            tail.Add(block, static_cast<size_t>(got));
        }
        return true;
    }
    // Waits up to `wait` for output, and reads it; once every writer has
    // closed the pipe, only waits.
    void Await(TOutputTail& tail, std::chrono::milliseconds wait) {
        if (closed_) {
            std::this_thread::sleep_for(wait);
            return;
        }
        pollfd ready{read_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(wait.count())) > 0) ReadAvailable(tail);
    }

private:
    int read_ = -1;
    int write_ = -1;
    bool closed_ = false;  // every writer is gone
};

// Starts the command in a process group of its own, reading nothing, its
// output and errors going to outputFd.
pid_t StartInOwnGroup(const std::vector<std::string>& command, int outputFd) {
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);  // vornpack blocks signals while it starts the command
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw ESigningError("cannot start the signing command \"" + command[0] + "\": " + std::strerror(error));
    return pid;
}

// The signing command in its own process group, which ends with everything
// the command started when this object goes, whatever the way out. The
// command is reaped only then, so that its group id cannot pass to another
// process before the group is ended.
class TSignerProcess {
public:
    TSignerProcess(const std::vector<std::string>& command, int outputFd)
        : group_([&] { return StartInOwnGroup(command, outputFd); }) {}
    ~TSignerProcess() {
        ::kill(-group_.Group(), SIGKILL);
        while (::waitpid(group_.Group(), nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    TSignerProcess(const TSignerProcess&) = delete;
    TSignerProcess& operator=(const TSignerProcess&) = delete;

    // The exit status once the command has ended (128 + N for signal N);
    // nothing while it runs.
    std::optional<int> Status(const std::string& name) const {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(group_.Group()), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            if (errno == EINTR) return std::nullopt;
            throw ESigningError("lost the signing command \"" + name + "\"");
        }
        if (info.si_pid != group_.Group()) return std::nullopt;
        return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    }

private:
    tools::TGroupEndedOnSignal group_;
};

std::string Seconds(std::chrono::seconds limit) {
    return std::to_string(limit.count()) + (limit.count() == 1 ? " second" : " seconds");
}

// Runs the command within the time limit and returns its exit status; the
// end of its output goes to the area.
int Run(const std::vector<std::string>& command, const TSigningArea& area, std::chrono::seconds limit) {
    constexpr std::chrono::milliseconds kPollInterval{100};
    TOutputPipe output;
    TOutputTail tail;
    std::optional<int> status;
    {
        TSignerProcess signer(command, output.WriteEnd());
        output.CloseWriteEnd();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!(status = signer.Status(command[0])) && std::chrono::steady_clock::now() < deadline)
            output.Await(tail, kPollInterval);
    }
    while (output.ReadAvailable(tail)) {
    }
    std::ofstream(area.OutputPath(), std::ios::binary) << tail.Text();
    if (!status)
        throw ESigningError("the signing command \"" + command[0] + "\" did not finish within " + Seconds(limit) +
                            " ([sign] timeout); vornpack ended it and what it started: " + CommandOutput(area));
    return *status;
}

// WIN_CERTIFICATE, the head of each entry of a certificate table.
constexpr size_t kWinCertificateSize = 8;
constexpr uint16_t kWinCertificateRevision = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr size_t kCompareBlock = 64 << 10;

// The first offset below `length` where the files differ, leaving out the
// byte ranges that signing sets; -1 when none does.
int64_t FirstDifference(TStream& a, TStream& b, int64_t length,
                        const std::vector<std::pair<int64_t, int64_t>>& setBySigning) {
    std::vector<uint8_t> left(kCompareBlock), right(kCompareBlock);
    a.Seek(0), b.Seek(0);
    for (int64_t at = 0; at < length; at += kCompareBlock) {
        const auto n = static_cast<size_t>(std::min<int64_t>(kCompareBlock, length - at));
        if (a.Read(left.data(), n) != n || b.Read(right.data(), n) != n) return at;
        for (const auto& [from, size] : setBySigning)
            for (int64_t i = std::max(from, at); i < std::min(from + size, at + int64_t(n)); ++i)
                left[size_t(i - at)] = right[size_t(i - at)] = 0;
        const auto differ = std::mismatch(left.begin(), left.begin() + n, right.begin());
        if (differ.first != left.begin() + n) return at + (differ.first - left.begin());
    }
    return -1;
}

std::string Hex(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

std::string SignedOutputProblem(TStream& unsignedFile, TStream& signedFile) {
    const setup::TPeHeaders pe = setup::ReadPeHeaders(signedFile);
    const int64_t length = unsignedFile.Size();
    const int64_t size = signedFile.Size();
    const int64_t directories = pe.OptionalAt() + setup::pe::DirectoriesAt(pe.optionalMagic);
    const std::vector<std::pair<int64_t, int64_t>> setBySigning = {
        {pe.OptionalAt() + setup::pe::kChecksumField, 4},
        {directories + setup::pe::kCertificateDirectory * setup::pe::kDirectoryEntrySize, 8}};
    const setup::TDataDirectory table = pe.Certificate();
    const int64_t differs = FirstDifference(unsignedFile, signedFile, std::min(length, size), setBySigning);
    if (table.address == 0 && table.size == 0) {
        if (differs >= 0) return "it changed the program at offset " + Hex(differs) + " and added no signature";
        if (size == length) return "it copied the program unchanged: there is no signature";
        if (size > length) return "it appended " + std::to_string(size - length) + " bytes but no certificate table";
        return "its output is shorter than the program and carries no signature";
    }
    if (int64_t{table.address} + table.size > size) return "its certificate table lies outside the file";
    if (int64_t{table.address} + table.size < size) return "its certificate table is not at the end of the file";
    if (table.address != length)
        return "its certificate table starts at " + Hex(table.address) + ", not where the program ends (" +
               Hex(length) + ")";
    if (differs >= 0)
        return "it changed the program at offset " + Hex(differs) +
               ", where signing sets only the checksum and the certificate directory";
    uint8_t head[kWinCertificateSize] = {};
    signedFile.Seek(table.address);
    const bool read = table.size >= kWinCertificateSize && signedFile.Read(head, sizeof head) == sizeof head;
    if (!read || LoadLe32(head) < kWinCertificateSize || LoadLe32(head) > table.size ||
        LoadLe16(head + 4) != kWinCertificateRevision || LoadLe16(head + 6) != kPkcsSignedData)
        return "its certificate table holds no PKCS#7 signature (a WIN_CERTIFICATE of revision 0x0200, type 0x0002)";
    return "";
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::string arg;
    bool inArg = false;
    char quote = 0;
    for (char c : line) {
        if (quote != 0 && c == quote) {
            quote = 0;
        } else if (quote == 0 && (c == '\'' || c == '"')) {
            quote = c;
            inArg = true;
        } else if (quote == 0 && (c == ' ' || c == '\t')) {
            if (inArg) args.push_back(std::move(arg));
            arg.clear();
            inArg = false;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (quote != 0) throw ESigningError("the signing command has an unclosed quote");
    if (inArg) args.push_back(std::move(arg));
    return args;
}

std::string MissingPlaceholder(const std::vector<std::string>& args) {
    for (const char* placeholder : {"{in}", "{out}"})
        if (std::none_of(args.begin(), args.end(),
                         [&](const std::string& a) { return a.find(placeholder) != std::string::npos; }))
            return placeholder;
    return "";
}

std::vector<std::string> SubstitutePlaceholders(std::vector<std::string> args, const std::string& in,
                                                const std::string& out, const std::string& title) {
    for (std::string& arg : args) arg = Replaced(Replaced(Replaced(arg, "{in}", in), "{out}", out), "{title}", title);
    return args;
}

TSigningArea::TSigningArea(const std::vector<std::string>& otherFiles) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vornpack-sign-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw EStreamError("Cannot create a folder for signing: " + std::string(std::strerror(errno)));
    folder_ = pattern;
    std::vector<std::string> files = {UnsignedPath(), SignedPath(), OutputPath()};
    for (const std::string& name : otherFiles) files.push_back(PathOf(name));
    onSignal_.emplace(pattern, files);
}

TSigningArea::~TSigningArea() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void SignProgram(const std::vector<std::string>& command, const TSigningArea& area, std::chrono::seconds timeLimit,
                 const std::string& what) {
    const int status = Run(command, area, timeLimit);
    if (status != 0)
        throw ESigningError("the signing command \"" + command[0] + "\" failed (exit " + std::to_string(status) +
                            "): " + CommandOutput(area));
    if (!std::filesystem::is_regular_file(area.SignedPath()))
        throw ESigningError("the signing command \"" + command[0] + "\" wrote no signed file at {out}: " +
                            CommandOutput(area));
    TFileStream signedFile(area.SignedPath(), FileMode::OpenRead);
    {
        TFileStream unsignedFile(area.UnsignedPath(), FileMode::OpenRead);
        const std::string problem = SignedOutputProblem(unsignedFile, signedFile);
        if (!problem.empty())
            throw ESigningError("the signing command \"" + command[0] + "\" did not sign " + what + ": " + problem);
    }
}

uint32_t SignInstaller(const std::vector<std::string>& command, const TSigningArea& area,
                       std::chrono::seconds timeLimit) {
    SignProgram(command, area, timeLimit, "the installer");
    TFileStream signedFile(area.SignedPath(), FileMode::OpenRead);
    try {
        return WalkPackage(signedFile, {});
    } catch (const EVornError& error) {
        throw ESigningError("the installer signed by \"" + command[0] + "\" no longer holds its package (" +
                            error.Message + "); sign with a tool that keeps the file's end as vornpack laid it out");
    }
}

}  // namespace vorn::pack
