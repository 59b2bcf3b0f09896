// The number-theoretic transform with AVX-512: sixteen 32-bit coefficients
// per vector, the same butterflies, twiddles and reduction schedule as the
// portable code in ntt.cpp, hence bit-identical results.
//
// Spans of 16 and more pair whole vectors, with one twiddle for all lanes.
// The four shortest spans (8, 4, 2, 1) work on pairs of vectors holding 32
// consecutive coefficients: before each of these layers one permutation per
// vector puts the low halves of the pair's 16 butterflies in one vector and
// their partners in the other, ordered so that the lane twiddles are a run of
// consecutive table entries repeated (a broadcast load), and after the last
// one the pair goes back to natural order.
//
// With 32 registers a block of 256 coefficients stays in registers for the
// last eight forward layers (the first eight inverse ones); longer arrays
// first go through passes of up to four layers over sixteen vectors.
#include "ntt_avx512.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

#define RINGTRAP_AVX512_TARGET __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2")))

namespace ringtrap {
namespace {

// Lane p of the low (h = 0) or high (h = 1) vector of a pair of vectors,
// laid out for butterflies of span s = 2^k, holds coefficient
// coefficient_at(k, h, p) of the pair's 32: lane p has butterfly p / m of
// block p % m (m = 16 / s blocks of 2s coefficients), so that the lane
// twiddles repeat a run of m consecutive entries and come from one broadcast
// load. k = 4 is natural order.
constexpr int coefficient_at(int k, int h, int p) {
    const int m = 16 >> k;
    return (p % m) * (2 << k) + p / m + (h << k);
}

struct alignas(64) Lanes {
    std::int32_t v[16];
};

// Indices for _mm512_permutex2var_epi32 taking a pair from the layout of span
// 2^from to that of span 2^to (vector h of the result).
constexpr Lanes move_index(int from, int to, int h) {
    Lanes out{};
    for (int p = 0; p < 16; ++p) {
        const int c = coefficient_at(to, h, p);
        for (int src = 0; src < 32; ++src)
            if (coefficient_at(from, src >> 4, src & 15) == c) out.v[p] = src;
    }
    return out;
}

// Between the layouts of neighbouring spans: kDown[k] from span 2^k to
// 2^(k-1) (forward), kUp[k] from 2^k to 2^(k+1) (inverse), and between
// natural order and the layouts of the first and last short span.
constexpr Lanes kDown[4][2] = {
    {},
    {move_index(1, 0, 0), move_index(1, 0, 1)},
    {move_index(2, 1, 0), move_index(2, 1, 1)},
    {move_index(3, 2, 0), move_index(3, 2, 1)},
};
constexpr Lanes kUp[3][2] = {
    {move_index(0, 1, 0), move_index(0, 1, 1)},
    {move_index(1, 2, 0), move_index(1, 2, 1)},
    {move_index(2, 3, 0), move_index(2, 3, 1)},
};
constexpr Lanes kNaturalToSpan8[2] = {move_index(4, 3, 0), move_index(4, 3, 1)};
constexpr Lanes kSpan1ToNatural[2] = {move_index(0, 4, 0), move_index(0, 4, 1)};
constexpr Lanes kNaturalToSpan1[2] = {move_index(4, 0, 0), move_index(4, 0, 1)};
constexpr Lanes kSpan8ToNatural[2] = {move_index(3, 4, 0), move_index(3, 4, 1)};

// GCC 12's 512-bit intrinsics start from _mm512_undefined_epi32(), which its
// own -Wmaybe-uninitialized (and, for the shuffles here, -Wuninitialized)
// reports as a read of an uninitialised value (a false positive of the
// header); silenced for this code only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

using V = __m512i;

struct Consts {
    V q, r_mod, r_modq;
    // R mod q = 2^32 - 2^s q (true of the built-in sets): see reduce_all.
    bool pow2;
    V half_c;       // 2^(30-s)
    __m128i shift;  // 31 - s
};

RINGTRAP_AVX512_TARGET inline V load(const std::int32_t* p) noexcept { return _mm512_loadu_si512(p); }

RINGTRAP_AVX512_TARGET inline void store(std::int32_t* p, V v) noexcept { _mm512_storeu_si512(p, v); }

RINGTRAP_AVX512_TARGET inline V lanes(const Lanes& l) noexcept { return _mm512_load_si512(l.v); }

// x * z * 2^-32 mod q in (-q, q) lane by lane: montmul_pre with zq = z * qinv
// mod 2^32. Even and odd lanes take separate 32 x 32 -> 64-bit products (zo
// holds z's odd lanes in the even ones; z itself where neighbouring lanes
// share a twiddle). The low halves of x z and t q agree, so their high halves
// differ by exactly the result: a 32-bit subtraction, and one shuffle brings
// the even lanes' results down into place.
RINGTRAP_AVX512_TARGET inline V montmul(V x, V z, V zo, V zq, V q) noexcept {
    const V t = _mm512_mullo_epi32(x, zq);
    const V pe = _mm512_mul_epi32(x, z);
    const V po = _mm512_mul_epi32(_mm512_srli_epi64(x, 32), zo);
    const V te = _mm512_mul_epi32(t, q);
    const V to = _mm512_mul_epi32(_mm512_srli_epi64(t, 32), q);
    const V even = _mm512_sub_epi32(pe, te);
    const V odd = _mm512_sub_epi32(po, to);
    return _mm512_mask_shuffle_epi32(odd, 0x5555, even, _MM_PERM_CDAB);
}

RINGTRAP_AVX512_TARGET inline V bcast(std::int32_t x) noexcept { return _mm512_set1_epi32(x); }

RINGTRAP_AVX512_TARGET inline Consts consts_of(const NttTables& t) noexcept {
    const std::int32_t rq = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.r_mod) * t.qinv);
    Consts c{bcast(t.q), bcast(t.r_mod), bcast(rq), false, bcast(0), _mm_setzero_si128()};
    const std::int64_t k = ((std::int64_t{1} << 32) - t.r_mod) / t.q;  // exact: R - r_mod = k q
    if ((k & (k - 1)) == 0) {
        int s = 0;
        while ((std::int64_t{1} << s) < k) ++s;
        c.pow2 = true;
        c.half_c = bcast(std::int32_t{1} << (30 - s));
        c.shift = _mm_cvtsi32_si128(31 - s);
    }
    return c;
}

