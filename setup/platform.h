// Everything the installer needs from outside the process. The product uses
// the Win32 implementation in setup/win32/; the tests use a scripted double.
// Paths are Windows paths in the ANSI code page. Registry keys are opened
// with full access and created when missing (subkeys are only opened); a
// leading "\" in a key path counts from the root key. Of the shell-link
// object's calls, only a failed Save is noticed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compress/stream.h"

namespace vorn::setup {

// Message-box styles and answers, with their Win32 values.
inline constexpr uint32_t kBoxOk = 0x00000000;              // MB_OK
inline constexpr uint32_t kBoxYesNoQuestion = 0x00000024;   // MB_YESNO | MB_ICONQUESTION
inline constexpr uint32_t kBoxErrorTaskModal = 0x00002010;  // MB_ICONERROR | MB_TASKMODAL
inline constexpr int kAnswerOk = 1;                         // IDOK
inline constexpr int kAnswerYes = 6;                        // IDYES
inline constexpr int kAnswerNo = 7;                         // IDNO

inline constexpr uint32_t kDriveRemovable = 2;  // DRIVE_REMOVABLE
inline constexpr uint32_t kDriveFixed = 3;      // DRIVE_FIXED
inline constexpr uint32_t kDriveCdRom = 5;      // DRIVE_CDROM

inline constexpr uint32_t kPlatformWindows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr uint32_t kPlatformNt = 2;       // VER_PLATFORM_WIN32_NT

enum class RegistryRoot { LocalMachine, CurrentUser };

class TPlatform {
public:
    virtual ~TPlatform() = default;

    // CoInitialize with a null argument; the result is ignored.
    virtual void StartCom() = 0;
    // GetModuleFileNameA of the running module, in the case the system reports;
    // its short (8.3) form where the code page lacks a character of the path
    // and a short form exists.
    virtual std::string ModulePath() = 0;
    // GetTempPathA: the user's temporary folder, ending in "\"; in its short
    // form where the code page cannot hold it.
    virtual std::string TempFolder() = 0;
    // MessageBoxA with no owner window; returns the answer (kAnswerYes, ...).
    virtual int ShowBox(const std::string& text, const std::string& caption, uint32_t style) = 0;
    // ShellExecuteA: no owner, default verb, no parameters, no folder, SW_SHOW; never waited for.
    virtual void Execute(const std::string& file) = 0;
    // The file opened read-only, sharing that denies nothing; raises EStreamError.
    virtual std::unique_ptr<TStream> OpenRead(const std::string& path) = 0;
    // The file created, or truncated when it exists; raises EStreamError.
    virtual std::unique_ptr<TStream> CreateNew(const std::string& path) = 0;
    // Whether a file exists at path.
    virtual bool Exists(const std::string& path) = 0;
    // DeleteFileA; false when the file could not be deleted.
    virtual bool RemoveFile(const std::string& path) = 0;
    // CreateDirectoryA with no security attributes; false on any failure.
    virtual bool MakeFolder(const std::string& path) = 0;
    // GetDriveTypeA of a root such as "c:\".
    virtual uint32_t DriveTypeOf(const std::string& root) = 0;
    // dwPlatformId from GetVersionExA.
    virtual uint32_t PlatformId() = 0;
    // valueName of root\keyPath[\subKey] as text; "" when absent; ERegistryDataType if no string.
    virtual std::string RegistryString(RegistryRoot root, const std::string& keyPath,
                                       const std::string& subKey, const std::string& valueName) = 0;
    // Writes a link at linkPath to target; false when the link file cannot be
    // saved; EShellLinkError when the shell-link object is missing.
    virtual bool MakeShellLink(const std::string& linkPath, const std::string& target,
                               const std::string& workingFolder) = 0;
    // Today in the user's short date format (m/d/yy where the locale has none).
    virtual std::string LocalDate() = 0;
    // Now in the user's long time format.
    virtual std::string LocalTime() = 0;
    // Today as a day number counted from 30 December 1899 (day 0).
    virtual int32_t TodayDayNumber() = 0;
};

}  // namespace vorn::setup
