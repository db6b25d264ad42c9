// The installer stub's expansion speed, measured where the stub runs: a
// Win32 console program built with the stub's compiler and flags
// (setup/win32/CMakeLists.txt, target stub_expand_probe, not built by
// default) that expands VORN streams from memory, through TVornCodec with
// the LZM method as the stub registers it, into nothing. Under Wine:
//   wine stub_expand_probe.exe ROUNDS stream...
// prints, per stream, MB/s of expanded data per second of the process's
// CPU time (user and kernel) over all ROUNDS, which is steadier than the
// wall clock on a shared machine (Wine counts it in 10 ms steps: give it a
// second or more), and per second of the fastest round by the wall clock.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "compress/custom_methods.h"
#include "compress/stream.h"
#include "compress/vorn_codec.h"
#include "compress/vorn_header.h"

namespace {

double WallSeconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
}

std::vector<uint8_t> ReadAll(const char* path) {
    vorn::TFileStream file(path, vorn::FileMode::OpenRead);
    std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
    file.Read(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: stub_expand_probe ROUNDS stream...\n");
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    vorn::TVornCodec codec;
    vorn::UseCustomMethods(codec);
    for (int i = 2; i < argc; ++i) {
        vorn::TMemoryStream source(ReadAll(argv[i]));
        double fastest = 1e9;
        int64_t expanded = 0;
        const double cpuStart = CpuSeconds();
        for (int r = 0; r < rounds; ++r) {
            source.Seek(0);
            vorn::TNullStream sink;
            const double start = WallSeconds();
            codec.ExpandStream(sink, source);
            const double seconds = WallSeconds() - start;
            if (seconds < fastest) fastest = seconds;
            expanded += sink.Position();
        }
        const double cpu = CpuSeconds() - cpuStart;
        std::printf("%-28s %8.1f MB/s cpu %8.1f MB/s fastest\n", argv[i], static_cast<double>(expanded) / cpu / 1e6,
                    static_cast<double>(expanded) / rounds / fastest / 1e6);
    }
    return 0;
}
