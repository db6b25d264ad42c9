#include "tests/setup/scripted_platform.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>


namespace vorn::setup::test {

namespace fs = std::filesystem;

TScriptedPlatform::TScriptedPlatform() {
    std::string pattern = (fs::temp_directory_path() / "vorn-setup-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    for (char drive = 'a'; drive <= 'z'; ++drive) fs::create_directory(root_ / std::string(1, drive));
    fs::create_directories(HostPath(Temp));
}

TScriptedPlatform::RegistryName TScriptedPlatform::Name(RegistryRoot root, const std::string& key,
                                                      const std::string& subKey, const std::string& value) {
    const std::string path = key.starts_with('\\') ? key.substr(1) : key;
    return {root, Lowercase(path), Lowercase(subKey), Lowercase(value)};
}

void TScriptedPlatform::SetShellFolders() {
    for (const char* folder : {"Desktop", "Startup", "Programs", "Start Menu", "SendTo"})
        SetValue(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                 "Shell Folders", folder, std::string("C:\\Users\\Me\\") + folder);
}

fs::path TScriptedPlatform::HostPath(const std::string& windowsPath) const {
    const std::string path = Lowercase(windowsPath);
    if (path.size() < 2 || path[1] != ':')
        throw std::invalid_argument("the double maps drive paths only: " + windowsPath);
    std::string rest = path.substr(2);
    for (char& c : rest)
        if (c == '\\') c = '/';
    return root_ / std::string(1, path[0]) / fs::path(rest).relative_path();
}

void TScriptedPlatform::PutFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes) {
    const fs::path host = HostPath(windowsPath);
    fs::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string TScriptedPlatform::FileText(const std::string& windowsPath) const {
    std::ifstream in(HostPath(windowsPath), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int TScriptedPlatform::ShowBox(const std::string& text, const std::string& caption, uint32_t style) {
    const char* name = style == kBoxOk ? "ok" : style == kBoxYesNoQuestion ? "yes/no" : "error";
    Boxes.push_back(caption + "|" + name + "|" + text);
    if (style != kBoxYesNoQuestion) return kAnswerOk;
    if (WhileAsking) WhileAsking(text);
    if (Answers.empty()) {
        ++Unanswered;
        return kAnswerNo;
    }
    const int answer = Answers.front();
    Answers.pop_front();
    return answer;
}

bool TScriptedPlatform::RemoveFile(const std::string& path) {
    if (LockedFiles.count(Lowercase(path))) return false;
    std::error_code ignored;
    return fs::remove(HostPath(path), ignored);
}

bool TScriptedPlatform::MakeFolder(const std::string& path) {
    if (ReadOnly(path)) return false;
    std::error_code error;
    return fs::create_directory(HostPath(path), error);
}

uint32_t TScriptedPlatform::DriveTypeOf(const std::string& root) {
    EXPECT_EQ(root.substr(1), ":\\") << "drive type asked of " << root;
    auto found = DriveTypes.find(Lowercase(root.substr(0, 1))[0]);
    return found == DriveTypes.end() ? kDriveFixed : found->second;
}

std::string TScriptedPlatform::RegistryString(RegistryRoot root, const std::string& keyPath,
                                             const std::string& subKey, const std::string& valueName) {
    auto found = registry_.find(Name(root, keyPath, subKey, valueName));
    if (found == registry_.end()) return "";
    if (!found->second) throw ERegistryDataType(valueName);
    return *found->second;
}

bool TScriptedPlatform::MakeShellLink(const std::string& linkPath, const std::string& target,
                                     const std::string& workingFolder) {
    if (!ShellLinksAvailable) throw EShellLinkError("Class not registered");
    if (ReadOnly(linkPath)) return false;
    Links.push_back(linkPath + " -> " + target + " in " + workingFolder);
    PutFile(linkPath, std::vector<uint8_t>(target.begin(), target.end()));
    return true;
}

}  // namespace vorn::setup::test
