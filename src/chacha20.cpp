#include "chacha20.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RINGTRAP_CHACHA20_X86 1
#else
#define RINGTRAP_CHACHA20_X86 0
#endif

#include "secret.h"

namespace ringtrap::chacha20 {

namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::uint32_t kConstants[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

// Block states and keystream words are as secret as the key: every scratch
// array is cleared with secure_zero before it goes.

constexpr std::uint32_t rotl(std::uint32_t x, int c) noexcept { return (x << c) | (x >> (32 - c)); }

std::uint32_t load_le32(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_le32(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// The sixteen input words of one block.
void initial_state(std::uint32_t st[16], const Key& key, std::uint64_t counter, std::uint64_t nonce) noexcept {
    for (int i = 0; i < 4; ++i) st[i] = kConstants[i];
    for (int i = 0; i < 8; ++i) st[4 + i] = key[static_cast<std::size_t>(i)];
    st[12] = static_cast<std::uint32_t>(counter);
    st[13] = static_cast<std::uint32_t>(counter >> 32);
    st[14] = static_cast<std::uint32_t>(nonce);
    st[15] = static_cast<std::uint32_t>(nonce >> 32);
}

// The quarter round applied to kLanes independent blocks at once: word w of
// lane l is x[w][l]. The inner loops have a fixed trip count and no
// dependences between lanes, which is what auto-vectorisers look for.
using Lanes = std::uint32_t[kLanes];

inline void quarter_round_lanes(Lanes& a, Lanes& b, Lanes& c, Lanes& d) noexcept {
    for (std::size_t l = 0; l < kLanes; ++l) {
        a[l] += b[l];
        d[l] = rotl(d[l] ^ a[l], 16);
        c[l] += d[l];
        b[l] = rotl(b[l] ^ c[l], 12);
        a[l] += b[l];
        d[l] = rotl(d[l] ^ a[l], 8);
        c[l] += d[l];
        b[l] = rotl(b[l] ^ c[l], 7);
    }
}

void lanes_portable(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out) noexcept {
    std::uint32_t init[16];
    initial_state(init, key, counter, nonce);
    Lanes x[16];
    for (int w = 0; w < 16; ++w)
        for (std::size_t l = 0; l < kLanes; ++l) x[w][l] = init[w];
    for (std::size_t l = 0; l < kLanes; ++l) {
        const std::uint64_t c = counter + l;
        x[12][l] = static_cast<std::uint32_t>(c);
        x[13][l] = static_cast<std::uint32_t>(c >> 32);
    }
    const std::uint32_t ctr_lo = init[12], ctr_hi = init[13];
    for (int i = 0; i < 10; ++i) {
        quarter_round_lanes(x[0], x[4], x[8], x[12]);
        quarter_round_lanes(x[1], x[5], x[9], x[13]);
        quarter_round_lanes(x[2], x[6], x[10], x[14]);
        quarter_round_lanes(x[3], x[7], x[11], x[15]);
        quarter_round_lanes(x[0], x[5], x[10], x[15]);
        quarter_round_lanes(x[1], x[6], x[11], x[12]);
        quarter_round_lanes(x[2], x[7], x[8], x[13]);
        quarter_round_lanes(x[3], x[4], x[9], x[14]);
    }
    for (std::size_t l = 0; l < kLanes; ++l) {
        const std::uint64_t c = (static_cast<std::uint64_t>(ctr_hi) << 32 | ctr_lo) + l;
        std::uint8_t* o = out + l * kBlockBytes;
        for (int w = 0; w < 12; ++w) store_le32(o + 4 * w, x[w][l] + init[w]);
        store_le32(o + 48, x[12][l] + static_cast<std::uint32_t>(c));
        store_le32(o + 52, x[13][l] + static_cast<std::uint32_t>(c >> 32));
        store_le32(o + 56, x[14][l] + init[14]);
        store_le32(o + 60, x[15][l] + init[15]);
    }
    secure_zero(x, sizeof x);
    secure_zero(init, sizeof init);  // holds the key
}

#if RINGTRAP_CHACHA20_X86

template <int C>
__attribute__((target("avx2"))) inline __m256i rotl_v(__m256i x) noexcept {
    return _mm256_or_si256(_mm256_slli_epi32(x, C), _mm256_srli_epi32(x, 32 - C));
}

// Rotations by whole bytes are one shuffle.
template <>
__attribute__((target("avx2"))) inline __m256i rotl_v<16>(__m256i x) noexcept {
    const __m256i m = _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2,  //
                                      13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2);
    return _mm256_shuffle_epi8(x, m);
}

template <>
__attribute__((target("avx2"))) inline __m256i rotl_v<8>(__m256i x) noexcept {
    const __m256i m = _mm256_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,  //
                                      14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
    return _mm256_shuffle_epi8(x, m);
}

__attribute__((target("avx2"))) inline void quarter_round_v(__m256i& a, __m256i& b, __m256i& c, __m256i& d) noexcept {
    a = _mm256_add_epi32(a, b);
    d = rotl_v<16>(_mm256_xor_si256(d, a));
    c = _mm256_add_epi32(c, d);
    b = rotl_v<12>(_mm256_xor_si256(b, c));
    a = _mm256_add_epi32(a, b);
    d = rotl_v<8>(_mm256_xor_si256(d, a));
    c = _mm256_add_epi32(c, d);
    b = rotl_v<7>(_mm256_xor_si256(b, c));
}

// The counter words of eight blocks from `counter` on, one per lane: the low
// words counter + l, the high words with the carry.
__attribute__((target("avx2"))) inline void lanes_counter(std::uint64_t counter, __m256i& lo, __m256i& hi) noexcept {
    const __m256i base_lo = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(counter)));
    lo = _mm256_add_epi32(base_lo, _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    // Unsigned lo < base_lo marks a carry: compare with the sign bits flipped.
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i carry = _mm256_cmpgt_epi32(_mm256_xor_si256(base_lo, flip), _mm256_xor_si256(lo, flip));
    hi = _mm256_sub_epi32(_mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(counter >> 32))), carry);
}

