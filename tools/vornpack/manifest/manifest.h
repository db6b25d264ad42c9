// The installer manifest: what vornpack reads from app.toml, in readable
// words, checked so that every text survives the trip to the installer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/vorn_header.h"
#include "tools/common/method_writer.h"
#include "setup/package_format.h"
#include "setup/remover/uninstall_record.h"
#include "tools/vornpack/pe/icon_and_version.h"
#include "tools/vornpack/pe/stub_image.h"
#include "tools/vornpack/pe/execution_level.h"

namespace vorn::pack {

// A manifest problem, with the message "FILE:LINE: FIELD: what is wrong".
class EManifestError : public EVornError {
public:
    using EVornError::EVornError;
};

using setup::RunMode;

// The manifest's and the listings' names of the shortcut folders, in package
// order: the shell folder's name in lower case, "-" for a space.
const std::array<std::string, setup::kShortcutFolders.size()>& ShortcutKeys();

struct TShortcut {
    std::string name;  // empty: no shortcut in this folder
    bool ask = false;
};

struct TReplaceRule {
    setup::Replace kind = setup::Replace::Always;
    std::string question;  // shown when kind is Ask
};

// How an entry's content is stored: a method the tools write (a row of
// kMethodTable), or, as kAsIs, the source taken as it is (a prepared stream,
// or headerless data).
using TEntryMethod = const tools::TMethodIdentity*;
inline constexpr TEntryMethod kAsIs = nullptr;
inline constexpr const char* kAsIsName = "as-is";
inline constexpr TEntryMethod kDefaultMethod = tools::MethodNamed("lh5");

struct TFileEntry {
    std::filesystem::path source;  // resolved against the manifest's folder
    std::string folderPath;        // under its [[folder]]'s source, "/"-separated; empty for a [[file]]
    std::string destination;       // in the package's code page from here on
    RunMode run = RunMode::Never;
    std::array<TShortcut, setup::kShortcutFolders.size()> shortcuts;
    TReplaceRule replace;
    TEntryMethod method = kDefaultMethod;
    int level = lzma::kDefaultLevel;  // of an lzma entry
    setup::Removal removal = setup::Removal::Auto;  // what the remover does with it: remove = true|false
    bool shared = false;  // counted among the machine's shared files: shared = true
    std::set<std::string> waived;  // destination rules the vendor switched off
    int line = 0;  // of the [[file]] table, for messages
    bool made = false;  // its bytes are made by the build (TBuildSettings::make), not read from source
    bool seeded = false;  // lzma seeded with the stub's program (the remover, which shares its code)
};

// [uninstall]: the package installs a remover and its record into folder;
// the remover registers the product under id, named and versioned as the
// installer's version information says.
struct TUninstall {
    std::string folder;  // in the package's code page, "\\" between names, no trailing "\\"
    std::string id;      // the registry key's name
    std::string name;    // DisplayName: [version] product-name, else the title
    std::string version;    // [version] product-version, or empty
    std::string publisher;  // [version] company, or empty
    int line = 0;
};

// [install]: what the installer does beyond its defined behaviour. With
// any key set, the installer is built on the options stub, which reads
// them from a resource vornpack writes; with none, on the plain stub.
struct TInstallKeys {
    bool switches = false;           // /S, /D= and /LOG=
    bool keepCase = false;           // destinations keep the manifest's case
    bool allUsersShortcuts = false;  // shortcuts = "all-users"
    bool Any() const { return switches || keepCase || allUsersShortcuts; }
};

struct TManifest {
    std::filesystem::path path;
    std::string title;  // in the package's code page
    std::string codepage = "1252";
    const TArchitecture* arch = &kX86;  // which stub the installer is built on
    Elevation elevation = Elevation::Admin;  // what the installer asks Windows for
    // The top-level method and level: every entry's unless it names its own.
    TEntryMethod method = kDefaultMethod;
    int level = lzma::kDefaultLevel;
    // solid = true: the lzma entries, in manifest order, are compressed in
    // chains that share a dictionary, instead of one by one.
    bool solid = false;
    std::vector<TFileEntry> files;
    // What Explorer shows of the installer; left out, the stub's resources
    // stay exactly as they are.
    std::vector<TIconImage> icon;
    std::filesystem::path iconPath;  // the .ico they came from; empty without an icon
    std::optional<TVersionInfo> version;
    std::optional<TUninstall> uninstall;
    TInstallKeys install;
    // [sign] command: run on the finished installer; may hold {in}, {out}
    // and {title} inside its arguments. Empty: the installer stays unsigned.
    std::vector<std::string> signCommand;
    std::chrono::seconds signTimeLimit{300};  // [sign] timeout: the command is ended after it
    std::vector<std::string> notes;  // "FILE:LINE: field: ..." worth telling, not refusing
    std::vector<std::string> warnings;  // the same, for what is most likely a mistake
};

// Reads and checks the manifest. Texts come back converted to the code page.
// Raises EManifestError naming the file, line and field of the first problem.
TManifest LoadManifest(const std::filesystem::path& path);
TManifest ParseManifest(const std::string& text, const std::filesystem::path& path);

}  // namespace vorn::pack
