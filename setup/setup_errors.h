// The installer's own failure classes. All of them are unhandled failures:
// the run stops with the error report and exit code 1.
#pragma once

#include <string>

#include "compress/exceptions.h"

namespace vorn::setup {

// The package is missing, cut short or points outside the file.
class EPackageError : public EVornError {
public:
    using EVornError::EVornError;
};

// A byte that should be a decimal digit is not one.
class EConvertError : public EVornError {
public:
    using EVornError::EVornError;
};

// A registry folder value that is not a string.
class ERegistryDataType : public EVornError {
public:
    explicit ERegistryDataType(const std::string& valueName)
        : EVornError("Invalid data type for '" + valueName + "'") {}
};

// The shell-link object or one of its interfaces is unavailable.
class EShellLinkError : public EVornError {
public:
    using EVornError::EVornError;
};

}  // namespace vorn::setup