// Every vector to (-q, q): the Montgomery product with R mod q, as the
// portable reduction. When R mod q = 2^32 - k q with k = 2^s, that product
// is exactly x + q j with j = floor((2^31 - k x) / 2^32) (the low halves of
// x R mod q and t q cancel, t being -k x mod 2^32); with h = floor(x / 2) the
// same j is (2^(30-s) + h - x) >> (31 - s), which never overflows: one
// product and five cheap operations instead of five products and five more.
template <int N>
RINGTRAP_AVX512_TARGET inline void reduce_all(V* v, const Consts& c) noexcept {
    if (c.pow2) {
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) {
            const V d = _mm512_add_epi32(_mm512_sub_epi32(_mm512_srai_epi32(v[m], 1), v[m]), c.half_c);
            v[m] = _mm512_add_epi32(v[m], _mm512_mullo_epi32(_mm512_sra_epi32(d, c.shift), c.q));
        }
    } else {
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) v[m] = montmul(v[m], c.r_mod, c.r_mod, c.r_modq, c.q);
    }
}

inline bool bit_set(std::uint32_t mask, int layer) noexcept { return ((mask >> layer) & 1u) != 0; }

// Twiddles of span 2^k for a pair whose first coefficient is `pos`, from the
// table `z` and its products by qinv `zq`: lane p has entry at + p % m with
// at = (n + pos) / 2^(k+1) (m as in coefficient_at). vzo has the odd lanes'
// entries in the even ones (a load from at + 1).
RINGTRAP_AVX512_TARGET inline void lane_twiddles(const NttTables& t, const std::int32_t* z, const std::int32_t* zq, int k,
                                                 std::int32_t pos, V& vz, V& vzo, V& vzq) noexcept {
    const std::int32_t* pz = z + ((t.n + pos) >> (k + 1));
    const std::int32_t* pzq = zq + ((t.n + pos) >> (k + 1));
    if (k == 3) {
        std::int64_t w, wq;
        std::memcpy(&w, pz, sizeof w);
        std::memcpy(&wq, pzq, sizeof wq);
        vz = _mm512_set1_epi64(w);
        vzq = _mm512_set1_epi64(wq);
        vzo = _mm512_set1_epi32(pz[1]);
    } else if (k == 2) {
        vz = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pz)));
        vzq = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pzq)));
        vzo = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pz + 1)));
    } else if (k == 1) {
        vz = _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pz)));
        vzq = _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pzq)));
        vzo = _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pz + 1)));
    } else {
        vz = load(pz);
        vzq = load(pzq);
        vzo = _mm512_maskz_loadu_epi32(0x7FFF, pz + 1);  // the last lane would pass the end of the table
    }
}

