// The scripted test double of the installer's platform: questions answered
// from a script; every box, shell execute and link recorded; drive letters
// mapped to folders under a temporary root (paths compared without case, as
// Windows does); an in-memory registry; a fixed clock and drive types.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "setup/folders.h"
#include "setup/platform.h"
#include "setup/setup_errors.h"

namespace vorn::setup::test {

class TScriptedPlatform : public TPlatform {
public:
    TScriptedPlatform();
    ~TScriptedPlatform() override { std::error_code ignored; std::filesystem::remove_all(root_, ignored); }

    std::deque<int> Answers;  // one per yes/no question, in order
    std::function<void(const std::string& text)> WhileAsking;  // what happens while a question is open
    std::string Module = "C:\\Downloads\\Sample.EXE";
    std::string Temp = "C:\\Users\\Me\\Temp\\";
    uint32_t Id = kPlatformNt;
    std::map<char, uint32_t> DriveTypes;  // by lowercase letter; fixed when absent
    std::set<char> ReadOnlyDrives;        // by lowercase letter: nothing can be created or saved there
    std::set<std::string> LockedFiles;    // lowercased paths DeleteFileA refuses
    bool ShellLinksAvailable = true;
    std::string Date = "12/5/2026";
    std::string Time = "3:04:05 PM";
    int32_t Today = 46361;

    // A value; without text, one that is no string.
    void SetValue(RegistryRoot root, const std::string& key, const std::string& subKey,
                  const std::string& value, std::optional<std::string> text) {
        registry_[Name(root, key, subKey, value)] = std::move(text);
    }
    void SetShellFolders();

    std::vector<std::string> Boxes;     // "caption|ok|text", "...|yes/no|...", "...|error|..."
    std::vector<std::string> Executed;
    std::vector<std::string> Links;     // "link -> target in folder"
    int Unanswered = 0;  // questions asked after the script ran out

    std::filesystem::path HostPath(const std::string& windowsPath) const;
    void PutFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes);
    std::string FileText(const std::string& windowsPath) const;
    bool HasFile(const std::string& windowsPath) const { return std::filesystem::is_regular_file(HostPath(windowsPath)); }

    void StartCom() override {}
    std::string ModulePath() override { return Module; }
    std::string TempFolder() override { return Temp; }
    int ShowBox(const std::string& text, const std::string& caption, uint32_t style) override;
    void Execute(const std::string& file) override { Executed.push_back(file); }
    std::unique_ptr<TStream> OpenRead(const std::string& path) override {
        return std::make_unique<TFileStream>(HostPath(path).string(), FileMode::OpenRead);
    }
    std::unique_ptr<TStream> CreateNew(const std::string& path) override {
        if (ReadOnly(path)) throw EStreamError("Cannot create file \"" + path + "\"");
        return std::make_unique<TFileStream>(HostPath(path).string(), FileMode::Create);
    }
    bool Exists(const std::string& path) override { return HasFile(path); }
    bool RemoveFile(const std::string& path) override;
    bool MakeFolder(const std::string& path) override;
    uint32_t DriveTypeOf(const std::string& root) override;
    uint32_t PlatformId() override { return Id; }
    std::string RegistryString(RegistryRoot root, const std::string& keyPath,
                               const std::string& subKey, const std::string& valueName) override;
    bool MakeShellLink(const std::string& linkPath, const std::string& target,
                       const std::string& workingFolder) override;
    std::string LocalDate() override { return Date; }
    std::string LocalTime() override { return Time; }
    int32_t TodayDayNumber() override { return Today; }

private:
    using RegistryName = std::tuple<RegistryRoot, std::string, std::string, std::string>;
    static RegistryName Name(RegistryRoot root, const std::string& key, const std::string& subKey,
                             const std::string& value);
    bool ReadOnly(const std::string& path) const { return ReadOnlyDrives.count(Lowercase(path.substr(0, 1))[0]) != 0; }

    std::filesystem::path root_;
    std::map<RegistryName, std::optional<std::string>> registry_;  // empty: no string
};

}  // namespace vorn::setup::test
