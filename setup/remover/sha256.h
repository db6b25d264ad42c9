// SHA-256 (FIPS 180-4): the remover's test of whether an installed file is
// still the one its package wrote. vornpack records the digests, so both
// sides use this one implementation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vorn::setup {

using TDigest = std::array<uint8_t, 32>;

// Which code hashes: the processor's SHA instructions where it has them,
// or the portable rounds everywhere (the tests run both).
enum class Sha256Code { Fastest, Portable };

class TSha256 {
public:
    explicit TSha256(Sha256Code code = Sha256Code::Fastest);
    void Add(const uint8_t* data, size_t size);
    // The digest of everything added; the object is spent afterwards.
    TDigest Finish();

private:
    // The state after `blocks` 64-byte blocks more.
    using TCompress = void (*)(uint32_t* state, const uint8_t* data, size_t blocks);

    TCompress compress_;
    std::array<uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<uint8_t, 64> block_{};
    size_t held_ = 0;        // bytes waiting in block_
    uint64_t length_ = 0;    // bytes added in all
};

// 64 lowercase hexadecimal digits.
std::string DigestText(const TDigest& digest);

}  // namespace vorn::setup
