// Interoperability with the LHA-format tools Debian packages, run as black
// boxes: they verify our codec data wrapped in a minimal archive, and our
// expander reads the codec data of the archives jlha makes. Each test skips
// when its tool is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "compress/vorn_header.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

namespace fs = std::filesystem;
const fs::path kDir = fs::temp_directory_path() / ("vorn-lh5-interop-" + std::to_string(::getpid()));

// Runs a shell command in kDir, its output discarded; returns the exit status.
int Shell(const std::string& command) {
    return std::system(("cd '" + kDir.string() + "' && " + command + " >/dev/null 2>&1").c_str());
}

void WriteFile(const std::string& name, const Bytes& bytes) {
    std::ofstream(kDir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A level-0 archive of one member: header size and checksum, method, sizes,
// DOS time, attribute, level, name, CRC-16 of the original (reflected
// polynomial 0xA001, initial 0); the codec data; the end mark.
Bytes Level0Archive(const std::string& name, const Bytes& codecData, const Bytes& original) {
    uint16_t crc = 0;
    for (uint8_t b : original) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    Bytes header = Text("-lh5-");
    auto putLe = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) header.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    putLe(static_cast<uint32_t>(codecData.size()), 4);
    putLe(static_cast<uint32_t>(original.size()), 4);
    putLe(0x5A8C6000, 4);  // 2025-04-12 12:00:00
    putLe(0x20, 2);        // attribute, level 0
    header.push_back(static_cast<uint8_t>(name.size()));
    header.insert(header.end(), name.begin(), name.end());
    putLe(crc, 2);
    Bytes archive(2 + header.size());
    archive[0] = static_cast<uint8_t>(header.size());
    archive[1] = static_cast<uint8_t>(ByteSum(header));
    std::copy(header.begin(), header.end(), archive.begin() + 2);
    archive.insert(archive.end(), codecData.begin(), codecData.end());
    archive.push_back(0);
    return archive;
}

// The method and codec data of the first member of a level-2 archive, as jlha writes them.
std::pair<std::string, Bytes> FirstMember(const Bytes& archive) {
    auto le = [&](size_t at, int bytes) {
        size_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | archive.at(at + static_cast<size_t>(i));
        return value;
    };
    const size_t start = le(0, 2), packed = le(7, 4);
    if (archive.at(20) != 2 || start + packed > archive.size()) throw std::runtime_error("unexpected archive layout");
    const auto from = archive.begin() + static_cast<std::ptrdiff_t>(start);
    return {std::string(archive.begin() + 2, archive.begin() + 7), Bytes(from, from + static_cast<std::ptrdiff_t>(packed))};
}

// Inputs of every kind: generated text, runs and binary, a real executable,
// and one of several blocks.
std::vector<std::pair<std::string, Bytes>> Inputs() {
    Bytes executable = ReadFile("/proc/self/exe");
    executable.resize(std::min<size_t>(executable.size(), 400000));
    return {{"one.txt", Hex("41")},
            {"text.txt", MakeData(DataKind::Text, 70000, 2)},
            {"runs.dat", MakeData(DataKind::Runs, 50000, 3)},
            {"binary.dat", MakeData(DataKind::Binary, 60000, 4)},
            {"program.exe", executable},
            {"large.txt", MakeData(DataKind::Text, 2u << 20, 5)}};
}

class Lh5Interop : public ::testing::Test {
    void SetUp() override { fs::create_directories(kDir); }
    void TearDown() override { fs::remove_all(kDir); }
};

TEST_F(Lh5Interop, PeersVerifyOurCodecData) {
    std::vector<std::string> tools;
    for (const char* tool : {"lhasa", "7zz"})
        if (Shell(std::string("command -v ") + tool) == 0) tools.push_back(tool + std::string(" t"));
    if (tools.empty()) GTEST_SKIP() << "neither lhasa nor 7zz is installed (scripts/bootstrap installs them)";
    for (const auto& [name, input] : Inputs()) {
        const Bytes codecData = CodecCompress(input, kMethodLh5);
        WriteFile("good.lzh", Level0Archive(name, codecData, input));
        Bytes damaged = codecData;
        damaged[damaged.size() / 2] ^= 0x21;
        WriteFile("bad.lzh", Level0Archive(name, damaged, input));
        for (const std::string& tool : tools) {
            EXPECT_EQ(Shell(tool + " good.lzh"), 0) << tool << " " << name;
            EXPECT_TRUE(input.size() == 1 || Shell(tool + " bad.lzh") != 0) << tool << " " << name;
        }
    }
}

TEST_F(Lh5Interop, WeExpandWhatJlhaCompresses) {
    if (Shell("command -v jlha") != 0) GTEST_SKIP() << "jlha is not installed (scripts/bootstrap installs jlha-utils)";
    for (const auto& [name, input] : Inputs()) {
        if (input.size() < 100) continue;  // tiny members are stored, not coded
        WriteFile(name, input);
        fs::remove(kDir / "made.lzh");
        ASSERT_EQ(Shell("jlha a made.lzh '" + name + "'"), 0) << name;
        const auto [method, codecData] = FirstMember(ReadFile(kDir / "made.lzh"));
        ASSERT_EQ(method, "-lh5-") << name;
        EXPECT_EQ(CodecExpand(codecData, kMethodLh5, input.size()), input) << name;
    }
}

}  // namespace
}  // namespace vorn::test
