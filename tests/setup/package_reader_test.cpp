// The package reader: where the trailer lies in signed and unsigned files,
// and damaged packages that must stop with an error instead of reading on.
// Reading the fields of a sound package is the installer tests' part.
#include <gtest/gtest.h>

#include <tuple>

#include "setup/package_reader.h"
#include "setup/setup_errors.h"
#include "tests/setup/package_builder.h"
#include "tests/support/test_support.h"

namespace vorn::setup {
namespace {

using test::AsBytes;
using test::Bytes;
using vorn::test::Hex;

// A minimal GUI program, PE32 for i386 or PE32+ for x64: one section of
// 0x200 raw bytes at 0x200, and the given certificate directory (a file
// offset and a size).
Bytes PeImage(uint16_t magic = pe::kOptionalMagicPe32, uint32_t certificateOffset = 0, uint32_t certificateSize = 0) {
    const bool plus = magic == pe::kOptionalMagicPe32Plus;
    const size_t optional = 0x58, optionalSize = plus ? 0xF0 : 0xE0;
    Bytes image(0x400, 0);
    auto put = [&](size_t at, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, Hex("4D 5A")), put(0x3C, Hex("40")), put(0x40, Hex(plus ? "50 45 00 00 64 86 01 00" : "50 45 00 00 4C 01 01 00"));
    put(0x54, {static_cast<uint8_t>(optionalSize)}), put(optional, {static_cast<uint8_t>(magic), static_cast<uint8_t>(magic >> 8)});
    put(optional + 68, Hex("02")), put(optional + (plus ? 108 : 92), Hex("10"));  // GUI, 16 directories
    put(optional + (plus ? 144 : 128), test::WithTrailer(test::WithTrailer({}, certificateOffset), certificateSize));
    put(optional + optionalSize + 16, Hex("00 02 00 00 00 02 00 00"));
    return image;
}

// A signed file: the trailer sits right before a certificate table that
// closes the file; any other directory leaves it at the file's end, or, when
// it lies, stops the reader before it reads anything.
TEST(PackageReader, CertificateDirectoryPlacesTheTrailer) {
    for (const auto& [magic, machine] : {std::pair(pe::kOptionalMagicPe32, pe::kMachineI386),
                                        std::pair(pe::kOptionalMagicPe32Plus, pe::kMachineAmd64)}) {
        SCOPED_TRACE(magic);
        TMemoryStream pe(PeImage(magic));
        const TPeHeaders h = ReadPeHeaders(pe);
        EXPECT_EQ(std::tuple(h.imageEnd, h.machine, h.optionalMagic, h.subsystem),
                  std::tuple(0x400, machine, magic, pe::kSubsystemWindowsGui));
        const uint32_t end = static_cast<uint32_t>(test::InstallerBytes(PeImage(magic), {"T", {}}).size());
        const struct { const char* name; uint32_t offset, size, appended, signature; bool found; } cases[] = {
            {"absent", 0, 0, 0, 0, true},
            {"closing the file", end, 24, 24, 24, true},
            {"inside the image", 0x300, 16, 0, 0, true},
            {"not reaching the end", end, 16, 24, 0, false},  // the last 4 bytes are no trailer
            {"past the end", end - 8, 16, 0, 0, false},  // though the last 4 bytes are the trailer
            {"size wrapping to the end in 32 bits", end + 16, 0xFFFFFFF0, 0, 0, false}};
        for (const auto& c : cases) {
            Bytes file = test::InstallerBytes(PeImage(magic, c.offset, c.size), {"T", {}});
            file.resize(file.size() + c.appended, 0xEE);
            TMemoryStream stream(file);
            TPackageReader reader(stream);
            if (!c.found) { EXPECT_THROW(reader.Locate(), EPackageError) << c.name; continue; }
            reader.Locate();
            EXPECT_EQ(reader.ReadField(), "T") << c.name;
            EXPECT_EQ(reader.SignatureSize(), c.signature) << c.name;
        }
    }
}

// Every damaged package stops with EPackageError before anything is read on.
TEST(PackageReader, DamagedPackagesStopWithAPackageError) {
    const Bytes oneEntry = test::PackageBody({"T", {{"c:\\a", '0', {}, "", AsBytes("abc")}}});
    const std::pair<const char*, Bytes> cases[] = {
        {"too short for a trailer", AsBytes("MZ")},
        {"a program without a package", test::WithTrailer(PeImage(), 0)},
        {"a trailer pointing past the end", test::WithTrailer(AsBytes("T||"), 0xFFFFFFFF)},
        {"a trailer pointing at itself", test::WithTrailer(AsBytes("T||"), 3)},
        {"an end inside the title", test::WithTrailer(AsBytes("Title without end"), 0)},
        {"an end inside a shortcut", test::WithTrailer(AsBytes("T|c:\\a|0Desk"), 0)},
        {"an end inside the stream length", test::WithTrailer(AsBytes("T|c:\\a|0||||||\x03"), 0)},
        {"a stream length past the end", test::WithTrailer(Bytes(oneEntry.begin(), oneEntry.end() - 3), 0)},
    };
    for (const auto& [name, file] : cases) {
        TMemoryStream stream(file);
        TPackageReader reader(stream);
        auto readAll = [&] {
            reader.Locate();
            reader.ReadField();
            for (TEntryFields fields; reader.ReadEntryFields(fields);) {
                TNullStream sink;
                reader.CopyStream(sink, reader.ReadStreamLength());
            }
        };
        EXPECT_THROW(readAll(), EPackageError) << name;
    }
}

}  // namespace
}  // namespace vorn::setup
