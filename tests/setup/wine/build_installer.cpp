// Test helper: appends a package to the stub.
//   build_installer STUB OUT TITLE [DEST RUNMODE DESKTOP stored|lh5|lzma|solid|raw FILE]...
// Each entry has only a Desktop shortcut (may be empty) and replace rule "0";
// "stored", "lh5" and "lzma" make a stream of that method (lzma as vornpack
// writes it), "solid" entries are the links of one LZMA chain, "raw" keeps
// the file's bytes without a stream header.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "compress/lzma/lzma_chain.h"
#include "compress/lzma/lzma_compress.h"
#include "compress/vorn_header.h"
#include "tests/setup/package_builder.h"

namespace {

using vorn::setup::test::Bytes;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read a file: " + std::string(path));
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes LzmaStream(const Bytes& content) {
    vorn::TMemoryStream source(content), stream;
    vorn::TVornCodec codec;
    vorn::lzma::CompressLzmaStream(codec, stream, source, {vorn::lzma::kDefaultLevel, vorn::lzma::FilterSuitedTo(source)});
    return stream.Bytes();
}

Bytes ChainLink(vorn::lzma::TChainEncoder& chain, const Bytes& content) {
    vorn::TMemoryStream source(content), stream;
    vorn::TVornCodec codec;
    chain.AddLink(codec, stream, source);
    return stream.Bytes();
}

vorn::setup::test::TestEntry ParseEntry(char** arg, vorn::lzma::TChainEncoder& chain) {
    const std::string kind = arg[3];
    if (kind != "stored" && kind != "lh5" && kind != "lzma" && kind != "solid" && kind != "raw")
        throw std::runtime_error("kind must be stored, lh5, lzma, solid or raw");
    const Bytes content = ReadAll(arg[4]);
    Bytes stream = kind == "raw"     ? content
                   : kind == "lzma"  ? LzmaStream(content)
                   : kind == "solid" ? ChainLink(chain, content)
                                     : vorn::setup::test::CompressedStream(
                                           content, kind == "lh5" ? vorn::kMethodLh5 : vorn::kMethodStored);
    return {std::string(arg[0]), arg[1][0], {std::string(arg[2]), "", "", "", ""}, "0", std::move(stream)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 4) % 5 != 0) {
        std::cerr << "usage: build_installer STUB OUT TITLE [DEST RUNMODE DESKTOP stored|lh5|lzma|solid|raw FILE]...\n";
        return 2;
    }
    try {
        vorn::setup::test::TestPackage package{argv[3], {}};
        vorn::lzma::TChainEncoder chain(6, 1 << 20);  // the test files are small
        for (int i = 4; i < argc; i += 5) package.Entries.push_back(ParseEntry(argv + i, chain));
        const Bytes installer = vorn::setup::test::InstallerBytes(ReadAll(argv[1]), package);
        std::ofstream(argv[2], std::ios::binary)
            .write(reinterpret_cast<const char*>(installer.data()), static_cast<std::streamsize>(installer.size()));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "build_installer: " << e.what() << "\n";
        return 1;
    }
}
