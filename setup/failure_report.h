// The report of an unhandled failure: an error box naming the kind of
// failure and its message.
#pragma once

#include <string>

#include "setup/platform.h"

namespace vorn::setup {

inline constexpr const char* kFailureCaption = "Application Error";
inline constexpr int kFailureExitCode = 1;

// For the exception being handled: "<kind>: <message>", the kind being the
// class name of a failure the installer knows, else a general name.
std::string CurrentFailureText();
// Shows the report of the exception being handled; returns the exit code
// of a failed run.
int ReportCurrentFailure(TPlatform& platform);

}  // namespace vorn::setup
