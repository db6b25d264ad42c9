// TFileStream on Win32 file handles (ANSI paths, as the installer uses).
#include <windows.h>

#include <utility>

#include "compress/exceptions.h"
#include "compress/stream.h"

namespace vorn {

namespace {
HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path) {
    const bool reading = mode == FileMode::OpenRead;
    HANDLE h = ::CreateFileA(path.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    handle_ = reinterpret_cast<intptr_t>(h);
    if (h == INVALID_HANDLE_VALUE) Fail(reading ? "Cannot open file" : "Cannot create file");
}

TFileStream::TFileStream(intptr_t handle, std::string path, Ownership ownership)
    : path_(std::move(path)), handle_(handle), owned_(ownership == Ownership::Owned) {}

TFileStream::~TFileStream() {
    if (owned_ && H(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(H(handle_));
}

void TFileStream::Fail(const char* what) const {
    throw EStreamError(std::string(what) + " \"" + path_ + "\" (error " +
                       std::to_string(::GetLastError()) + ")");
}

int64_t TFileStream::Position() const {
    LARGE_INTEGER zero{}, at{};
    if (!::SetFilePointerEx(H(handle_), zero, &at, FILE_CURRENT)) Fail("Cannot seek in file");
    return at.QuadPart;
}

int64_t TFileStream::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(H(handle_), &size)) Fail("Cannot read the size of file");
    return size.QuadPart;
}

size_t TFileStream::Read(void* buffer, size_t n) {
    size_t total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < n) {
        DWORD want = static_cast<DWORD>(n - total > 0x40000000 ? 0x40000000 : n - total);
        DWORD got = 0;
        if (!::ReadFile(H(handle_), out + total, want, &got, nullptr)) Fail("Cannot read file");
        if (got == 0) break;
        total += got;
    }
    return total;
}

void TFileStream::Write(const void* buffer, size_t n) {
    auto* in = static_cast<const char*>(buffer);
    while (n > 0) {
        DWORD want = static_cast<DWORD>(n > 0x40000000 ? 0x40000000 : n);
        DWORD put = 0;
        if (!::WriteFile(H(handle_), in, want, &put, nullptr) || put == 0) Fail("Cannot write file");
        in += put;
        n -= put;
    }
}

void TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    if (!::SetFilePointerEx(H(handle_), to, nullptr,
                            origin == SeekOrigin::Begin ? FILE_BEGIN : FILE_END))
        Fail("Cannot seek in file");
}

void TFileStream::SetSize(int64_t newSize) {
    int64_t keep = Position();
    Seek(newSize);
    if (!::SetEndOfFile(H(handle_))) Fail("Cannot resize file");
    Seek(keep < newSize ? keep : newSize);
}

}  // namespace vorn
