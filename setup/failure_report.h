// The report of an unhandled failure: an error box naming the kind of
// failure and its message.
#pragma once

#include <exception>
#include <string>

#include "setup/platform.h"

namespace vorn::setup {

inline constexpr const char* kFailureCaption = "Application Error";
inline constexpr int kFailureExitCode = 1;

// The class name of a failure the installer knows, else a general name.
std::string FailureKind(const std::exception& failure);
// "<kind>: <message>"
std::string FailureText(const std::exception& failure);
// Shows the report; returns the exit code of a failed run.
int ReportFailure(TPlatform& platform, const std::exception& failure);

}  // namespace vorn::setup
