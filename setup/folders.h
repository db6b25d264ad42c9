// Destination paths: the work folder, the system folders behind the macros,
// macro expansion with the date stamp, drive qualification and the folders
// along a path.
#pragma once

#include <cstdint>
#include <string>

#include "setup/platform.h"

namespace vorn::setup {

struct TSystemFolders {
    std::string windows;
    std::string programFiles;
};

// Converts A to Z only; every other byte stays.
std::string Lowercase(std::string text);
// Drops every byte of value 32 or less from both ends.
std::string Trim(const std::string& text);
// Everything up to and including the last "\"; empty when there is none.
std::string FolderPart(const std::string& path);

// The installer's folder, lowercased and ending in "\"; "c:\" when it lies on
// a removable drive.
std::string FindWorkFolder(TPlatform& platform, const std::string& installerPath);
// SystemRoot and ProgramFilesDir from the machine's registry, or the defaults.
TSystemFolders LoadSystemFolders(TPlatform& platform);

// Days since 30 December 1899 of a date of the Gregorian calendar.
int32_t DayNumber(int year, int month, int day);
// The "<u>" replacement: day number times 100000 in hexadecimal, at least
// eight digits.
std::string DateStamp(int32_t dayNumber);
// Lowercases and trims text and replaces the macros "<w>", "<s>", "<p>" (at
// the start) and the first "<u>".
std::string ExpandFolderMacros(const std::string& text, const TSystemFolders& folders,
                               int32_t today);
// A path without ":" gets the drive of the installer's module path (its
// server and share when the installer runs from a network path).
std::string QualifyDrive(const std::string& path, const std::string& modulePath);
// Creates every folder along path, shallowest first; failures are ignored.
void CreatePathFolders(TPlatform& platform, const std::string& path);

}  // namespace vorn::setup
