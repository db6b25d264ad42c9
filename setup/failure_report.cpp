#include "setup/failure_report.h"

#include <new>

#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

template <class T>
bool Is(const std::exception& failure) {
    return dynamic_cast<const T*>(&failure) != nullptr;
}

}  // namespace

std::string FailureKind(const std::exception& failure) {
    if (Is<EPackageError>(failure)) return "EPackageError";
    if (Is<EConvertError>(failure)) return "EConvertError";
    if (Is<ERegistryDataType>(failure)) return "ERegistryDataType";
    if (Is<EShellLinkError>(failure)) return "EShellLinkError";
    if (Is<EStreamError>(failure)) return "EStreamError";
    if (Is<EVornError>(failure)) return "EVornError";
    if (Is<std::bad_alloc>(failure)) return "EOutOfMemory";
    return "Exception";
}

std::string FailureText(const std::exception& failure) {
    return FailureKind(failure) + ": " + failure.what();
}

int ReportFailure(TPlatform& platform, const std::exception& failure) {
    platform.ShowBox(FailureText(failure), kFailureCaption, kBoxErrorTaskModal);
    return kFailureExitCode;
}

}  // namespace vorn::setup
