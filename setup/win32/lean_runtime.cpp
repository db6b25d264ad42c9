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

#include <cstdint>
#include <cstdlib>
#include <cstring>

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

// The unwinder asks which frame description covers a code address. The
// library answers from a sorted index of every registered table, built on
// first use under a lock: 10 KB of code and unwind data. A static program
// registers one table, its own .eh_frame (the start-up code hands over its
// start), and raises exceptions only on failure paths, so a walk through
// that table in order finds the same description.
namespace {
const uint8_t* frameTable;

uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

const uint8_t* SkipLeb128(const uint8_t* p) {
    while (*p++ & 0x80) {
    }
    return p;
}

// How the descriptions under a CIE store code addresses: four bytes, as
// they are or relative to where they are stored; kUnread for another
// encoding, which this toolchain does not emit on x86.
constexpr uint8_t kFourBytes = 0x03, kSignedFourBytes = 0x0B, kFromHere = 0x10, kUnread = 0xFF;

uint8_t AddressEncoding(const uint8_t* cie) {
    const uint8_t version = cie[8];
    const char* augmentation = reinterpret_cast<const char*>(cie + 9);
    if (*augmentation == 0) return 0;  // absolute, a pointer wide
    if (*augmentation != 'z') return kUnread;
    const uint8_t* p = cie + 9 + std::strlen(augmentation) + 1;
    p = SkipLeb128(SkipLeb128(p));                // code and data alignment
    p = version == 1 ? p + 1 : SkipLeb128(p);     // return address column
    p = SkipLeb128(p);                            // augmentation data's length
    for (const char* letter = augmentation + 1; *letter; ++letter) {
        if (*letter == 'R') return *p;
        if (*letter == 'L') {
            ++p;
        } else if (*letter == 'P' && ((*p & 0x0F) == kFourBytes || (*p & 0x0F) == kSignedFourBytes)) {
            p += 5;  // the personality routine's encoding and address
        } else {
            return kUnread;
        }
    }
    return 0;
}
}  // namespace

// Registration from the start-up code, for the whole run.
void __register_frame_info(const void* table, void*) { frameTable = static_cast<const uint8_t*>(table); }
void* __deregister_frame_info(const void*) {
    frameTable = nullptr;
    return nullptr;
}

struct TFrameBases {  // the unwinder's dwarf_eh_bases
    void* Text;
    void* Data;
    void* Function;
};

// The description (FDE) whose code range holds pc, nullptr for none. A
// table ends at a length of 0; a CIE has 0 where an FDE has the distance
// back to its CIE.
const void* _Unwind_Find_FDE(void* pc, TFrameBases* bases) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(pc);
    const uint8_t* lastCie = nullptr;
    uint8_t encoding = kUnread;
    for (const uint8_t* entry = frameTable; entry && Load32(entry) != 0; entry += 4 + Load32(entry)) {
        const uint32_t cieDistance = Load32(entry + 4);
        if (cieDistance == 0) continue;
        const uint8_t* cie = entry + 4 - cieDistance;
        if (cie != lastCie) {
            lastCie = cie;
            encoding = AddressEncoding(cie);
        }
        const uint8_t format = encoding & 0x0F, application = encoding & 0x70;
        if ((format != 0 && format != kFourBytes && format != kSignedFourBytes) ||
            (application != 0 && application != kFromHere))
            continue;
        uintptr_t begin = Load32(entry + 8);
        if (application == kFromHere) begin += reinterpret_cast<uintptr_t>(entry + 8);
        if (begin != 0 && address - begin < Load32(entry + 12)) {  // 0: a function the link dropped
            *bases = {nullptr, nullptr, reinterpret_cast<void*>(begin)};
            return entry;
        }
    }
    return nullptr;
}
#endif

}  // extern "C"
