#include "setup/installer.h"

#include "compress/exceptions.h"
#include "compress/custom_methods.h"
#include "compress/lzma/lzma_method.h"
#include "setup/failure_report.h"
#include "setup/package_format.h"
#include "setup/shortcuts.h"

namespace vorn::setup {

namespace {

std::string InstallQuestion(const std::string& title) {
    return "You are about to install:     \r\r\"" + title + "\"\r\rDo you want to continue?";
}

std::string ReplaceQuestion(const std::string& shownName) {
    return "You are about to replace:     \r\r\"" + shownName + "\"\r\rDo you want to replace it?";
}

}  // namespace

std::string WithExtension(const std::string& name, const std::string& extension) {
    return name.substr(0, name.rfind('.')) + extension;
}

TInstaller::~TInstaller() = default;

int TInstaller::Run() {
    try {
        RunSteps();
        if constexpr (kInstallOptions) return ExitCode();
        return 0;
    } catch (...) {
        if constexpr (kInstallOptions) return FailureExit();
        return ReportCurrentFailure(platform_);
    }
}

void TInstaller::RunSteps() {
    StartUp();
    if (title_.empty()) {
        title_ = installerName_;
    } else if (!Confirmed()) {
        Cancel();
        return;
    }
    summary_.LogFile(log_->Path());
    while (InstallEntry()) {
    }
    Finish();
}

void TInstaller::StartUp() {
    platform_.StartCom();
    hadErrors_ = false;
    modulePath_ = platform_.ModulePath();
    installerPath_ = Lowercase(modulePath_);
    const std::string workFolder = FindWorkFolder(platform_, installerPath_);
    installerName_ = installerPath_.substr(installerPath_.rfind('\\') + 1);
    OpenLog(workFolder);
    log_->Line(StartLineNow());
    summary_.Start(StartLineNow());
    codec_ = std::make_unique<TVornCodec>();
    UseCustomMethods(*codec_);
    packageStream_ = platform_.OpenRead(installerPath_);
    // The remover's stream is seeded with this program, whose code it shares.
    lzma::SetSeed(*codec_, *packageStream_);
    reader_ = std::make_unique<TPackageReader>(*packageStream_);
    reader_->Locate();
    folders_ = LoadSystemFolders(platform_);
    title_ = reader_->ReadField();
}

std::string TInstaller::InTempFolder(const std::string& extension) {
    return Lowercase(platform_.TempFolder()) + WithExtension(installerName_, extension);
}

// Where the work folder takes no files (read-only media, a folder the code
// page cannot name), the log and the temporary file go to the user's
// temporary folder instead.
void TInstaller::OpenLog(const std::string& workFolder) {
    tempPath_ = workFolder + WithExtension(installerName_, ".tmp");
    if constexpr (kInstallOptions)
        if (!options_.logPath.empty()) {
            log_ = std::make_unique<TInstallLog>(platform_, std::string(options_.logPath));
            return;
        }
    try {
        log_ = std::make_unique<TInstallLog>(platform_, workFolder + WithExtension(installerName_, ".log"));
    } catch (const EStreamError&) {
        tempPath_ = InTempFolder(".tmp");
        log_ = std::make_unique<TInstallLog>(platform_, InTempFolder(".log"));
    }
}

void TInstaller::CreateTempFile() {
    try {
        tempStream_ = platform_.CreateNew(tempPath_);
    } catch (const EStreamError&) {
        if (tempPath_ == InTempFolder(".tmp")) throw;
        tempPath_ = InTempFolder(".tmp");
        tempStream_ = platform_.CreateNew(tempPath_);
    }
}

std::string TInstaller::StartLineNow() {
    const std::string date = platform_.LocalDate();
    return StartLine(installerPath_, date, platform_.LocalTime());
}

bool TInstaller::Confirmed() {
    log_->Line(TitleLine(title_));
    summary_.Title(title_);
    if constexpr (kInstallOptions)
        if (options_.quiet) return true;
    return platform_.ShowBox(InstallQuestion(title_), title_, kBoxYesNoQuestion) == kAnswerYes;
}

void TInstaller::Cancel() {
    log_->Line(kTerminatedText);
    summary_.Cancelled();
    Ended(RunEnd::Cancelled);
    ReleaseRunObjects();
    log_->Discard();
    platform_.ShowBox(summary_.Text(), title_, kBoxOk);
}

// Acts on the entry's fields as it reads them. Each shortcut is offered as
// its field is read, before the replace rule and before the drive is added:
// its link points at the destination as it stands then.
bool TInstaller::InstallEntry() {
    const bool more = WalkEntryFields(
        [&] {
            destination_ = reader_->ReadField();
            if (destination_.empty()) return false;
            if constexpr (kInstallOptions)
                destination_ = Resolved(destination_);
            else
                destination_ = ExpandFolderMacros(destination_, folders_, platform_.TodayDayNumber());
            return true;
        },
        [&] { runMode_ = reader_->ReadRunMode(); }, [&](size_t i) { OfferShortcutField(i); },
        [&] { replaceRule_ = reader_->ReadField(); });
    if (!more) {
        Complete();
        return false;
    }
    destination_ = QualifyDrive(destination_, modulePath_);
    CreatePathFolders(platform_, destination_);
    CreateTempFile();
    reader_->CopyStream(*tempStream_, reader_->ReadStreamLength());
    bool keepGoing = true;
    if (ShouldExtract())
        keepGoing = Extract();
    else
        Skip();
    tempStream_.reset();
    return keepGoing;
}

void TInstaller::Complete() {
    summary_.Completed(hadErrors_);
    log_->Line(hadErrors_ ? kCompletedWithErrorsLine : kCompletedCleanLine);
    Ended(hadErrors_ ? RunEnd::WithErrors : RunEnd::Clean);
}

void TInstaller::OfferShortcutField(size_t folder) {
    const std::string field = reader_->ReadField();
    if constexpr (kInstallOptions) {
        OfferShortcutWithOptions(field, folder);
        return;
    }
    if (!field.empty() && !OfferShortcut(platform_, *log_, title_, destination_, field, kShortcutFolders[folder]))
        hadErrors_ = true;
}

bool TInstaller::ShouldExtract() {
    if (!platform_.Exists(destination_)) return true;
    if (!ReplaceAllowed(replaceRule_)) return false;
    // The user may have removed the file while the question was open.
    if (!platform_.Exists(destination_)) return true;
    log_->Line(DeletingLine(destination_));
    if (platform_.RemoveFile(destination_)) return true;
    log_->Line(kCannotDeleteLine);
    hadErrors_ = true;
    return false;
}

void TInstaller::Skip() {
    log_->Line(SkippingLine(destination_));
    tempStream_->Seek(0);
    lzma::PassOver(*codec_, *tempStream_);
}

bool TInstaller::ReplaceAllowed(const std::string& replaceRule) {
    const Replace replace = ReplaceOf(replaceRule);
    if (replace == Replace::Ask) {
        if constexpr (kInstallOptions)
            if (options_.quiet) return false;  // the user's file stays
        const std::string question = ReplaceQuestion(replaceRule.substr(1, kNameLimit));
        return platform_.ShowBox(question, title_, kBoxYesNoQuestion) == kAnswerYes;
    }
    return replace == Replace::Always;
}

bool TInstaller::Extract() {
    tempStream_->Seek(0);
    // Created outside the guard: a destination that cannot be created is an
    // unhandled failure, not a failed extraction.
    std::unique_ptr<TStream> destinationFile = platform_.CreateNew(destination_);
    try {
        log_->Line(ExtractingLine(destination_));
        codec_->ExpandStream(*destinationFile, *tempStream_);
        destinationFile.reset();
        log_->Line(kOkLine);
        RunExtracted();
        return true;
    } catch (...) {
        destinationFile.reset();  // the partly written file stays
        log_->Line(kExtractFailedLine);
        summary_.ExtractFailed();
        hadErrors_ = true;
        return false;
    }
}

void TInstaller::RunExtracted() {
    if (runMode_ == RunMode::Now) {
        log_->Line(RunningLine(destination_));
        platform_.Execute(destination_);
    }
    if (runMode_ == RunMode::AtEnd) runAtEnd_ = destination_;
}

void TInstaller::ReleaseRunObjects() {
    codec_.reset();
    reader_.reset();
    packageStream_.reset();
}

void TInstaller::Finish() {
    if constexpr (kInstallOptions)
        if (options_.quiet) runAtEnd_.clear();  // a quiet run starts nothing at its end
    if (!runAtEnd_.empty()) {
        log_->Line(RunAtEndLine(runAtEnd_));
        platform_.Execute(runAtEnd_);
    }
    platform_.RemoveFile(tempPath_);
    ReleaseRunObjects();
    log_->Close();
    if constexpr (kInstallOptions)
        if (options_.quiet) return;
    platform_.ShowBox(summary_.Text(), title_, kBoxOk);
}

}  // namespace vorn::setup