// The starting state of eight blocks: the input words of `init` in every
// lane, with the lanes' own counter words.
__attribute__((target("avx2"))) inline void lanes_init(const std::uint32_t init[16], __m256i lo, __m256i hi,
                                                       __m256i x[16]) noexcept {
    for (int w = 0; w < 16; ++w) x[w] = _mm256_set1_epi32(static_cast<int>(init[w]));
    x[12] = lo;
    x[13] = hi;
}

// Adds the input to the final state and writes the eight blocks; x86 is
// little-endian, so the words are stored as they are. The input words are
// broadcast again from `init` rather than kept in registers.
__attribute__((target("avx2"))) inline void lanes_store(__m256i x[16], const std::uint32_t init[16], __m256i lo,
                                                        __m256i hi, std::uint8_t* out) noexcept {
    for (int w = 0; w < 16; ++w)
        if (w != 12 && w != 13) x[w] = _mm256_add_epi32(x[w], _mm256_set1_epi32(static_cast<int>(init[w])));
    x[12] = _mm256_add_epi32(x[12], lo);
    x[13] = _mm256_add_epi32(x[13], hi);

    // Transpose each 8x8 half (words 0-7 and words 8-15) so that every vector
    // holds eight consecutive words of one block.
    for (std::size_t half = 0; half < 2; ++half) {
        __m256i* v = x + 8 * half;
        const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]), t1 = _mm256_unpackhi_epi32(v[0], v[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]), t3 = _mm256_unpackhi_epi32(v[2], v[3]);
        const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]), t5 = _mm256_unpackhi_epi32(v[4], v[5]);
        const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]), t7 = _mm256_unpackhi_epi32(v[6], v[7]);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
        // u0 holds words 0-3 of lanes 0 and 4 (in its two 128-bit halves),
        // u1 of lanes 1 and 5, u2 of lanes 2 and 6, u3 of lanes 3 and 7; u4-u7
        // words 4-7 likewise.
        const __m256i lanes_lo[4] = {u0, u1, u2, u3}, lanes_hi[4] = {u4, u5, u6, u7};
        for (std::size_t j = 0; j < 4; ++j) {
            const __m256i first = _mm256_permute2x128_si256(lanes_lo[j], lanes_hi[j], 0x20);   // lane j
            const __m256i second = _mm256_permute2x128_si256(lanes_lo[j], lanes_hi[j], 0x31);  // lane j + 4
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j * kBlockBytes + 32 * half), first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (j + 4) * kBlockBytes + 32 * half), second);
        }
    }
}

