#include "setup/failure_report.h"

#include <new>

#include "setup/setup_errors.h"

namespace vorn::setup {

namespace {

std::string Text(const char* kind, const std::exception& failure) { return std::string(kind) + ": " + failure.what(); }

}  // namespace

// The handlers run in the order of the classes' depth: the first that
// matches names the failure, as a chain of type tests would.
std::string CurrentFailureText() {
    try {
        throw;
    } catch (const EPackageError& failure) {
        return Text("EPackageError", failure);
    } catch (const EConvertError& failure) {
        return Text("EConvertError", failure);
    } catch (const ERegistryDataType& failure) {
        return Text("ERegistryDataType", failure);
    } catch (const EShellLinkError& failure) {
        return Text("EShellLinkError", failure);
    } catch (const EStreamError& failure) {
        return Text("EStreamError", failure);
    } catch (const EVornError& failure) {
        return Text("EVornError", failure);
    } catch (const std::bad_alloc& failure) {
        return Text("EOutOfMemory", failure);
    } catch (const std::exception& failure) {
        return Text("Exception", failure);
    } catch (...) {
        return "EVornError: An unknown failure";
    }
}

int ReportCurrentFailure(TPlatform& platform) {
    platform.ShowBox(CurrentFailureText(), kFailureCaption, kBoxErrorTaskModal);
    return kFailureExitCode;
}

}  // namespace vorn::setup
