#include "setup/remover/sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define VORN_SHA_INSTRUCTIONS 1
#endif

namespace vorn::setup {

namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// One round; wk is the round's schedule word plus its constant. Rather than
// shifting the eight working words along, each call names them one place
// further on, so that they stay in registers; only d and h change.
[[gnu::always_inline]] inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f,
                                         uint32_t g, uint32_t& h, uint32_t wk) {
    const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + wk;
    const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

void CompressBlock(uint32_t* state, const uint8_t* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = BigEndian32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    for (int i = 0; i < 64; ++i) w[i] += kRoundConstants[i];
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; i += 8) {
        Round(a, b, c, d, e, f, g, h, w[i]);
        Round(h, a, b, c, d, e, f, g, w[i + 1]);
        Round(g, h, a, b, c, d, e, f, w[i + 2]);
        Round(f, g, h, a, b, c, d, e, w[i + 3]);
        Round(e, f, g, h, a, b, c, d, w[i + 4]);
        Round(d, e, f, g, h, a, b, c, w[i + 5]);
        Round(c, d, e, f, g, h, a, b, w[i + 6]);
        Round(b, c, d, e, f, g, h, a, w[i + 7]);
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

void CompressPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) CompressBlock(state, data);
}

#ifdef VORN_SHA_INSTRUCTIONS
// The processor's SHA instructions, five times as fast as the rounds above.
// They keep the working words as two halves, ABEF and CDGH (the highest
// lane first), and take the schedule four words at a time.
#define VORN_SHA_CODE __attribute__((target("sha,sse4.1")))

VORN_SHA_CODE inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Four rounds: sha256rnds2 does two, with the words in the low half.
VORN_SHA_CODE inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i w, int round) {
    const __m128i wk = _mm_add_epi32(w, Load(kRoundConstants + round));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// The next four schedule words from the last sixteen, w0 the oldest four.
VORN_SHA_CODE inline __m128i NextWords(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    return _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4)), w3);
}

VORN_SHA_CODE void CompressWithInstructions(uint32_t* state, const uint8_t* data, size_t blocks) {
    const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0b, 0x0405060700010203);
    const __m128i cdab = _mm_shuffle_epi32(Load(state), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(Load(state + 4), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w0 = _mm_shuffle_epi8(Load(data), bigEndian);
        __m128i w1 = _mm_shuffle_epi8(Load(data + 16), bigEndian);
        __m128i w2 = _mm_shuffle_epi8(Load(data + 32), bigEndian);
        __m128i w3 = _mm_shuffle_epi8(Load(data + 48), bigEndian);
        for (int round = 0;; round += 16) {
            FourRounds(abef, cdgh, w0, round);
            FourRounds(abef, cdgh, w1, round + 4);
            FourRounds(abef, cdgh, w2, round + 8);
            FourRounds(abef, cdgh, w3, round + 12);
            if (round == 48) break;
            w0 = NextWords(w0, w1, w2, w3);
            w1 = NextWords(w1, w2, w3, w0);
            w2 = NextWords(w2, w3, w0, w1);
            w3 = NextWords(w3, w0, w1, w2);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// Asked of the processor directly, as the LZM expander's CRC does: the
// compiler's feature check brings start-up code along.
bool HasShaInstructions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_SSE4_1) == 0) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
}
#endif

}  // namespace

TSha256::TSha256(Sha256Code code) : compress_(CompressPortable) {
#ifdef VORN_SHA_INSTRUCTIONS
    if (code == Sha256Code::Fastest && HasShaInstructions()) compress_ = CompressWithInstructions;
#else
    (void)code;
#endif
}

void TSha256::Add(const uint8_t* data, size_t size) {
    length_ += size;
    if (held_ > 0) {
        const size_t taken = std::min(size, block_.size() - held_);
        std::memcpy(block_.data() + held_, data, taken);
        held_ += taken, data += taken, size -= taken;
        if (held_ < block_.size()) return;
        compress_(state_.data(), block_.data(), 1);
        held_ = 0;
    }
    const size_t blocks = size / block_.size();
    compress_(state_.data(), data, blocks);
    data += blocks * block_.size(), size -= blocks * block_.size();
    std::memcpy(block_.data(), data, size);
    held_ = size;
}

TDigest TSha256::Finish() {
    const uint64_t bits = length_ * 8;
    const uint8_t one = 0x80;
    Add(&one, 1);
    const uint8_t zero = 0;
    while (held_ != block_.size() - 8) Add(&zero, 1);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Add(tail, sizeof tail);
    TDigest digest;
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string DigestText(const TDigest& digest) {
    std::string text;
    for (uint8_t byte : digest) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

}  // namespace vorn::setup
