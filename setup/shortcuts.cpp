#include "setup/shortcuts.h"

#include "setup/folders.h"
#include "setup/package_format.h"

namespace vorn::setup {

namespace {

constexpr const char* kShortcutErrorCaption = "Error in WinShortCut";
constexpr const char* kLinkExtension = ".lnk";

}  // namespace

bool OfferShortcut(TPlatform& platform, TInstallLog& log, const std::string& title,
                   const std::string& destination, const std::string& field,
                   const std::string& folderName) {
    std::string name = field;
    if (field.starts_with(kAskFirst)) {
        name = field.substr(1, kNameLimit);
        const std::string question =
            "Do you want to create a " + folderName + " shortcut for\r" + name + "?";
        if (platform.ShowBox(question, title, kBoxYesNoQuestion) != kAnswerYes) return true;
    }
    const std::string unsaved = WinShortCut(platform, destination, name, folderName);
    log.Line(ShortcutLine(field, name, destination));
    if (unsaved.empty()) return true;
    log.Line(ShortcutNotSavedLine(unsaved));
    return false;
}

std::string WinShortCut(TPlatform& platform, const std::string& target, const std::string& name,
                 const std::string& folderName) {
    const std::string folder = ShellFolder(platform, folderName);
    if (folder.empty()) {
        platform.ShowBox(folderName, kShortcutErrorCaption, kBoxOk);
        return "";
    }
    const std::string linkPath = folder + "\\" + name + kLinkExtension;
    if (platform.Exists(linkPath)) platform.RemoveFile(linkPath);
    return platform.MakeShellLink(linkPath, target, Lowercase(FolderPart(target))) ? "" : linkPath;
}

}  // namespace vorn::setup
