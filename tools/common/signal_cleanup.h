// Clean-up when a signal ends the process: temporary files and folders
// removed, a child's process group ended. One handler serves every signal
// that ends a process by default and can be caught; a signal the caller
// ignores (nohup, a background job) stays ignored.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vorn::tools {

// Holds those signals off while it lives.
class TSignalBlock {
public:
    TSignalBlock();
    ~TSignalBlock();
    TSignalBlock(const TSignalBlock&) = delete;
    TSignalBlock& operator=(const TSignalBlock&) = delete;

private:
    sigset_t saved_;
};

// Names a file (or an empty folder) to remove when a signal ends the
// process; call with the signals blocked. Gives the slot to forget it by,
// or -1 when every slot is taken: it is then removed on the ordinary ways
// out only.
int RemoveOnSignal(const std::string& path, bool folder = false);
void ForgetOnSignal(int slot);  // -1 is no slot

// Removes a folder of the process's own, with the files named in it, when a
// signal ends the process while this object lives (as above); the
// ordinary ways out are the owner's to clean up. A file that someone else
// put there keeps the folder.
class TRemovedOnSignal {
public:
    TRemovedOnSignal(const std::string& folder, const std::vector<std::string>& files);
    ~TRemovedOnSignal();
    TRemovedOnSignal(const TRemovedOnSignal&) = delete;
    TRemovedOnSignal& operator=(const TRemovedOnSignal&) = delete;

private:
    std::vector<int> slots_;  // -1 for a name that found no free slot
};

// Ends a child's process group (SIGKILL) when a SIGINT, SIGTERM or SIGHUP
// ends the process while this object lives. start() starts the child in a
// group of its own and returns the group; it runs with those signals blocked,
// so that none falls between the start and the registration. One at a time.
class TGroupEndedOnSignal {
public:
    explicit TGroupEndedOnSignal(const std::function<pid_t()>& start);
    ~TGroupEndedOnSignal();
    TGroupEndedOnSignal(const TGroupEndedOnSignal&) = delete;
    TGroupEndedOnSignal& operator=(const TGroupEndedOnSignal&) = delete;

    pid_t Group() const { return group_; }

private:
    pid_t group_ = 0;
};

}  // namespace vorn::tools
