#include "tools/vornpack/read/package_contents.h"

#include <algorithm>

#include "compress/exceptions.h"
#include "compress/lzma/lzma_format.h"
#include "setup/package_reader.h"
#include "setup/setup_errors.h"
#include "tools/common/buffered_stream.h"

namespace vorn::pack {

namespace {

// The head of an "LZM" stream; nothing for any other stream.
std::optional<lzma::TLzmaHead> LzmaHeadOf(const TVornHeader& header, TStream& stream) {
    if (header.Id() != lzma::kMethodId) return std::nullopt;
    stream.Seek(kHeaderSize);
    return lzma::PeekLzmaHead(stream);
}

// The stretch [start, start + length) of a stream, read as a stream of its
// own, where it lies: an entry's stream is never held whole.
class TStreamWindow : public TStream {
public:
    TStreamWindow(TStream& inner, int64_t start, int64_t length) : inner_(inner), start_(start), length_(length) {
        inner_.Seek(start_);
    }

    int64_t Position() const override { return position_; }
    int64_t Size() const override { return length_; }
    size_t Read(void* buffer, size_t n) override {
        const size_t got = inner_.Read(buffer, static_cast<size_t>(std::min<int64_t>(n, length_ - position_)));
        position_ += static_cast<int64_t>(got);
        return got;
    }
    void Write(const void*, size_t) override { ReadOnly(); }
    void Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override {
        position_ = std::clamp<int64_t>(origin == SeekOrigin::End ? length_ + offset : offset, 0, length_);
        inner_.Seek(start_ + position_);
    }
    void SetSize(int64_t) override { ReadOnly(); }

private:
    [[noreturn]] static void ReadOnly() { throw EStreamError("An installer's entry cannot be written"); }

    TStream& inner_;
    const int64_t start_;
    const int64_t length_;
    int64_t position_ = 0;
};

}  // namespace

void RequirePackage(TStream& installer) {
    const setup::TDataDirectory certificate = setup::ReadPeHeaders(installer).Certificate();
    const int64_t tableEnd = int64_t{certificate.address} + certificate.size;
    if (tableEnd > installer.Size()) throw setup::EPackageError("The program's certificate table lies outside the file");
    if (tableEnd != 0 && tableEnd < installer.Size()) throw setup::EPackageError("The program's certificate table is not at the end of the file");
    try {
        setup::TPackageReader(installer).Locate();
    } catch (const setup::EPackageError&) {
        throw ENoPackage("not a vorn installer: it carries no install package (" + std::to_string(installer.Size()) +
                         " bytes)");
    }
}

uint32_t WalkPackage(TStream& installer, const TPackageVisitor& visitor) {
    RequirePackage(installer);
    // The reader takes the fields a byte at a time: one system call each
    // without the buffer, seconds for a long field.
    tools::TBufferedStream buffered(installer);
    setup::TPackageReader reader(buffered);
    reader.Locate();
    const std::string title = reader.ReadField();
    if (visitor.title) visitor.title(title);
    for (size_t index = 1;; ++index) {
        TPackageEntry entry;
        entry.index = index;
        if (!reader.ReadEntryFields(entry)) return reader.SignatureSize();
        entry.streamLength = reader.ReadStreamLength();
        const int64_t start = reader.SkipStream(entry.streamLength);
        TStreamWindow stream(buffered, start, entry.streamLength);
        if (const std::optional<TVornHeader> header = PeekHeader(stream)) {
            entry.header = *header;
            entry.hasHeader = true;
            if (const std::optional<lzma::TLzmaHead> head = LzmaHeadOf(*header, stream)) {
                if (head->Chained) entry.chainOffset = head->ChainOffset;
                if (head->Seeded()) entry.seedSize = head->SeedSize;
            }
        }
        stream.Seek(0);
        if (visitor.entry) visitor.entry(entry, stream);
        buffered.Seek(start + entry.streamLength);
    }
}

std::string DescribeRunMode(setup::RunMode runMode) {
    if (runMode == setup::RunMode::Now) return "now";
    if (runMode == setup::RunMode::AtEnd) return "at-end";
    return "never";
}

std::string DescribeReplace(const std::string& rule) {
    switch (setup::ReplaceOf(rule)) {
        case setup::Replace::Never: return "never";
        case setup::Replace::Ask: return "ask: " + rule.substr(1);
        case setup::Replace::Always: break;
    }
    return "always";
}

std::string MethodName(const TPackageEntry& entry) {
    return entry.hasHeader ? entry.header.Id() : "headerless";
}

}  // namespace vorn::pack
