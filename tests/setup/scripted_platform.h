// The scripted test double of the installer's platform: questions answered
// from a script; every box, shell execute and link recorded; drive letters
// mapped to folders under a temporary root (paths compared without case, as
// Windows does); an in-memory registry; a fixed clock and drive types.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "setup/platform.h"

namespace vorn::setup::test {

struct RecordedBox {
    std::string Text;
    std::string Caption;
    uint32_t Style;
};

struct RecordedLink {
    std::string LinkPath;
    std::string Target;
    std::string WorkingFolder;
};

class ScriptedPlatform : public Platform {
public:
    ScriptedPlatform();
    ~ScriptedPlatform() override;

    // --- the script ---
    std::deque<int> Answers;  // one per yes/no question, in order
    std::string Module = "C:\\Downloads\\Sample.EXE";
    uint32_t Id = kPlatformNt;
    std::map<char, uint32_t> DriveTypes;  // by lowercase letter; fixed when absent
    std::set<std::string> LockedFiles;    // lowercased paths DeleteFileA refuses
    std::set<std::string> DeniedKeys;     // lowercased key paths that cannot be opened
    std::set<char> ReadOnlyDrives;        // by lowercase letter: nothing can be created there
    std::string Temp = "C:\\Users\\Me\\Temp\\";
    bool ShellLinksAvailable = true;
    std::string Date = "12/5/2026";
    std::string Time = "3:04:05 PM";
    int32_t Today = 46361;

    void SetString(RegistryRoot root, const std::string& key, const std::string& subKey,
                   const std::string& value, const std::string& text);
    void SetNonString(RegistryRoot root, const std::string& key, const std::string& subKey,
                      const std::string& value);
    // The usual shell folders of a user, under c:\users\me.
    void SetShellFolders();

    // --- what happened ---
    std::vector<RecordedBox> Boxes;
    std::vector<std::string> Executed;
    std::vector<RecordedLink> Links;
    int StartComCalls = 0;
    int Unanswered = 0;  // questions asked after the script ran out

    // --- files seen through the drive mapping ---
    std::filesystem::path HostPath(const std::string& windowsPath) const;
    void PutFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes);
    std::string FileText(const std::string& windowsPath) const;
    bool HasFile(const std::string& windowsPath) const;

    // --- Platform ---
    void StartCom() override { ++StartComCalls; }
    std::string ModulePath() override { return Module; }
    std::string TempFolder() override { return Temp; }
    int ShowBox(const std::string& text, const std::string& caption, uint32_t style) override;
    void Execute(const std::string& file) override { Executed.push_back(file); }
    std::unique_ptr<TStream> OpenRead(const std::string& path) override;
    std::unique_ptr<TStream> CreateNew(const std::string& path) override;
    bool Exists(const std::string& path) override { return HasFile(path); }
    bool RemoveFile(const std::string& path) override;
    bool MakeFolder(const std::string& path) override;
    uint32_t DriveTypeOf(const std::string& root) override;
    uint32_t PlatformId() override { return Id; }
    std::string RegistryString(RegistryRoot root, const std::string& keyPath,
                               const std::string& subKey, const std::string& valueName) override;
    void MakeShellLink(const std::string& linkPath, const std::string& target,
                       const std::string& workingFolder) override;
    std::string LocalDate() override { return Date; }
    std::string LocalTime() override { return Time; }
    int32_t TodayDayNumber() override { return Today; }

private:
    using RegistryName = std::tuple<RegistryRoot, std::string, std::string, std::string>;
    struct RegistryValue {
        std::string Text;
        bool IsString;
    };
    static RegistryName Name(RegistryRoot root, const std::string& key, const std::string& subKey,
                             const std::string& value);

    std::filesystem::path root_;
    std::map<RegistryName, RegistryValue> registry_;
};

}  // namespace vorn::setup::test
