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

// Runs a shell command in dir, its output discarded; returns the exit status.
int RunIn(const fs::path& dir, const std::string& command) {
    return std::system(("cd '" + dir.string() + "' && " + command + " >/dev/null 2>&1").c_str());
}

bool Installed(const std::string& tool) { return RunIn("/", "command -v " + tool) == 0; }

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The CRC-16 of LHA archives: reflected polynomial 0xA001, initial 0.
uint16_t Crc16(const Bytes& data) {
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

// A level-0 archive of one member: header size and checksum, method, sizes,
// DOS time, attribute, level, name, CRC-16 of the original; the codec data;
// the end mark.
Bytes Level0Archive(const std::string& name, const Bytes& codecData, const Bytes& original) {
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
    putLe(Crc16(original), 2);
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

class Lh5Interop : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    // Inputs of every kind: generated text, runs and binary, a real
    // executable, and one of several blocks.
    std::vector<std::pair<std::string, Bytes>> Inputs() const {
        Bytes executable = ReadFile("/proc/self/exe");
        executable.resize(std::min<size_t>(executable.size(), 400000));
        return {
            {"one.txt", Hex("41")},
            {"text.txt", MakeData(DataKind::Text, 70000, 2)},
            {"runs.dat", MakeData(DataKind::Runs, 50000, 3)},
            {"binary.dat", MakeData(DataKind::Binary, 60000, 4)},
            {"program.exe", executable},
            {"large.txt", MakeData(DataKind::Text, 2u << 20, 5)},
        };
    }

    const fs::path dir_ = fs::temp_directory_path() / ("vorn-lh5-interop-" + std::to_string(::getpid()));
};

TEST_F(Lh5Interop, PeersVerifyOurCodecData) {
    std::vector<std::string> tools;
    if (Installed("lhasa")) tools.push_back("lhasa t");
    if (Installed("7zz")) tools.push_back("7zz t");
    if (tools.empty()) GTEST_SKIP() << "neither lhasa nor 7zz is installed (scripts/bootstrap installs them)";
    for (const auto& [name, input] : Inputs()) {
        const Bytes codecData = CodecCompress(input, kMethodLh5);
        WriteFile(dir_ / "good.lzh", Level0Archive(name, codecData, input));
        Bytes damaged = codecData;
        damaged[damaged.size() / 2] ^= 0x21;
        WriteFile(dir_ / "bad.lzh", Level0Archive(name, damaged, input));
        for (const std::string& tool : tools) {
            EXPECT_EQ(RunIn(dir_, tool + " good.lzh"), 0) << tool << " " << name;
            EXPECT_TRUE(input.size() == 1 || RunIn(dir_, tool + " bad.lzh") != 0) << tool << " " << name;
        }
    }
}

TEST_F(Lh5Interop, WeExpandWhatJlhaCompresses) {
    if (!Installed("jlha")) GTEST_SKIP() << "jlha is not installed (scripts/bootstrap installs jlha-utils)";
    for (const auto& [name, input] : Inputs()) {
        if (input.size() < 100) continue;  // tiny members are stored, not coded
        WriteFile(dir_ / name, input);
        fs::remove(dir_ / "made.lzh");
        ASSERT_EQ(RunIn(dir_, "jlha a made.lzh '" + name + "'"), 0) << name;
        const auto [method, codecData] = FirstMember(ReadFile(dir_ / "made.lzh"));
        ASSERT_EQ(method, "-lh5-") << name;
        EXPECT_EQ(CodecExpand(codecData, kMethodLh5, input.size()), input) << name;
    }
}

}  // namespace
}  // namespace vorn::test
