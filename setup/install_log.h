// The install log (one CR LF line per event, beside the installer) and the
// summary text that the run's last message box shows.
#pragma once

#include <memory>
#include <string>

#include "setup/platform.h"

namespace vorn::setup {

inline constexpr const char* kTerminatedText = "Installation terminated at user's request";
inline constexpr const char* kCannotDeleteLine = "ERROR: Can not delete. File currently in use...";
inline constexpr const char* kOkLine = "OK";
inline constexpr const char* kExtractFailedLine = "ERROR: Extract failed - aborting installation";
inline constexpr const char* kCompletedCleanLine = "Completed with NO errors.";
inline constexpr const char* kCompletedWithErrorsLine = "Completed WITH ERRORS.";

std::string StartLine(const std::string& installerPath, const std::string& date,
                      const std::string& time);
std::string TitleLine(const std::string& title);
std::string ShortcutLine(const std::string& field, const std::string& name,
                         const std::string& destination);
std::string ShortcutNotSavedLine(const std::string& linkPath);
std::string DeletingLine(const std::string& destination);
std::string ExtractingLine(const std::string& destination);
std::string RunningLine(const std::string& destination);
std::string SkippingLine(const std::string& destination);
std::string RunAtEndLine(const std::string& destination);

// The log file, created afresh (an older log is replaced). Every line is
// written whole, in one write, as soon as it is logged.
class TInstallLog {
public:
    TInstallLog(TPlatform& platform, std::string path);

    // Raises EStreamError when the line cannot be written.
    void Line(const std::string& text);
    void Close();
    // Closes and deletes the log, as a cancelled run does.
    void Discard();
    const std::string& Path() const { return path_; }

private:
    TPlatform& platform_;
    std::string path_;
    std::unique_ptr<TStream> file_;
};

// The summary box's text, grown step by step through the run.
class TSummary {
public:
    void Start(const std::string& startLine);
    void Title(const std::string& title);
    void Cancelled();
    void LogFile(const std::string& logPath);
    void ExtractFailed();
    void Completed(bool hadErrors);

    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

}  // namespace vorn::setup