// Forward layers `first` .. first + K - 1 on 2^K vectors v[m] sitting at
// coefficient offsets m * S (S = the shortest span of these layers) within a
// block whose number at layer `first` is `block`. At layer first + i the span
// is S 2^(K-1-i): v[m] meets v[m + 2^(K-1-i)], and the butterfly's twiddle is
// that of block (block 2^i + (m >> (K-i))) of the layer.
template <int K>
RINGTRAP_AVX512_TARGET inline void forward_layers(const NttTables& t, const Consts& c, V* v, int first,
                                                  std::int32_t block) noexcept {
    constexpr int N = 1 << K;
#pragma GCC unroll 4
    for (int i = 0; i < K; ++i) {
        const int layer = first + i;
        if (bit_set(t.fwd_reduce_before, layer)) reduce_all<N>(v, c);
        const int half = 1 << (K - 1 - i);
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) {
            if (m & half) continue;
            const auto idx = static_cast<std::size_t>((std::int32_t{1} << layer) + (block << i) + (m >> (K - i)));
            const V z = bcast(t.zetas[idx]);
            const V w = montmul(v[m + half], z, z, bcast(t.zetas_qinv[idx]), c.q);
            v[m + half] = _mm512_sub_epi32(v[m], w);
            v[m] = _mm512_add_epi32(v[m], w);
        }
    }
}

// K forward layers from `first` over the whole array, in memory passes.
template <int K>
RINGTRAP_AVX512_TARGET void forward_pass(const NttTables& t, const Consts& c, std::int32_t* a, int first) noexcept {
    const std::int32_t span = t.n >> (first + 1);  // longest span of the pass
    const std::int32_t stride = span >> (K - 1);   // shortest span
    V v[1 << K];
    for (std::int32_t start = 0, block = 0; start < t.n; start += 2 * span, ++block) {
        for (std::int32_t j = start; j < start + stride; j += 16) {
#pragma GCC unroll 16
            for (int m = 0; m < (1 << K); ++m) v[m] = load(a + j + m * stride);
            forward_layers<K>(t, c, v, first, block);
#pragma GCC unroll 16
            for (int m = 0; m < (1 << K); ++m) store(a + j + m * stride, v[m]);
        }
    }
}

// Pairs of vectors go through the short spans four at a time, layer by layer:
// one pair alone is a chain of dependent products, and four give the
// processor enough independent work (a third faster than one; eight are
// hardly faster than four).
constexpr int kGroup = 4;

// The four shortest forward spans (8, 4, 2, 1) on the kGroup pairs
// (v[2p], v[2p+1]) of 32 coefficients from position pos + 32 p, then the
// final reduction if the schedule asks for one.
RINGTRAP_AVX512_TARGET inline void forward_short(const NttTables& t, const Consts& c, V* v, std::int32_t pos) noexcept {
    const int first = t.log_n - 4;
    V lo[kGroup], hi[kGroup];
#pragma GCC unroll 8
    for (int p = 0; p < kGroup; ++p) {
        lo[p] = _mm512_permutex2var_epi32(v[2 * p], lanes(kNaturalToSpan8[0]), v[2 * p + 1]);
        hi[p] = _mm512_permutex2var_epi32(v[2 * p], lanes(kNaturalToSpan8[1]), v[2 * p + 1]);
    }
#pragma GCC unroll 4
    for (int k = 3; k >= 0; --k) {
        if (bit_set(t.fwd_reduce_before, first + 3 - k)) {
            reduce_all<kGroup>(lo, c);
            reduce_all<kGroup>(hi, c);
        }
#pragma GCC unroll 8
        for (int p = 0; p < kGroup; ++p) {
            V z, zo, zq;
            lane_twiddles(t, t.zetas.data(), t.zetas_qinv.data(), k, pos + 32 * p, z, zo, zq);
            const V w = montmul(hi[p], z, zo, zq, c.q);
            const V x = _mm512_add_epi32(lo[p], w);
            const V y = _mm512_sub_epi32(lo[p], w);
            if (k > 0) {
                lo[p] = _mm512_permutex2var_epi32(x, lanes(kDown[k][0]), y);
                hi[p] = _mm512_permutex2var_epi32(x, lanes(kDown[k][1]), y);
            } else {
                lo[p] = x;
                hi[p] = y;
            }
        }
    }
    if (t.fwd_reduce_after) {
        reduce_all<kGroup>(lo, c);
        reduce_all<kGroup>(hi, c);
    }
#pragma GCC unroll 8
    for (int p = 0; p < kGroup; ++p) {
        v[2 * p] = _mm512_permutex2var_epi32(lo[p], lanes(kSpan1ToNatural[0]), hi[p]);
        v[2 * p + 1] = _mm512_permutex2var_epi32(lo[p], lanes(kSpan1ToNatural[1]), hi[p]);
    }
}

