// More replacements for pieces of the C++ runtime, which the options stub
// takes on top of lean_runtime.cpp. The plain stub and the remover link the
// library's own pieces for now: their bytes, and so those of every
// installer built with them, stay as they were.
// Like lean_runtime.cpp, this file is compiled outside the link-time
// optimiser, so that the linker takes these definitions before the
// library's and leaves the library's members out.
#include <unwind.h>

namespace vorn::setup {
[[noreturn]] void RaiseOutOfMemory();  // library_failures.cpp
}  // namespace vorn::setup

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