// Passes of eight blocks from `counter` on. The state lives in registers
// (spilling where the compiler must); only the input words, which hold the
// key, sit in memory, and they are wiped after the last pass.
__attribute__((target("avx2"))) void lanes_avx2(const Key& key, std::uint64_t counter, std::uint64_t nonce,
                                                std::uint8_t* out, std::size_t passes) noexcept {
    std::uint32_t init[16];
    initial_state(init, key, counter, nonce);
    for (std::size_t pass = 0; pass < passes; ++pass, counter += kLanes, out += kLanes * kBlockBytes) {
        __m256i lo, hi, x[16];
        lanes_counter(counter, lo, hi);
        lanes_init(init, lo, hi, x);
        for (int i = 0; i < 10; ++i) {
            quarter_round_v(x[0], x[4], x[8], x[12]);
            quarter_round_v(x[1], x[5], x[9], x[13]);
            quarter_round_v(x[2], x[6], x[10], x[14]);
            quarter_round_v(x[3], x[7], x[11], x[15]);
            quarter_round_v(x[0], x[5], x[10], x[15]);
            quarter_round_v(x[1], x[6], x[11], x[12]);
            quarter_round_v(x[2], x[7], x[8], x[13]);
            quarter_round_v(x[3], x[4], x[9], x[14]);
        }
        lanes_store(x, init, lo, hi, out);
    }
    secure_zero(init, sizeof init);
}

// The same eight blocks with the AVX-512VL rotate instruction on 256-bit
// vectors: one instruction per rotation instead of two shifts and an OR (or
// a byte shuffle), and 32 vector registers, so the state does not spill.
__attribute__((target("avx2,avx512f,avx512vl"))) inline void quarter_round_vl(__m256i& a, __m256i& b, __m256i& c,
                                                                             __m256i& d) noexcept {
    a = _mm256_add_epi32(a, b);
    d = _mm256_rol_epi32(_mm256_xor_si256(d, a), 16);
    c = _mm256_add_epi32(c, d);
    b = _mm256_rol_epi32(_mm256_xor_si256(b, c), 12);
    a = _mm256_add_epi32(a, b);
    d = _mm256_rol_epi32(_mm256_xor_si256(d, a), 8);
    c = _mm256_add_epi32(c, d);
    b = _mm256_rol_epi32(_mm256_xor_si256(b, c), 7);
}

__attribute__((target("avx2,avx512f,avx512vl"))) void lanes_avx512vl(const Key& key, std::uint64_t counter,
                                                                     std::uint64_t nonce, std::uint8_t* out,
                                                                     std::size_t passes) noexcept {
    std::uint32_t init[16];
    initial_state(init, key, counter, nonce);
    for (std::size_t pass = 0; pass < passes; ++pass, counter += kLanes, out += kLanes * kBlockBytes) {
        __m256i lo, hi, x[16];
        lanes_counter(counter, lo, hi);
        lanes_init(init, lo, hi, x);
        for (int i = 0; i < 10; ++i) {
            quarter_round_vl(x[0], x[4], x[8], x[12]);
            quarter_round_vl(x[1], x[5], x[9], x[13]);
            quarter_round_vl(x[2], x[6], x[10], x[14]);
            quarter_round_vl(x[3], x[7], x[11], x[15]);
            quarter_round_vl(x[0], x[5], x[10], x[15]);
            quarter_round_vl(x[1], x[6], x[11], x[12]);
            quarter_round_vl(x[2], x[7], x[8], x[13]);
            quarter_round_vl(x[3], x[4], x[9], x[14]);
        }
        lanes_store(x, init, lo, hi, out);
    }
    secure_zero(init, sizeof init);
}

// GCC 12's 512-bit intrinsics start from _mm512_undefined_epi32(), which its
// own -Wmaybe-uninitialized reports as a read of an uninitialised value (a
// false positive of the header); silenced for these routines only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Sixteen blocks at once in 512-bit vectors (AVX-512F; every processor with
// AVX-512VL has it): word w of block l is lane l of x[w]. Half the
// instructions of two eight-block passes for the same keystream.
__attribute__((target("avx2,avx512f,avx512vl"))) inline void quarter_round_z(__m512i& a, __m512i& b, __m512i& c,
                                                                            __m512i& d) noexcept {
    a = _mm512_add_epi32(a, b);
    d = _mm512_rol_epi32(_mm512_xor_si512(d, a), 16);
    c = _mm512_add_epi32(c, d);
    b = _mm512_rol_epi32(_mm512_xor_si512(b, c), 12);
    a = _mm512_add_epi32(a, b);
    d = _mm512_rol_epi32(_mm512_xor_si512(d, a), 8);
    c = _mm512_add_epi32(c, d);
    b = _mm512_rol_epi32(_mm512_xor_si512(b, c), 7);
}

