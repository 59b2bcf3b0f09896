#include "sha256.h"

#include <cstring>

#include "secret.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// Round constants K0..K63 of FIPS 180-4: the first 32 bits of the fractional
// parts of the cube roots of the first 64 primes.
constexpr std::uint32_t k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// Initial hash value H(0): the first 32 bits of the fractional parts of the
// square roots of the first 8 primes.
constexpr ringtrap::Sha256State kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr std::uint32_t rotr(std::uint32_t x, int c) noexcept { return (x >> c) | (x << (32 - c)); }
constexpr std::uint32_t ch(std::uint32_t x, std::uint32_t y, std::uint32_t z) noexcept { return (x & y) ^ (~x & z); }
constexpr std::uint32_t maj(std::uint32_t x, std::uint32_t y, std::uint32_t z) noexcept { return (x & y) ^ (x & z) ^ (y & z); }
constexpr std::uint32_t big_sigma0(std::uint32_t x) noexcept { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
constexpr std::uint32_t big_sigma1(std::uint32_t x) noexcept { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
constexpr std::uint32_t small_sigma0(std::uint32_t x) noexcept { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
constexpr std::uint32_t small_sigma1(std::uint32_t x) noexcept { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

std::uint32_t load_be32(const std::uint8_t* p) noexcept {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

void store_be32(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

// The compression function on a block already split into its sixteen
// big-endian message words.
void ringtrap::sha256_compress_portable(const std::uint32_t* block_words, std::uint32_t* state) noexcept {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = block_words[t];
    for (int t = 16; t < 64; ++t) w[t] = small_sigma1(w[t - 2]) + w[t - 7] + small_sigma0(w[t - 15]) + w[t - 16];

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 = h + big_sigma1(e) + ch(e, f, g) + k[t] + w[t];
        const std::uint32_t t2 = big_sigma0(a) + maj(a, b, c);
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#if defined(__x86_64__) || defined(__i386__)

bool ringtrap::sha256_have_shani() noexcept {
    static const bool ok = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        const bool ssse3 = (c >> 9) & 1u, sse41 = (c >> 19) & 1u;
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return ssse3 && sse41 && ((b >> 29) & 1u);  // leaf 7, EBX bit 29: SHA extensions
    }();
    return ok;
}

// Two instructions do two rounds each on the state held as (A, B, E, F) and
// (C, D, G, H); sha256msg1/msg2 extend the message schedule four words at a
// time. Groups of four rounds g = 0 .. 15 take words 4g .. 4g + 3 from m[g % 4].
__attribute__((target("sha,sse4.1,ssse3"))) void ringtrap::sha256_compress_shani(const std::uint32_t* block_words,
                                                                                 std::uint32_t* state) noexcept {
    if (!sha256_have_shani()) {
        sha256_compress_portable(block_words, state);
        return;
    }
    // Lanes written from the highest: DCBA is state[0..3] as loaded.
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));      // DCBA
    __m128i st1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));  // HGFE
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                                           // CDAB
    st1 = _mm_shuffle_epi32(st1, 0x1B);                                           // EFGH
    __m128i st0 = _mm_alignr_epi8(tmp, st1, 8);                                   // ABEF
    st1 = _mm_blend_epi16(st1, tmp, 0xF0);                                        // CDGH
    const __m128i save0 = st0, save1 = st1;

    __m128i m[4];
    for (int i = 0; i < 4; ++i) m[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block_words + 4 * i));
    for (int g = 0; g < 16; ++g) {
        __m128i msg = _mm_add_epi32(m[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + 4 * g)));
        st1 = _mm_sha256rnds2_epu32(st1, st0, msg);
        if (g >= 3 && g <= 14) {
            // W[4g+4 ..] = msg2(W[4g-12 ..] + W[4g-3 ..], W[4g ..]) after msg1.
            const __m128i carry = _mm_alignr_epi8(m[g % 4], m[(g + 3) % 4], 4);
            m[(g + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(g + 1) % 4], carry), m[g % 4]);
        }
        msg = _mm_shuffle_epi32(msg, 0x0E);
        st0 = _mm_sha256rnds2_epu32(st0, st1, msg);
        if (g >= 1 && g <= 12) m[(g + 3) % 4] = _mm_sha256msg1_epu32(m[(g + 3) % 4], m[g % 4]);
    }
    st0 = _mm_add_epi32(st0, save0);
    st1 = _mm_add_epi32(st1, save1);

    tmp = _mm_shuffle_epi32(st0, 0x1B);     // FEBA
    st1 = _mm_shuffle_epi32(st1, 0xB1);     // DCHG
    st0 = _mm_blend_epi16(tmp, st1, 0xF0);  // DCBA
    st1 = _mm_alignr_epi8(st1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), st0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), st1);
}

