// The LZM expander against liblzma's encoder and x86 converter.
#include <gtest/gtest.h>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_method.h"
#include "tests/lzma/lzma_reference.h"
#include "tests/support/test_support.h"

namespace vorn::test {
namespace {

Bytes ExpandLzm(const Bytes& stream) {
    TVornCodec codec;
    lzma::UseLzmaMethod(codec);
    return ExpandBytes(codec, stream);
}

TEST(LzmaExpand, Smoke) {
    for (size_t size : {0, 1, 100, 8193, 300000}) {
        for (DataKind kind : {DataKind::Text, DataKind::Binary, DataKind::Random}) {
            for (bool marker : {true, false}) {
                const Bytes input = MakeData(kind, size);
                TLzmaCase c;
                c.EndMarker = marker;
                c.Dictionary = 4096;
                EXPECT_EQ(ExpandLzm(LzmStream(input, c)), input) << size << " " << KindName(kind) << marker;
            }
        }
    }
}

}  // namespace
}  // namespace vorn::test