constexpr std::size_t kWideLanes = 16;

// The state stays in registers (32 of them: sixteen words plus room for the
// transpose); only the input words, which hold the key, sit in memory, and
// they are wiped at the end. The counter words of lane l are counter + l,
// with the carry into the high word.
__attribute__((target("avx2,avx512f,avx512vl"))) void lanes_avx512(const Key& key, std::uint64_t counter,
                                                                   std::uint64_t nonce, std::uint8_t* out,
                                                                   std::size_t passes) noexcept {
    std::uint32_t init[16];
    initial_state(init, key, counter, nonce);
    const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (std::size_t pass = 0; pass < passes; ++pass, counter += kWideLanes, out += kWideLanes * kBlockBytes) {
        const __m512i base_lo = _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(counter)));
        const __m512i ctr_lo = _mm512_add_epi32(base_lo, lane);
        const __mmask16 carry = _mm512_cmplt_epu32_mask(ctr_lo, base_lo);
        const __m512i base_hi = _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(counter >> 32)));
        const __m512i ctr_hi = _mm512_mask_add_epi32(base_hi, carry, base_hi, _mm512_set1_epi32(1));
        __m512i x[16];
        for (int w = 0; w < 16; ++w) x[w] = _mm512_set1_epi32(static_cast<int>(init[w]));
        x[12] = ctr_lo;
        x[13] = ctr_hi;
        for (int i = 0; i < 10; ++i) {
            quarter_round_z(x[0], x[4], x[8], x[12]);
            quarter_round_z(x[1], x[5], x[9], x[13]);
            quarter_round_z(x[2], x[6], x[10], x[14]);
            quarter_round_z(x[3], x[7], x[11], x[15]);
            quarter_round_z(x[0], x[5], x[10], x[15]);
            quarter_round_z(x[1], x[6], x[11], x[12]);
            quarter_round_z(x[2], x[7], x[8], x[13]);
            quarter_round_z(x[3], x[4], x[9], x[14]);
        }
        for (int w = 0; w < 16; ++w)
            if (w != 12 && w != 13) x[w] = _mm512_add_epi32(x[w], _mm512_set1_epi32(static_cast<int>(init[w])));
        x[12] = _mm512_add_epi32(x[12], ctr_lo);
        x[13] = _mm512_add_epi32(x[13], ctr_hi);

        // 16 x 16 transpose of 32-bit words, so that each vector is one block:
        // words pair up within 128-bit lanes (unpacks of 32 and 64 bits), then
        // whole 128-bit lanes move between vectors (two 4 x 4 shuffles).
        __m512i t[16];
        for (int i = 0; i < 16; i += 2) {
            t[i] = _mm512_unpacklo_epi32(x[i], x[i + 1]);
            t[i + 1] = _mm512_unpackhi_epi32(x[i], x[i + 1]);
        }
        for (int i = 0; i < 16; i += 4) {
            x[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
            x[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
            x[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
            x[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
        }
        // x[4g + j] now holds words 4g .. 4g + 3 of blocks j, j + 4, j + 8,
        // j + 12 in its four 128-bit lanes.
        for (int j = 0; j < 4; ++j) {
            const __m512i a01 = _mm512_shuffle_i32x4(x[j], x[4 + j], 0x44);  // lanes 0, 1 of each
            const __m512i a23 = _mm512_shuffle_i32x4(x[j], x[4 + j], 0xEE);  // lanes 2, 3 of each
            const __m512i b01 = _mm512_shuffle_i32x4(x[8 + j], x[12 + j], 0x44);
            const __m512i b23 = _mm512_shuffle_i32x4(x[8 + j], x[12 + j], 0xEE);
            const auto at = [&](int block) { return out + static_cast<std::size_t>(block) * kBlockBytes; };
            _mm512_storeu_si512(at(j), _mm512_shuffle_i32x4(a01, b01, 0x88));
            _mm512_storeu_si512(at(j + 4), _mm512_shuffle_i32x4(a01, b01, 0xDD));
            _mm512_storeu_si512(at(j + 8), _mm512_shuffle_i32x4(a23, b23, 0x88));
            _mm512_storeu_si512(at(j + 12), _mm512_shuffle_i32x4(a23, b23, 0xDD));
        }
    }
    secure_zero(init, sizeof init);  // holds the key
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

}  // namespace

Key load_key(const std::uint8_t bytes[32]) noexcept {
    Key key{};
    for (std::size_t i = 0; i < 8; ++i) key[i] = load_le32(bytes + 4 * i);
    return key;
}

void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) noexcept {
    a += b;
    d = rotl(d ^ a, 16);
    c += d;
    b = rotl(b ^ c, 12);
    a += b;
    d = rotl(d ^ a, 8);
    c += d;
    b = rotl(b ^ c, 7);
}

void block_ref(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t out[kBlockBytes]) noexcept {
    std::uint32_t st[16], x[16];
    initial_state(st, key, counter, nonce);
    for (int i = 0; i < 16; ++i) x[i] = st[i];
    for (int i = 0; i < 10; ++i) {
        // Column round, then diagonal round.
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) store_le32(out + 4 * i, x[i] + st[i]);
    secure_zero(x, sizeof x);
    secure_zero(st, sizeof st);
}

void blocks_portable(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                     std::size_t nblocks) noexcept {
    for (; nblocks >= kLanes; nblocks -= kLanes, counter += kLanes, out += kLanes * kBlockBytes)
        lanes_portable(key, counter, nonce, out);
    for (; nblocks > 0; --nblocks, ++counter, out += kBlockBytes) block_ref(key, counter, nonce, out);
}

bool have_avx2() noexcept {
#if RINGTRAP_CHACHA20_X86
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok;
#else
    return false;
#endif
}

void blocks_avx2(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                 std::size_t nblocks) noexcept {
#if RINGTRAP_CHACHA20_X86
    if (have_avx2()) {
        const std::size_t passes = nblocks / kLanes;
        lanes_avx2(key, counter, nonce, out, passes);
        nblocks -= passes * kLanes, counter += passes * kLanes, out += passes * kLanes * kBlockBytes;
    }
#endif
    blocks_portable(key, counter, nonce, out, nblocks);
}

bool have_avx512vl() noexcept {
#if RINGTRAP_CHACHA20_X86
    static const bool ok = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512vl");
    return ok;
#else
    return false;
#endif
}

void blocks_avx512vl(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                     std::size_t nblocks) noexcept {
#if RINGTRAP_CHACHA20_X86
    if (have_avx512vl()) {
        const std::size_t wide = nblocks / kWideLanes;
        lanes_avx512(key, counter, nonce, out, wide);
        nblocks -= wide * kWideLanes, counter += wide * kWideLanes, out += wide * kWideLanes * kBlockBytes;
        const std::size_t passes = nblocks / kLanes;
        lanes_avx512vl(key, counter, nonce, out, passes);
        nblocks -= passes * kLanes, counter += passes * kLanes, out += passes * kLanes * kBlockBytes;
    }
#endif
    blocks_portable(key, counter, nonce, out, nblocks);
}

void blocks(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out, std::size_t nblocks) noexcept {
    if (have_avx512vl())
        blocks_avx512vl(key, counter, nonce, out, nblocks);
    else if (have_avx2())
        blocks_avx2(key, counter, nonce, out, nblocks);
    else
        blocks_portable(key, counter, nonce, out, nblocks);
}

void keystream_rfc8439(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                       std::uint8_t* out, std::size_t len) noexcept {
    const Key kw = load_key(key);
    // The first nonce word sits where the high half of our 64-bit counter is.
    std::uint64_t ctr = static_cast<std::uint64_t>(load_le32(nonce)) << 32 | counter;
    const std::uint64_t nw = static_cast<std::uint64_t>(load_le32(nonce + 8)) << 32 | load_le32(nonce + 4);
    std::uint8_t block[kBlockBytes];
    while (len > 0) {
        block_ref(kw, ctr++, nw, block);
        const std::size_t take = len < kBlockBytes ? len : kBlockBytes;
        std::memcpy(out, block, take);
        out += take;
        len -= take;
    }
    secure_zero(block, sizeof block);
}

}  // namespace ringtrap::chacha20
