// Runs every file in the given folders (or the given files) through a fuzz
// target once, so that saved inputs are ordinary tests without libFuzzer.
// Finding no input at all fails: a moved or empty folder would pass unseen.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename() != "README") count += RunFile(entry.path());
        } else if (std::filesystem::exists(path)) {
            count += RunFile(path);
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "no inputs found: nothing was run\n");
        return 1;
    }
    std::printf("%d passed, 0 failed\n", count);
    return 0;
}
