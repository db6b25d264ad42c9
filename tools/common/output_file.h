// An output file that appears under its name only when complete.
//
// A regular file (new or existing) is written into an unnamed file in its
// folder (O_TMPFILE), mode 0600, that Commit() links into place: a process
// killed in any way leaves nothing behind. Where the file system has no
// unnamed files, it is written under an unpredictable name beside it,
// created exclusively, removed without Commit() and on any signal that ends
// the process by default and can be caught. Commit() gives it the replaced
// file's permission bits, never setuid, setgid or sticky (a new file gets
// 0666 less the umask). When the name is a symbolic link, the link stays and
// the file it leads to is replaced; a link that leads nowhere is refused.
//
// Anything else is written in place, never renamed over: "-" or any name of
// the standard output (/dev/stdout, a file that is the open stdout) writes
// to descriptor 1; a device or a FIFO is opened and written. A caller that
// seeks back (OutputAccess::Seekable) then writes into an unnamed temporary
// file that Commit() copies out.
//
// Writes are gathered into large ones (TBufferedStream).
#pragma once

#include <memory>
#include <string>

#include "compress/stream.h"
#include "tools/common/buffered_stream.h"

namespace vorn::tools {

enum class OutputAccess { Sequential, Seekable };
// What becomes of a file already under the name: replaced, or kept (the
// output is then refused, however late the file appeared).
enum class Existing { Replace, Keep };

class TOutputFile {
public:
    explicit TOutputFile(std::string path, OutputAccess access = OutputAccess::Sequential);
    // The regular file NAME in the open folder FOLDER (kept open by the
    // caller), never through a link: a link or anything but a regular file
    // under that name is refused. PATH names it in messages.
    TOutputFile(int folder, std::string name, std::string path, Existing existing = Existing::Replace);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    TStream& Stream() { return *buffered_; }
    void Commit();
    // The data goes to standard output: reports belong on stderr.
    bool IsStandardOutput() const { return toStdout_; }

private:
    void OpenTemporary(const std::string& folderPath);
    void OpenStreams(OutputAccess access);
    void LinkIntoPlace();
    void Discard();  // closes everything; removes the temporary file unless committed
    void ReleaseSlot();

    std::string path_;
    int folder_ = -1;         // holds the file; -1: written in place
    bool ownsFolder_ = false;
    std::string name_;        // the file's name in folder_
    std::string tempName_;    // the named temporary file's, or the unnamed one's on its way in place
    bool unnamed_ = false;    // fd_ is an O_TMPFILE file
    int slot_ = -1;           // of the named temporary file among the names removed on a signal
    unsigned mode_ = 0;       // given to the file on Commit()
    int fd_ = -1;             // the output itself: the temporary file, a device or stdout
    bool toStdout_ = false;
    std::unique_ptr<TStream> direct_;   // over fd_
    std::unique_ptr<TStream> staging_;  // a seekable stand-in for an output that cannot seek
    std::unique_ptr<TBufferedStream> buffered_;
    bool committed_ = false;
    Existing existing_ = Existing::Replace;
};

}  // namespace vorn::tools
