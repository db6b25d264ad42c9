// Exception classes of the compression component. Every failure has a class
// of its own with a fixed message; all derive from EVornError.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vorn {

// Common base: a message text and a help context, nothing more.
class EVornError : public std::exception {
public:
    explicit EVornError(std::string message, int32_t helpContext = 0)
        : Message(std::move(message)), HelpContext(helpContext) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
    int32_t HelpContext;
};

inline constexpr const char* kArchiveTypeMessage =
    "Expand can't handle caMulti archive type in compressed header";
inline constexpr const char* kBadChecksumMessage =
    "Bad checksum during expansion -- data may be invalid";
inline constexpr const char* kInvalidKeyMessage = "File locked -- valid key required";
inline constexpr const char* kBadDecodeTableMessage = "Bad decode table in archive!";
inline constexpr const char* kUnableToCompressMessage =
    "Could not compress data, will store instead";

class EUnrecognizedCompressionMethod : public EVornError {
public:
    explicit EUnrecognizedCompressionMethod(const std::string& compressId)
        : EVornError("Unrecognized compression method: \"" + compressId + "\" in header") {}
};

class EInvalidHeaderArchiveType : public EVornError {
public:
    EInvalidHeaderArchiveType() : EVornError(kArchiveTypeMessage) {}
};

class EBadChecksum : public EVornError {
public:
    EBadChecksum() : EVornError(kBadChecksumMessage) {}
};

// Raised for codec data damaged in a way the expander can name (a head out
// of range, a link out of its place in a chain): the words say which.
class EDamagedStream : public EVornError {
public:
    explicit EDamagedStream(const char* what) : EVornError(std::string("Damaged stream: ") + what) {}
};

class EInvalidKey : public EVornError {
public:
    EInvalidKey() : EVornError(kInvalidKeyMessage) {}
};

class ELZHBadDecodeTable : public EVornError {
public:
    ELZHBadDecodeTable() : EVornError(kBadDecodeTableMessage) {}
};

class EUnableToCompress : public EVornError {
public:
    EUnableToCompress() : EVornError(kUnableToCompressMessage) {}
};

// Raised by streams: a file that cannot be opened, created, read or written.
class EStreamError : public EVornError {
public:
    using EVornError::EVornError;
};

// Raised by a compressing operation whose progress handler asked to stop.
class EOperationCancelled : public EVornError {
public:
    EOperationCancelled() : EVornError("Operation cancelled") {}
};

}  // namespace vorn
