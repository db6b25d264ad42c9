// Replacements for three pieces of the C++ runtime that would otherwise
// triple the stub's size: the verbose terminate handler (it brings the
// symbol demangler) and the library's throw helpers for strings and handlers (they
// bring the standard exception classes with their own string copies).
// Failures still surface as exceptions the driver reports.
#include <cstdlib>
#include <new>

#include "compress/exceptions.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_length_error(const char* what) { throw vorn::EVornError(what); }
void __throw_logic_error(const char* what) { throw vorn::EVornError(what); }
void __throw_out_of_range_fmt(const char*, ...) { throw vorn::EVornError("Text position out of range"); }
void __throw_bad_function_call() { throw vorn::EVornError("Call of an empty handler"); }
}  // namespace std