// The last J + 4 forward layers on each block of 16 2^J coefficients.
template <int J>
RINGTRAP_AVX512_TARGET void forward_tail(const NttTables& t, const Consts& c, std::int32_t* a) noexcept {
    constexpr int N = 1 << J;
    constexpr std::int32_t width = 16 << J;
    const int first = t.log_n - 4 - J;
    V v[1 << J];
    for (std::int32_t g = 0; g < t.n / width; ++g) {
        std::int32_t* blk = a + width * g;
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) v[m] = load(blk + 16 * m);
        forward_layers<J>(t, c, v, first, g);
#pragma GCC unroll 2
        for (int p = 0; p < N / 2; p += kGroup) forward_short(t, c, v + 2 * p, width * g + 32 * p);
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) store(blk + 16 * m, v[m]);
    }
}

// Inverse layers `first` .. first + K - 1 on 2^K vectors at offsets m * S
// (S = the span of layer `first`) within a block of S 2^K coefficients whose
// number is `block`: at layer first + i, v[m] meets v[m + 2^i] with the
// twiddle of block (block 2^(K-1-i) + (m >> (i+1))) of that layer.
template <int K>
RINGTRAP_AVX512_TARGET inline void inverse_layers(const NttTables& t, const Consts& c, V* v, int first,
                                                  std::int32_t block) noexcept {
    constexpr int N = 1 << K;
#pragma GCC unroll 4
    for (int i = 0; i < K; ++i) {
        const int layer = first + i;
        if (bit_set(t.inv_reduce_before, layer)) reduce_all<N>(v, c);
        const int half = 1 << i;
        const std::int32_t base = t.n >> (layer + 1);  // n / (2 span)
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) {
            if (m & half) continue;
            const auto idx = static_cast<std::size_t>(base + (block << (K - 1 - i)) + (m >> (i + 1)));
            const V z = bcast(t.zetas_inv[idx]);
            const V u = v[m];
            v[m] = _mm512_add_epi32(u, v[m + half]);
            v[m + half] = montmul(_mm512_sub_epi32(u, v[m + half]), z, z, bcast(t.zetas_inv_qinv[idx]), c.q);
        }
    }
}

// The final scaling by f (zq = f * qinv) of `count` vectors.
RINGTRAP_AVX512_TARGET inline void scale_all(V* v, int count, V f, V fq, V q) noexcept {
#pragma GCC unroll 16
    for (int m = 0; m < count; ++m) v[m] = montmul(v[m], f, f, fq, q);
}

// The four shortest inverse spans (1, 2, 4, 8) on the kGroup pairs
// (v[2p], v[2p+1]) of 32 coefficients from position pos + 32 p.
RINGTRAP_AVX512_TARGET inline void inverse_short(const NttTables& t, const Consts& c, V* v, std::int32_t pos) noexcept {
    V lo[kGroup], hi[kGroup];
#pragma GCC unroll 8
    for (int p = 0; p < kGroup; ++p) {
        lo[p] = _mm512_permutex2var_epi32(v[2 * p], lanes(kNaturalToSpan1[0]), v[2 * p + 1]);
        hi[p] = _mm512_permutex2var_epi32(v[2 * p], lanes(kNaturalToSpan1[1]), v[2 * p + 1]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        if (bit_set(t.inv_reduce_before, k)) {
            reduce_all<kGroup>(lo, c);
            reduce_all<kGroup>(hi, c);
        }
#pragma GCC unroll 8
        for (int p = 0; p < kGroup; ++p) {
            V z, zo, zq;
            lane_twiddles(t, t.zetas_inv.data(), t.zetas_inv_qinv.data(), k, pos + 32 * p, z, zo, zq);
            const V x = _mm512_add_epi32(lo[p], hi[p]);
            const V y = montmul(_mm512_sub_epi32(lo[p], hi[p]), z, zo, zq, c.q);
            if (k < 3) {
                lo[p] = _mm512_permutex2var_epi32(x, lanes(kUp[k][0]), y);
                hi[p] = _mm512_permutex2var_epi32(x, lanes(kUp[k][1]), y);
            } else {
                v[2 * p] = _mm512_permutex2var_epi32(x, lanes(kSpan8ToNatural[0]), y);
                v[2 * p + 1] = _mm512_permutex2var_epi32(x, lanes(kSpan8ToNatural[1]), y);
            }
        }
    }
}

// The first J + 4 inverse layers on each block of 16 2^J coefficients; with
// `scale` (no layers left) also the final scaling.
template <int J>
RINGTRAP_AVX512_TARGET void inverse_head(const NttTables& t, const Consts& c, std::int32_t* a, bool scale, V f,
                                         V fq) noexcept {
    constexpr int N = 1 << J;
    constexpr std::int32_t width = 16 << J;
    V v[1 << J];
    for (std::int32_t g = 0; g < t.n / width; ++g) {
        std::int32_t* blk = a + width * g;
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) v[m] = load(blk + 16 * m);
#pragma GCC unroll 2
        for (int p = 0; p < N / 2; p += kGroup) inverse_short(t, c, v + 2 * p, width * g + 32 * p);
        inverse_layers<J>(t, c, v, 4, g);
        if (scale) scale_all(v, N, f, fq, c.q);
#pragma GCC unroll 16
        for (int m = 0; m < N; ++m) store(blk + 16 * m, v[m]);
    }
}

