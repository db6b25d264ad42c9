// The file and memory streams.
#include <gtest/gtest.h>

#include <filesystem>

#include "compress/exceptions.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

TEST(FileStream, CreateTruncatesReadCountsSetSizeAndCopy) {
    const std::string path = (std::filesystem::temp_directory_path() / "vorn_stream_test_a").string();
    TFileStream(path, FileMode::Create).Write("0123456789", 10);
    TFileStream(path, FileMode::Create).Write("abc", 3);  // truncates
    TFileStream f(path, FileMode::OpenRead);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf) + f.Read(buf + 3, sizeof buf - 3), 3u);
    EXPECT_STREQ(buf, "abc");
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
