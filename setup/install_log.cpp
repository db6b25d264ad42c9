#include "setup/install_log.h"

namespace vorn::setup {

namespace {
constexpr const char* kLineEnd = "\r\n";
}

std::string StartLine(const std::string& installerPath, const std::string& date,
                      const std::string& time) {
    return "Program: \"" + installerPath + "\" started on " + date + " at " + time;
}

std::string TitleLine(const std::string& title) { return "Title: \"" + title + "\""; }

std::string ShortcutLine(const std::string& field, const std::string& name,
                         const std::string& destination) {
    return "Creating \"" + field + "\" shortcut: " + name + " for: " + destination;
}

std::string ShortcutNotSavedLine(const std::string& linkPath) {
    return "ERROR: Can not save shortcut: " + linkPath;
}

std::string DeletingLine(const std::string& destination) {
    return "Deleting old version of: " + destination;
}

std::string ExtractingLine(const std::string& destination) {
    return "Extracting file: " + destination + "...   ";
}

std::string RunningLine(const std::string& destination) {
    return "Running: \"" + destination + "\"";
}

std::string SkippingLine(const std::string& destination) { return "Skipping file: " + destination; }

std::string RunAtEndLine(const std::string& destination) {
    return "Run at the end: \"" + destination + "\"";
}

TInstallLog::TInstallLog(TPlatform& platform, std::string path)
    : platform_(platform), path_(std::move(path)), file_(platform.CreateNew(path_)) {}

void TInstallLog::Line(const std::string& text) {
    const std::string line = text + kLineEnd;
    file_->Write(line.data(), line.size());
}

void TInstallLog::Close() { file_.reset(); }

void TInstallLog::Discard() {
    Close();
    platform_.RemoveFile(path_);
}

void TSummary::Start(const std::string& startLine) { text_ += startLine + "\r\n\r\n"; }

void TSummary::Title(const std::string& title) { text_ += TitleLine(title) + "\r\r"; }

void TSummary::Cancelled() { text_ += std::string("\r\n") + kTerminatedText + "\r"; }

void TSummary::LogFile(const std::string& logPath) {
    text_ += "For details see the log file: " + logPath + "\r\n\r\n";
}

void TSummary::ExtractFailed() { text_ += "Extract failed - aborting installation\r\n"; }

void TSummary::Completed(bool hadErrors) {
    text_ += hadErrors ? "\r\nCompleted WITH ERRORS\r\n" : "\r\nCompleted with NO errors\r\n";
}

}  // namespace vorn::setup