#else

bool ringtrap::sha256_have_shani() noexcept { return false; }
void ringtrap::sha256_compress_shani(const std::uint32_t* block_words, std::uint32_t* state) noexcept {
    sha256_compress_portable(block_words, state);
}

#endif

namespace {

inline void compress_words(const std::uint32_t* block_words, std::uint32_t* state) noexcept {
    if (ringtrap::sha256_have_shani())
        ringtrap::sha256_compress_shani(block_words, state);
    else
        ringtrap::sha256_compress_portable(block_words, state);
}

// The SHA-256 compression function: folds one 64-byte block into the eight
// chaining words.
void transform(const std::uint8_t* block, std::uint32_t* state) noexcept {
    std::uint32_t words[16];
    for (int t = 0; t < 16; ++t) words[t] = load_be32(block + 4 * t);
    compress_words(words, state);
}

}  // namespace

namespace ringtrap {

std::size_t sha256_pad_tail(std::uint64_t total_length, const std::uint8_t* tail, std::uint8_t (&out)[128]) {
    std::memset(out, 0, sizeof out);
    const auto rem = static_cast<std::size_t>(total_length % kSha256BlockBytes);
    if (rem > 0) std::memcpy(out, tail, rem);
    out[rem] = 0x80;
    // The marker and the 8-byte length must fit after the leftover bytes.
    const std::size_t size = rem > 55 ? 2 * kSha256BlockBytes : kSha256BlockBytes;
    // Bit count modulo 2^64 (exact below 2^61 bytes).
    const std::uint64_t bits = total_length << 3;
    for (std::size_t i = 0; i < 8; ++i) out[size - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return size;
}

Sha256::Sha256() noexcept : state_(kInitialState) {}

void Sha256::update(const std::uint8_t* data, std::uint64_t len) noexcept {
    if (len == 0) return;  // data may be null
    total_ += len;
    if (fill_ > 0) {
        const std::size_t room = kSha256BlockBytes - fill_;
        const std::size_t take = len < room ? static_cast<std::size_t>(len) : room;
        std::memcpy(buf_ + fill_, data, take);
        fill_ += take;
        data += take;
        len -= take;
        if (fill_ < kSha256BlockBytes) return;
        transform(buf_, state_.data());
        fill_ = 0;
    }
    for (; len >= kSha256BlockBytes; data += kSha256BlockBytes, len -= kSha256BlockBytes)
        transform(data, state_.data());
    if (len > 0) std::memcpy(buf_, data, static_cast<std::size_t>(len));
    fill_ = static_cast<std::size_t>(len);
}

Sha256State Sha256::final_words() noexcept {
    // buf_ holds the last total_ mod 64 bytes, which is what the tail takes.
    std::uint8_t tail[128];
    const std::size_t size = sha256_pad_tail(total_, buf_, tail);
    for (std::size_t off = 0; off < size; off += kSha256BlockBytes) transform(tail + off, state_.data());
    secure_zero(buf_, sizeof buf_);
    secure_zero(tail, sizeof tail);
    return state_;
}

void Sha256::final(std::uint8_t out[kSha256DigestBytes]) noexcept {
    const Sha256State state = final_words();
    for (std::size_t i = 0; i < state.size(); ++i) store_be32(out + 4 * i, state[i]);
}

Sha256State sha256_words(const std::uint8_t* data, std::uint64_t length) {
    Sha256 h;
    h.update(data, length);
    return h.final_words();
}

int sha256(const std::uint8_t* data, std::uint64_t length, std::uint8_t* out) {
    if (data == nullptr && length > 0) return -1;
    Sha256 h;
    h.update(data, length);
    if (out != nullptr)
        h.final(out);
    else
        (void)h.final_words();
    return 0;
}

void sha256_rehash_digest(Sha256State& words) {
    // A 32-byte message is always exactly one block: the eight digest words,
    // the 0x80 marker, zeros, and the bit count 256.
    std::uint32_t block[16] = {};
    for (std::size_t i = 0; i < 8; ++i) block[i] = words[i];
    block[8] = 0x80000000u;
    block[15] = 256;
    Sha256State state = kInitialState;
    compress_words(block, state.data());
    words = state;
}

}  // namespace ringtrap
