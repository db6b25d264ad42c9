#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "compress/exceptions.h"
#include "compress/custom_methods.h"
#include "compress/vorn_codec.h"
#include "setup/folders.h"
#include "tools/common/output_file.h"
#include "tools/common/progress_bar.h"
#include "tools/common/terminal_text.h"
#include "tools/vornpack/manifest/codepage.h"
#include "tools/vornpack/commands.h"
#include "tools/vornpack/read/package_contents.h"

namespace vorn::pack {

namespace {

// The installer's folders under their readable names.
std::string ResolveMacros(std::string path) {
    if (const setup::TFolderMacro* macro = setup::LeadingMacro(path))
        path = macro->readable + path.substr(setup::kMacroLength);
    else if (path.size() >= 2 && path[1] == ':') path = path.substr(0, 1) + "\\" + path.substr(2);
    else path = "installer drive\\" + path;
    const size_t stamp = path.find(setup::kStampMacro);
    if (stamp != std::string::npos) path.replace(stamp, 3, "date stamp");
    return path;
}

// A descriptor closed when it goes.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    TDescriptor(TDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TDescriptor& operator=(TDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void Refuse(const std::string& folder, const std::string& why) {
    throw EStreamError("Cannot create folder \"" + folder + "\": " + why);
}

// Opens (creating it when missing) the folder NAME inside PARENT, never
// through a symbolic link.
TDescriptor OpenFolderInside(const TDescriptor& parent, const std::string& name, const std::string& shown) {
    if (::mkdirat(parent.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) Refuse(shown, std::strerror(errno));
    TDescriptor folder(::openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.Get() >= 0) return folder;
    const int cause = errno;
    struct stat st {};
    if (::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        Refuse(shown, "a symbolic link inside the target folder");
    Refuse(shown, cause == ENOTDIR ? "a file of that name is in the way" : std::strerror(cause));
}

// The folder that receives RELATIVE, walked down from the target folder one
// name at a time; the last name is the file's, left to the caller.
TDescriptor OpenParentInside(const std::string& root, const std::string& relative) {
    std::filesystem::create_directories(root);
    TDescriptor folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0) Refuse(root, std::strerror(errno));
    std::filesystem::path shown = root;
    const std::filesystem::path path(relative);
    for (auto part = path.begin(); part != path.end() && std::next(part) != path.end(); ++part) {
        shown /= *part;
        folder = OpenFolderInside(folder, part->string(), shown.string());
    }
    return folder;
}

// The final bytes of the path must name folders below the target: whatever
// a code page made of the stored name, nothing may climb or jump out.
void CheckContained(const std::string& relative) {
    const std::filesystem::path path(relative);
    bool contained = !relative.empty() && path.is_relative() && relative.find('\0') == std::string::npos;
    for (const auto& part : path) contained = contained && part != "." && part != ".." && !part.empty();
    if (!contained) throw EStreamError("\"" + relative + "\" would leave the target folder");
}

// A name as Windows compares it: each character in upper case (C.UTF-8's
// mapping, ASCII alone where that locale is missing). Takes UTF-8 from a
// single-byte code page: characters of up to three bytes.
std::u32string Folded(const std::string& utf8) {
    static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u32string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        int tail = lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        char32_t c = tail ? lead & (0x3F >> tail) : lead;
        for (; tail > 0 && i + 1 < utf8.size(); --tail) c = c << 6 | (utf8[++i] & 0x3F);
        if (locale) c = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), locale));
        else if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        out += c;
    }
    return out;
}

// TEXT in double quotes, built in place: GCC 12 misreads "\"" + text.
std::string Quoted(std::string text) {
    text.insert(text.begin(), '"');
    text.push_back('"');
    return text;
}

// The paths entries have taken so far, case folded, each as a file or as
// a folder on the way to one.
class TTakenPaths {
public:
    // Why entry `index` cannot have `path`; "" when it can, and then has it.
    std::string Take(const std::filesystem::path& path, size_t index) {
        std::filesystem::path folder;
        for (auto part = path.begin(); std::next(part) != path.end(); ++part) {
            folder /= *part;
            const auto [at, added] = taken_.try_emplace(Folded(folder.string()), index, kFolder);
            if (at->second.second != kFolder)
                return "its folder " + Quoted(folder.string()) + " is entry " + std::to_string(at->second.first) +
                       "'s file";
        }
        const auto [at, added] = taken_.try_emplace(Folded(path.string()), index, !kFolder);
        if (added) return "";
        return Quoted(path.string()) + " is also entry " + std::to_string(at->second.first) + "'s " +
               (at->second.second == kFolder ? "folder" : "file") + ", once case is folded";
    }

private:
    static constexpr bool kFolder = true;
    std::map<std::u32string, std::pair<size_t, bool>> taken_;  // -> the entry, and whether a folder
};