// K inverse layers from `first` over the whole array; with `scale` the final
// scaling too.
template <int K>
RINGTRAP_AVX512_TARGET void inverse_pass(const NttTables& t, const Consts& c, std::int32_t* a, int first, bool scale,
                                         V f, V fq) noexcept {
    const std::int32_t stride = std::int32_t{1} << first;  // shortest span of the pass
    const std::int32_t width = stride << K;                // coefficients per block
    V v[1 << K];
    for (std::int32_t start = 0, block = 0; start < t.n; start += width, ++block) {
        for (std::int32_t j = start; j < start + stride; j += 16) {
#pragma GCC unroll 16
            for (int m = 0; m < (1 << K); ++m) v[m] = load(a + j + m * stride);
            inverse_layers<K>(t, c, v, first, block);
            if (scale) scale_all(v, 1 << K, f, fq, c.q);
#pragma GCC unroll 16
            for (int m = 0; m < (1 << K); ++m) store(a + j + m * stride, v[m]);
        }
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace

bool ntt_have_avx512() noexcept {
    static const bool ok = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return ok;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

RINGTRAP_AVX512_TARGET void ntt_forward_avx512(const NttTables& t, std::int32_t* a) noexcept {
    if (!ntt_have_avx512() || !t.lazy || t.n < 128) {
        ntt_forward_avx2(t, a);
        return;
    }
    const Consts c = consts_of(t);
    if (t.n == 128) {
        forward_tail<3>(t, c, a);
        return;
    }
    // The longest spans up to four layers at a time (the first pass takes
    // the remainder), then the last eight layers block by block.
    const int leading = t.log_n - 8;
    int layer = 0;
    if (leading % 4 == 1) forward_pass<1>(t, c, a, layer++);
    if (leading % 4 == 2) forward_pass<2>(t, c, a, layer), layer += 2;
    if (leading % 4 == 3) forward_pass<3>(t, c, a, layer), layer += 3;
    for (; layer < leading; layer += 4) forward_pass<4>(t, c, a, layer);
    forward_tail<4>(t, c, a);
}

RINGTRAP_AVX512_TARGET void ntt_inverse_avx512(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    if (!ntt_have_avx512() || !t.lazy || t.n < 128) {
        ntt_inverse_avx2(t, a, after_montmul);
        return;
    }
    const Consts c = consts_of(t);
    const std::int32_t fs = after_montmul ? t.inv_scale_mont : t.inv_scale;
    const V f = bcast(fs);
    const V fq = bcast(static_cast<std::int32_t>(static_cast<std::uint32_t>(fs) * t.qinv));
    if (t.n == 128) {
        inverse_head<3>(t, c, a, true, f, fq);
        return;
    }
    // The first eight layers block by block, then the longer spans four
    // layers at a time (the last pass takes the remainder and scales).
    inverse_head<4>(t, c, a, t.log_n == 8, f, fq);
    int layer = 8;
    for (; t.log_n - layer >= 4; layer += 4) inverse_pass<4>(t, c, a, layer, layer + 4 == t.log_n, f, fq);
    if (t.log_n - layer == 3) inverse_pass<3>(t, c, a, layer, true, f, fq);
    if (t.log_n - layer == 2) inverse_pass<2>(t, c, a, layer, true, f, fq);
    if (t.log_n - layer == 1) inverse_pass<1>(t, c, a, layer, true, f, fq);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace ringtrap

#undef RINGTRAP_AVX512_TARGET

#else

namespace ringtrap {

bool ntt_have_avx512() noexcept { return false; }
void ntt_forward_avx512(const NttTables& t, std::int32_t* a) noexcept { ntt_forward_portable(t, a); }
void ntt_inverse_avx512(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    ntt_inverse_portable(t, a, after_montmul);
}

}  // namespace ringtrap

#endif
