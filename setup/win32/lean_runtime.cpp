// Replacements for pieces of the C++ runtime that would otherwise double the
// stub's size: the verbose terminate handler (it brings the symbol
// demangler) and the library's throw helpers for strings, arrays and
// handlers (they bring the standard exception classes with a second string
// implementation). Failures still surface as exceptions the driver reports.
// Others drop start-up, threading and type-query machinery that a
// one-threaded program without data imports or run-time type information
// never uses.
// This file is compiled outside the link-time optimiser, so that the linker
// takes these definitions before the library's; it defines no class of its
// own, which would clash with the optimiser's copies.
#include <unwind.h>

#include <cstdlib>

namespace vorn::setup {
[[noreturn]] void RaiseLibraryFailure(const char* what);  // library_failures.cpp
[[noreturn]] void RaiseOutOfMemory();
}  // namespace vorn::setup

// The record of the exceptions in flight, a caught list and an uncaught
// count, which the library keeps per thread through emulated thread-local
// storage. The stub runs its installation on one thread.
namespace {
struct TExceptionsInFlight {
    void* Caught;
    unsigned int Uncaught;
};
// The build reads the library's own record's size and alignment.
static_assert(sizeof(TExceptionsInFlight) == VORN_EH_RECORD_SIZE &&
                  alignof(TExceptionsInFlight) == VORN_EH_RECORD_ALIGN,
              "the C++ library keeps another record of exceptions in flight");
TExceptionsInFlight exceptionsInFlight;
}  // namespace
extern "C" void* __cxa_get_globals() noexcept { return &exceptionsInFlight; }
extern "C" void* __cxa_get_globals_fast() noexcept { return &exceptionsInFlight; }

// The start-up code patches references to data imported from DLLs without
// an import declaration. The link forbids such imports
// (--disable-auto-import), so there is never anything to patch.
extern "C" void _pei386_runtime_relocator() {}

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
[[noreturn]] void __throw_bad_alloc() { vorn::setup::RaiseOutOfMemory(); }
[[noreturn]] void __throw_bad_array_new_length() { vorn::setup::RaiseOutOfMemory(); }
[[noreturn]] void __throw_length_error(const char* what) { vorn::setup::RaiseLibraryFailure(what); }
[[noreturn]] void __throw_logic_error(const char* what) { vorn::setup::RaiseLibraryFailure(what); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    vorn::setup::RaiseLibraryFailure("Text position out of range");
}
[[noreturn]] void __throw_bad_function_call() {
    vorn::setup::RaiseLibraryFailure("Call of an empty handler");
}
}  // namespace std

extern "C" {

// The library guards its reserve for exceptions thrown out of memory with
// a mutex whenever threads may run. The stub runs on one thread, so the
// guard is nothing, and the library's Windows threading unit (semaphores,
// thread-local slots, seven imports) stays out.
void __gthr_win32_mutex_init_function(void*) {}
void __gthr_win32_mutex_destroy(void*) {}
int __gthr_win32_mutex_lock(void*) { return 0; }
int __gthr_win32_mutex_unlock(void*) { return 0; }

// The library's own brings its unit of exception classes for casts and
// type queries, which a program without run-time type information never
// raises.
[[noreturn]] void __cxa_throw_bad_array_new_length() { vorn::setup::RaiseOutOfMemory(); }

#if defined(__i386__)
// The link-time optimiser gives functions that only gained cleanups by
// inlining the C language's personality routine, which would bring the
// unwinder's C unit. Their exception tables have the one format every
// language shares, cleanups only, which the C++ routine reads the same way.
_Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class, _Unwind_Exception*,
                                         _Unwind_Context*);
_Unwind_Reason_Code __gcc_personality_v0(int version, _Unwind_Action actions, _Unwind_Exception_Class type,
                                         _Unwind_Exception* exception, _Unwind_Context* context) {
    return __gxx_personality_v0(version, actions, type, exception, context);
}
#endif

}  // extern "C"
