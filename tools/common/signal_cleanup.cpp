#include "tools/common/signal_cleanup.h"

#include <limits.h>

#include <cstring>

namespace vorn::tools {

namespace {

// Every signal that ends a process by default and can be caught.
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGXFSZ, SIGXCPU,
                            SIGUSR1, SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF, SIGPIPE};
// Temporary files and folders to remove when a signal ends the process.
// The handler only reads these; they change only while the signals are
// blocked.
constexpr int kSlots = 8;
char gRemoveOnSignal[kSlots][PATH_MAX];
volatile sig_atomic_t gSlotUsed[kSlots];
volatile sig_atomic_t gSlotIsFolder[kSlots];
volatile sig_atomic_t gGroupToEnd;  // a child's process group; 0 for none

void RemoveTemporariesAndDie(int signal) {
    if (gGroupToEnd > 0) ::kill(-gGroupToEnd, SIGKILL);
    for (int i = 0; i < kSlots; ++i)
        if (gSlotUsed[i] && !gSlotIsFolder[i]) ::unlink(gRemoveOnSignal[i]);
    for (int i = 0; i < kSlots; ++i)  // emptied by now, unless others put files there
        if (gSlotUsed[i] && gSlotIsFolder[i]) ::rmdir(gRemoveOnSignal[i]);
    // SA_RESETHAND has put the default action back: the process ends with
    // the signal (status 128+n) once the handler returns.
    ::raise(signal);
}

void InstallHandlersOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    for (int s : kSignals) {
        struct sigaction old {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    }
}

}  // namespace

TSignalBlock::TSignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &saved_);
}

TSignalBlock::~TSignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

int RemoveOnSignal(const std::string& path, bool folder) {
    InstallHandlersOnce();
    for (int i = 0; i < kSlots; ++i) {
        if (gSlotUsed[i] || path.size() >= PATH_MAX) continue;
        std::memcpy(gRemoveOnSignal[i], path.c_str(), path.size() + 1);
        gSlotIsFolder[i] = folder;
        gSlotUsed[i] = 1;
        return i;
    }
    return -1;
}

void ForgetOnSignal(int slot) {
    if (slot >= 0) gSlotUsed[slot] = 0;
}

TRemovedOnSignal::TRemovedOnSignal(const std::string& folder, const std::vector<std::string>& files) {
    TSignalBlock block;
    for (const std::string& file : files) slots_.push_back(RemoveOnSignal(file));
    slots_.push_back(RemoveOnSignal(folder, true));
}

TRemovedOnSignal::~TRemovedOnSignal() {
    for (int slot : slots_) ForgetOnSignal(slot);
}

TGroupEndedOnSignal::TGroupEndedOnSignal(const std::function<pid_t()>& start) {
    TSignalBlock block;
    InstallHandlersOnce();
    group_ = start();
    gGroupToEnd = group_;
}

TGroupEndedOnSignal::~TGroupEndedOnSignal() { gGroupToEnd = 0; }

}  // namespace vorn::tools
