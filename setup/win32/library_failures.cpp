// The exceptions behind lean_runtime.cpp's throw helpers.
#include <new>

#include "compress/exceptions.h"

namespace vorn::setup {

[[noreturn]] void RaiseLibraryFailure(const char* what) { throw EVornError(what); }

[[noreturn]] void RaiseOutOfMemory() { throw std::bad_alloc(); }

}  // namespace vorn::setup
