#include "setup/package_reader.h"

#include "compress/byte_order.h"
#include "setup/setup_errors.h"

namespace vorn::setup {

void TPackageReader::Locate() {
    const int64_t size = file_.Size();
    const TPeHeaders pe = ReadPeHeaders(file_);
    end_ = size - kTrailerSize;
    const TDataDirectory certificate = pe.Certificate();
    if (certificate.address != 0 || certificate.size != 0) {
        const int64_t tableEnd = int64_t{certificate.address} + certificate.size;
        if (tableEnd > size) throw EPackageError("The program's certificate table lies outside the file");
        if (tableEnd == size) {
            end_ = int64_t{certificate.address} - kTrailerSize;
            signatureSize_ = certificate.size;
        }
    }
    if (end_ < 0) throw EPackageError("No install package: the file is too short");
    uint8_t trailer[kTrailerSize];
    file_.Seek(end_);
    if (file_.Read(trailer, sizeof trailer) != sizeof trailer)
        throw EPackageError("No install package: its start cannot be read");
    const int64_t start = LoadLe32(trailer);
    if (start > end_) throw EPackageError("The install package's start lies outside the file");
    if (start < pe.imageEnd) throw EPackageError("No install package behind the program");
    file_.Seek(start);
    position_ = start;
}

uint8_t TPackageReader::ReadByte(const char* cutShortMessage) {
    uint8_t b = 0;
    if (position_ >= end_ || file_.Read(&b, 1) != 1) throw EPackageError(cutShortMessage);
    ++position_;
    return b;
}

std::string TPackageReader::ReadField() {
    std::string field;
    for (;;) {
        const char c = static_cast<char>(ReadByte("The install package ends inside a text field"));
        if (c == kFieldSeparator) return field;
        field += c;
    }
}

RunMode TPackageReader::ReadRunMode() {
    const uint8_t b = ReadByte("The install package ends before a run mode");
    if (b < '0' || b > '9')
        throw EConvertError("'" + std::string(1, static_cast<char>(b)) +
                            "' is not a valid run mode digit");
    return static_cast<RunMode>(b);
}

uint32_t TPackageReader::ReadStreamLength() {
    uint8_t bytes[kStreamLengthSize];
    for (uint8_t& b : bytes) b = ReadByte("The install package ends inside a stream length");
    return LoadLe32(bytes);
}

void TPackageReader::CopyStream(TStream& dest, uint32_t length) {
    if (length > end_ - position_)
        throw EPackageError("The install package ends inside a stream");
    dest.CopyFrom(file_, length);
    position_ += length;
}

int64_t TPackageReader::SkipStream(uint32_t length) {
    if (length > end_ - position_)
        throw EPackageError("The install package ends inside a stream");
    const int64_t start = position_;
    position_ += length;
    file_.Seek(position_);
    return start;
}

}  // namespace vorn::setup