// Why nothing may be written at target, or "": a link is never written
// through, an existing file replaced only when asked.
std::string InTheWay(const std::string& target, bool overwrite) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return "";
    if (S_ISLNK(st.st_mode)) return Quoted(tools::Printable(target)) + " is a symbolic link; extract writes through none";
    return overwrite ? "" : Quoted(tools::Printable(target)) + " exists; --overwrite replaces it";
}

// Where each entry goes, judged before anything is written: a name that is
// no file, a path that leaves the target folder, two entries on one file
// once case is folded (the installer would write one over the other), a
// file where another entry needs a folder, and a file already there unless
// --overwrite. Each refusal names its entry.
std::vector<std::string> PlanPaths(TStream& installer, const TExtractOptions& options) {
    std::vector<std::string> paths;
    TTakenPaths taken;
    TPackageVisitor visitor;
    visitor.entry = [&](const TPackageEntry& entry, TStream&) {
        std::string why;
        try {
            paths.push_back(ExtractPath(entry.destination, options.codepage));
            CheckContained(paths.back());
            why = taken.Take(paths.back(), entry.index);
            const std::filesystem::path target = std::filesystem::path(options.directory) / paths.back();
            if (why.empty()) why = InTheWay(target.string(), options.overwrite);
        } catch (const std::exception& error) {
            why = error.what();
        }
        if (!why.empty())
            throw EVornError("entry " + std::to_string(entry.index) + " (" +
                             Quoted(tools::Printable(FromCodePage(entry.destination, options.codepage))) + "): " + why);
    };
    WalkPackage(installer, visitor);
    return paths;
}

}  // namespace

std::string ExtractPath(const std::string& destination, const std::string& codepage) {
    const std::string path = ResolveMacros(setup::Lowercase(setup::Trim(destination)));
    std::filesystem::path out;
    std::string part;
    int parts = 0;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) end = path.size();
        // Judged as decoded: a code page may turn any byte into '/'.
        part = FromCodePage(path.substr(start, end - start), codepage);
        for (char& c : part)
            if (c == ':' || c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32) c = '_';
        if (part == "." || part == "..") throw std::invalid_argument("\"" + part + "\" is no name extract can place");
        if (!part.empty()) out /= part, ++parts;
        start = end + 1;
    }
    // Only the macro's or the drive's folder, or a path ending in '\'.
    if (part.empty() || parts < 2) throw std::invalid_argument("it names a folder, not a file");
    return out.string();
}

int RunExtract(const TExtractOptions& options) {
    size_t written = 0;
    try {
        TFileStream installer(options.installer, FileMode::OpenRead);
        const std::vector<std::string> paths = PlanPaths(installer, options);
        TVornCodec codec;
        UseCustomMethods(codec);
        lzma::SetSeed(codec, installer);
        TPackageVisitor visitor;
        visitor.entry = [&](const TPackageEntry& entry, TStream& stream) {
            const std::string& relative = paths[entry.index - 1];
            const std::filesystem::path target = std::filesystem::path(options.directory) / relative;
            const TDescriptor folder = OpenParentInside(options.directory, relative);
            tools::TProgressBar bar(tools::Printable(relative), options.quiet);
            codec.OnShowProgress = bar.Handler();
            tools::TOutputFile output(folder.Get(), target.filename().string(), target.string(),
                                      options.overwrite ? tools::Existing::Replace : tools::Existing::Keep);
            try {
                codec.ExpandStream(output.Stream(), stream);
            } catch (const EVornError& error) {
                throw EVornError("entry " + std::to_string(entry.index) + " (" + relative + "): " + error.Message);
            }
            output.Commit();
            if (!options.quiet) std::printf("%s\n", tools::Printable(target.string()).c_str());
            ++written;
        };
        WalkPackage(installer, visitor);
    } catch (const std::exception& error) {
        return tools::ReportFailure("vornpack", options.installer, error);
    }
    std::printf("%zu files extracted into %s\n", written, tools::Printable(options.directory).c_str());
    return kExitOk;
}

}  // namespace vorn::pack
