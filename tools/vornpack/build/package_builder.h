// Writes an installer: the stub image, the package (title, entries, end
// marker), zeros up to a multiple of 8 bytes for signing tools, and the
// trailer that points at the package's start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compress/events.h"
#include "compress/stream.h"
#include "tools/vornpack/manifest/manifest.h"
#include "tools/vornpack/build/source_file.h"

namespace vorn::pack {

inline constexpr uint8_t kHeaderless = 0xFF;

struct TBuiltEntry {
    std::string destination;
    uint8_t method = 0;       // method index written, kHeaderless for a headerless entry
    int64_t size = 0;         // of the source file
    uint32_t streamLength = 0;
    TInstalledBytes installed;  // what the installer writes, from the bytes the build took
};

// The bytes of an entry made from the entries built before it (the
// uninstall record) rather than read from a source.
using EntryMaker = std::function<std::string(const std::vector<TBuiltEntry>& before)>;

// Called once per entry before the build starts; returns the progress
// handler for that entry (empty for none). Handlers run on worker threads.
using EntryProgress = std::function<TShowProgressEvent(const TFileEntry& entry, size_t index)>;

struct TBuildSettings {
    size_t jobs = 1;  // entries compressed at once, each on a thread of its own
    EntryProgress progress;
    // A solid build's chains are cut to about this size: large enough to
    // share much, small enough that the chains keep the threads busy.
    int64_t chainTarget = int64_t{32} << 20;
    EntryMaker make;  // for the entries marked made
};

// Reads each source once, from one handle. Raises EManifestError for a
// source that cannot go into an installer (a locked or unreadable prepared
// stream, a package over 2 GiB, a file that is no longer a regular file or
// changed while it was read) and
// EStreamError for I/O failures. The output depends only on the stub, the
// manifest and the source files, whatever the number of jobs.
std::vector<TBuiltEntry> BuildInstaller(const TManifest& manifest, const std::vector<uint8_t>& stub,
                                       TStream& out, const TBuildSettings& settings = {});

}  // namespace vorn::pack
