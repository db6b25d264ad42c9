// The exceptions behind lean_runtime.cpp's throw helpers, and the words of
// a damaged LZM stream, which the installer never shows: it reports a
// failed extraction in words of its own, and carries none of these.
#include <new>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_format.h"

namespace vorn::lzma {

const char* LzmaFaultWords(LzmaFault) { return nullptr; }
bool LzmaFaultsNamed() { return false; }

}  // namespace vorn::lzma

namespace vorn::setup {

[[noreturn]] void RaiseLibraryFailure(const char* what) { throw EVornError(what); }

[[noreturn]] void RaiseOutOfMemory() { throw std::bad_alloc(); }

}  // namespace vorn::setup
