// Streams: the file stream on disk, and the memory stream's edges.
#include <gtest/gtest.h>

#include <filesystem>

#include "compress/exceptions.h"
#include "compress/stream.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("vorn_stream_test_" + name)).string();
}

TEST(FileStream, CreateTruncatesReadCountsSetSizeAndCopy) {
    const std::string path = TempPath("a");
    {
        TFileStream f(path, FileMode::Create);
        f.Write("0123456789", 10);
    }
    {
        TFileStream f(path, FileMode::Create);  // truncates
        f.Write("abc", 3);
    }
    TFileStream f(path, FileMode::OpenRead);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(f.Read(buf, sizeof buf), 0u);
    f.Seek(-2, SeekOrigin::End);
    EXPECT_EQ(f.Position(), 1);
    EXPECT_THROW(f.Write("x", 1), EStreamError) << "opened read-only";

    TFileStream g(path, FileMode::Create);
    TMemoryStream source(MakeData(DataKind::Random, 100000));
    g.CopyFrom(source, 100000);
    g.SetSize(10);
    EXPECT_EQ(g.Size() + g.Position(), 20);
    source.Seek(0);
    EXPECT_THROW(g.CopyFrom(source, 100001), EStreamError) << "the source ends first";
    std::filesystem::remove(path);
}

TEST(MemoryStream, WritingPastTheEndGrowsAndSetSizeClampsThePosition) {
    TMemoryStream m;
    m.Seek(3);
    m.Write("x", 1);
    EXPECT_EQ(m.Bytes(), Hex("00 00 00 78"));
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2);
    char c;
    EXPECT_EQ(m.Read(&c, 1), 0u);
    EXPECT_THROW(m.Seek(-3, SeekOrigin::End), EStreamError);
}

}  // namespace
}  // namespace vorn::test
