// The number-theoretic transform with AVX2: eight 32-bit coefficients per
// vector, the same butterflies, twiddles and reduction schedule as the
// portable code in ntt.cpp, hence bit-identical results.
//
// Spans of 8 and more pair whole vectors. The three shortest spans (4, 2, 1)
// work on groups of 16 coefficients held in two vectors A and B: a shuffle
// gathers the low halves of all butterflies of the group into one vector and
// the high halves into another, the butterflies run lane by lane with one
// twiddle per lane (NttTables::lane_zetas), and the inverse shuffle puts the
// coefficients back. With A = a0..a7 and B = b0..b7 the lanes of the low
// vector are
//   span 4: a0 a1 a2 a3 b0 b1 b2 b3   (permute2x128)
//   span 2: a0 a1 b0 b1 a4 a5 b4 b5   (unpack of 64-bit halves)
//   span 1: a0 b0 a2 b2 a4 b4 a6 b6   (32-bit blend with shifts)
// and the high vector holds the partner of each lane.
//
// Layers are merged so that coefficients go through memory rarely: for n >= 64
// the forward transform runs the longest spans in passes of up to three layers
// over eight vectors at a time, then the last six layers (spans 32 down to 1)
// on each block of 64 coefficients while it sits in registers; the inverse
// runs the same passes in the opposite order and applies its final scaling
// in the last one. Every butterfly, twiddle and reduction is that of the
// portable code, only the order in which independent butterflies run differs.
#include "ntt.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace ringtrap {
namespace {

struct Consts {
    __m256i q, qinv, r_mod, r_modq;
};

// x * z * 2^-32 mod q in (-q, q), lane by lane, given zq = z * qinv mod 2^32.
// Even and odd lanes take separate 32 x 32 -> 64-bit products; the low halves
// of x z and t q agree, so the high halves differ by exactly the result.
__attribute__((target("avx2"))) inline __m256i montmul_v(__m256i x, __m256i z, __m256i zq, __m256i q) noexcept {
    const __m256i t = _mm256_mullo_epi32(x, zq);
    const __m256i pe = _mm256_mul_epi32(x, z);
    const __m256i po = _mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(z, 32));
    const __m256i te = _mm256_mul_epi32(t, q);
    const __m256i to = _mm256_mul_epi32(_mm256_srli_epi64(t, 32), q);
    const __m256i re = _mm256_srli_epi64(_mm256_sub_epi64(pe, te), 32);
    const __m256i ro = _mm256_sub_epi64(po, to);
    return _mm256_blend_epi32(re, ro, 0xAA);
}

// Both factors variable (pointwise products).
__attribute__((target("avx2"))) inline __m256i montmul_vv(__m256i x, __m256i y, __m256i q, __m256i qinv) noexcept {
    return montmul_v(x, y, _mm256_mullo_epi32(y, qinv), q);
}

__attribute__((target("avx2"))) inline __m256i load(const std::int32_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline void store(std::int32_t* p, __m256i v) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

__attribute__((target("avx2"))) Consts consts_of(const NttTables& t) noexcept {
    const std::int32_t rq = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.r_mod) * t.qinv);
    return Consts{_mm256_set1_epi32(t.q), _mm256_set1_epi32(static_cast<std::int32_t>(t.qinv)),
                  _mm256_set1_epi32(t.r_mod), _mm256_set1_epi32(rq)};
}

__attribute__((target("avx2"))) inline __m256i reduce_v(__m256i x, const Consts& c) noexcept {
    return montmul_v(x, c.r_mod, c.r_modq, c.q);
}

__attribute__((target("avx2"))) void reduce_all_v(const NttTables& t, std::int32_t* a, const Consts& c) noexcept {
    for (std::int32_t j = 0; j < t.n; j += 8) store(a + j, reduce_v(load(a + j), c));
}

// Shuffles of a group (A, B) into (low, high) halves of its butterflies and
// back, for span 4, 2 and 1.
__attribute__((target("avx2"))) inline void split(int span, __m256i a, __m256i b, __m256i& lo, __m256i& hi) noexcept {
    if (span == 0) {
        lo = _mm256_permute2x128_si256(a, b, 0x20);
        hi = _mm256_permute2x128_si256(a, b, 0x31);
    } else if (span == 1) {
        lo = _mm256_unpacklo_epi64(a, b);
        hi = _mm256_unpackhi_epi64(a, b);
    } else {
        lo = _mm256_blend_epi32(a, _mm256_slli_epi64(b, 32), 0xAA);
        hi = _mm256_blend_epi32(_mm256_srli_epi64(a, 32), b, 0xAA);
    }
}

__attribute__((target("avx2"))) inline void join(int span, __m256i lo, __m256i hi, __m256i& a, __m256i& b) noexcept {
    if (span == 0) {
        a = _mm256_permute2x128_si256(lo, hi, 0x20);
        b = _mm256_permute2x128_si256(lo, hi, 0x31);
    } else if (span == 1) {
        a = _mm256_unpacklo_epi64(lo, hi);
        b = _mm256_unpackhi_epi64(lo, hi);
    } else {
        a = _mm256_blend_epi32(lo, _mm256_slli_epi64(hi, 32), 0xAA);
        b = _mm256_blend_epi32(_mm256_srli_epi64(lo, 32), hi, 0xAA);
    }
}

// montmul_v for a twiddle that is the same in every lane: its odd lanes need
// no shift.
__attribute__((target("avx2"))) inline __m256i montmul_bc(__m256i x, __m256i z, __m256i zq, __m256i q) noexcept {
    const __m256i t = _mm256_mullo_epi32(x, zq);
    const __m256i pe = _mm256_mul_epi32(x, z);
    const __m256i po = _mm256_mul_epi32(_mm256_srli_epi64(x, 32), z);
    const __m256i te = _mm256_mul_epi32(t, q);
    const __m256i to = _mm256_mul_epi32(_mm256_srli_epi64(t, 32), q);
    const __m256i re = _mm256_srli_epi64(_mm256_sub_epi64(pe, te), 32);
    const __m256i ro = _mm256_sub_epi64(po, to);
    return _mm256_blend_epi32(re, ro, 0xAA);
}

__attribute__((target("avx2"))) inline bool bit_set(std::uint32_t mask, int layer) noexcept {
    return ((mask >> layer) & 1u) != 0;
}

// Forward layers `first` .. first + K - 1 on 2^K vectors v[m] sitting at
// coefficient offsets m * S (S = the shortest span of these layers) within a
// block whose number at layer `first` is `block`. At layer first + i the
// span is S 2^(K-1-i): v[m] meets v[m + 2^(K-1-i)], and the butterfly's
// twiddle is that of block (block 2^i + (m >> (K-i))) of the layer.
template <int K>
__attribute__((target("avx2"))) inline void forward_layers(const NttTables& t, const Consts& c, __m256i* v, int first,
                                                           std::int32_t block) noexcept {
    constexpr int V = 1 << K;
#pragma GCC unroll 4
    for (int i = 0; i < K; ++i) {
        const int layer = first + i;
        if (bit_set(t.fwd_reduce_before, layer))
#pragma GCC unroll 8
            for (int m = 0; m < V; ++m) v[m] = reduce_v(v[m], c);
        const int half = 1 << (K - 1 - i);
#pragma GCC unroll 8
        for (int m = 0; m < V; ++m) {
            if (m & half) continue;
            const auto idx = static_cast<std::size_t>((std::int32_t{1} << layer) + (block << i) + (m >> (K - i)));
            const __m256i z = _mm256_set1_epi32(t.zetas[idx]);
            const __m256i zq = _mm256_set1_epi32(t.zetas_qinv[idx]);
            const __m256i w = montmul_bc(v[m + half], z, zq, c.q);
            v[m + half] = _mm256_sub_epi32(v[m], w);
            v[m] = _mm256_add_epi32(v[m], w);
        }
    }
}

// K forward layers from `first` over the whole array, in memory passes.
template <int K>
__attribute__((target("avx2"))) void forward_pass(const NttTables& t, const Consts& c, std::int32_t* a, int first) noexcept {
    const std::int32_t span = t.n >> (first + 1);       // longest span of the pass
    const std::int32_t stride = span >> (K - 1);        // shortest span
    __m256i v[1 << K];
    for (std::int32_t start = 0, block = 0; start < t.n; start += 2 * span, ++block) {
        for (std::int32_t j = start; j < start + stride; j += 8) {
#pragma GCC unroll 8
            for (int m = 0; m < (1 << K); ++m) v[m] = load(a + j + m * stride);
            forward_layers<K>(t, c, v, first, block);
#pragma GCC unroll 8
            for (int m = 0; m < (1 << K); ++m) store(a + j + m * stride, v[m]);
        }
    }
}

// The last six forward layers (spans 32 .. 1) on each block of 64.
__attribute__((target("avx2"))) void forward_last6(const NttTables& t, const Consts& c, std::int32_t* a) noexcept {
    const int first = t.log_n - 6;
    const std::size_t half = static_cast<std::size_t>(t.n) / 2;
    __m256i v[8];
    for (std::int32_t g = 0; g < t.n / 64; ++g) {
        std::int32_t* blk = a + 64 * g;
#pragma GCC unroll 8
        for (int m = 0; m < 8; ++m) v[m] = load(blk + 8 * m);
        forward_layers<3>(t, c, v, first, g);
#pragma GCC unroll 3
        for (int span = 0; span < 3; ++span) {
            const bool reduce = bit_set(t.fwd_reduce_before, first + 3 + span);
#pragma GCC unroll 4
            for (int p = 0; p < 4; ++p) {
                __m256i& va = v[2 * p];
                __m256i& vb = v[2 * p + 1];
                if (reduce) {
                    va = reduce_v(va, c);
                    vb = reduce_v(vb, c);
                }
                const std::size_t off = static_cast<std::size_t>(span) * half + static_cast<std::size_t>(4 * g + p) * 8;
                __m256i lo, hi;
                split(span, va, vb, lo, hi);
                const __m256i w = montmul_v(hi, load(t.lane_zetas.data() + off), load(t.lane_zetas_qinv.data() + off), c.q);
                join(span, _mm256_add_epi32(lo, w), _mm256_sub_epi32(lo, w), va, vb);
            }
        }
        if (t.fwd_reduce_after)
            for (int m = 0; m < 8; ++m) v[m] = reduce_v(v[m], c);
#pragma GCC unroll 8
        for (int m = 0; m < 8; ++m) store(blk + 8 * m, v[m]);
    }
}

// Inverse layers `first` .. first + K - 1 on 2^K vectors at offsets m * S
// (S = the span of layer `first`) within a block of S 2^K coefficients whose
// number is `block`: at layer first + i, v[m] meets v[m + 2^i] with the
// twiddle of block (block 2^(K-1-i) + (m >> (i+1))) of that layer. With
// `scale`, every vector is multiplied by f afterwards (the final scaling).
template <int K>
__attribute__((target("avx2"))) inline void inverse_layers(const NttTables& t, const Consts& c, __m256i* v, int first,
                                                           std::int32_t block) noexcept {
    constexpr int V = 1 << K;
#pragma GCC unroll 4
    for (int i = 0; i < K; ++i) {
        const int layer = first + i;
        if (bit_set(t.inv_reduce_before, layer))
#pragma GCC unroll 8
            for (int m = 0; m < V; ++m) v[m] = reduce_v(v[m], c);
        const int half = 1 << i;
        const std::int32_t base = t.n >> (layer + 1);  // n / (2 span)
#pragma GCC unroll 8
        for (int m = 0; m < V; ++m) {
            if (m & half) continue;
            const auto idx = static_cast<std::size_t>(base + (block << (K - 1 - i)) + (m >> (i + 1)));
            const __m256i z = _mm256_set1_epi32(t.zetas_inv[idx]);
            const __m256i zq = _mm256_set1_epi32(t.zetas_inv_qinv[idx]);
            const __m256i u = v[m];
            v[m] = _mm256_add_epi32(u, v[m + half]);
            v[m + half] = montmul_bc(_mm256_sub_epi32(u, v[m + half]), z, zq, c.q);
        }
    }
}

__attribute__((target("avx2"))) inline void scale_all(__m256i* v, int count, __m256i f, __m256i fq, __m256i q) noexcept {
#pragma GCC unroll 8
    for (int m = 0; m < count; ++m) v[m] = montmul_bc(v[m], f, fq, q);
}

// The first six inverse layers (spans 1 .. 32) on each block of 64; with
// `scale` (n = 64) also the final scaling.
__attribute__((target("avx2"))) void inverse_first6(const NttTables& t, const Consts& c, std::int32_t* a, bool scale,
                                                    __m256i f, __m256i fq) noexcept {
    const std::size_t half = static_cast<std::size_t>(t.n) / 2;
    __m256i v[8];
    for (std::int32_t g = 0; g < t.n / 64; ++g) {
        std::int32_t* blk = a + 64 * g;
#pragma GCC unroll 8
        for (int m = 0; m < 8; ++m) v[m] = load(blk + 8 * m);
#pragma GCC unroll 3
        for (int span = 2; span >= 0; --span) {
            const bool reduce = bit_set(t.inv_reduce_before, 2 - span);
#pragma GCC unroll 4
            for (int p = 0; p < 4; ++p) {
                __m256i& va = v[2 * p];
                __m256i& vb = v[2 * p + 1];
                if (reduce) {
                    va = reduce_v(va, c);
                    vb = reduce_v(vb, c);
                }
                const std::size_t off = static_cast<std::size_t>(span) * half + static_cast<std::size_t>(4 * g + p) * 8;
                __m256i lo, hi;
                split(span, va, vb, lo, hi);
                const __m256i sum = _mm256_add_epi32(lo, hi);
                const __m256i diff = montmul_v(_mm256_sub_epi32(lo, hi), load(t.lane_zetas_inv.data() + off),
                                               load(t.lane_zetas_inv_qinv.data() + off), c.q);
                join(span, sum, diff, va, vb);
            }
        }
        inverse_layers<3>(t, c, v, 3, g);
        if (scale) scale_all(v, 8, f, fq, c.q);
#pragma GCC unroll 8
        for (int m = 0; m < 8; ++m) store(blk + 8 * m, v[m]);
    }
}

// K inverse layers from `first` over the whole array; with `scale` the final
// scaling too.
template <int K>
__attribute__((target("avx2"))) void inverse_pass(const NttTables& t, const Consts& c, std::int32_t* a, int first,
                                                  bool scale, __m256i f, __m256i fq) noexcept {
    const std::int32_t stride = std::int32_t{1} << first;  // shortest span of the pass
    const std::int32_t width = stride << K;                // coefficients per block
    __m256i v[1 << K];
    for (std::int32_t start = 0, block = 0; start < t.n; start += width, ++block) {
        for (std::int32_t j = start; j < start + stride; j += 8) {
#pragma GCC unroll 8
            for (int m = 0; m < (1 << K); ++m) v[m] = load(a + j + m * stride);
            inverse_layers<K>(t, c, v, first, block);
            if (scale) scale_all(v, 1 << K, f, fq, c.q);
#pragma GCC unroll 8
            for (int m = 0; m < (1 << K); ++m) store(a + j + m * stride, v[m]);
        }
    }
}

}  // namespace

bool ntt_have_avx2() noexcept {
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok;
}

__attribute__((target("avx2"))) void ntt_forward_avx2(const NttTables& t, std::int32_t* a) noexcept {
    if (!ntt_have_avx2() || !t.lazy || t.n < 16) {
        ntt_forward_portable(t, a);
        return;
    }
    const Consts c = consts_of(t);
    if (t.n >= 64) {
        // The longest spans three layers at a time (the first pass takes the
        // remainder), then the last six layers block by block.
        int layer = 0;
        const int leading = t.log_n - 6;
        if (leading % 3 == 1) forward_pass<1>(t, c, a, layer++);
        if (leading % 3 == 2) forward_pass<2>(t, c, a, layer), layer += 2;
        for (; layer < leading; layer += 3) forward_pass<3>(t, c, a, layer);
        forward_last6(t, c, a);
        return;
    }
    const std::int32_t nn = t.n;
    std::int32_t idx = 0;
    int layer = 0;
    for (std::int32_t len = nn / 2; len >= 8; len >>= 1, ++layer) {
        if ((t.fwd_reduce_before >> layer) & 1u) reduce_all_v(t, a, c);
        for (std::int32_t start = 0; start < nn; start += 2 * len) {
            ++idx;
            const __m256i z = _mm256_set1_epi32(t.zetas[static_cast<std::size_t>(idx)]);
            const __m256i zq = _mm256_set1_epi32(t.zetas_qinv[static_cast<std::size_t>(idx)]);
            for (std::int32_t j = start; j < start + len; j += 8) {
                const __m256i v = montmul_v(load(a + j + len), z, zq, c.q);
                const __m256i u = load(a + j);
                store(a + j + len, _mm256_sub_epi32(u, v));
                store(a + j, _mm256_add_epi32(u, v));
            }
        }
    }
    // Spans 4, 2, 1 on each group of 16 while it sits in registers.
    const bool reduce_first[3] = {((t.fwd_reduce_before >> layer) & 1u) != 0,
                                  ((t.fwd_reduce_before >> (layer + 1)) & 1u) != 0,
                                  ((t.fwd_reduce_before >> (layer + 2)) & 1u) != 0};
    const std::size_t half = static_cast<std::size_t>(nn) / 2;
    for (std::int32_t g = 0; g < nn / 16; ++g) {
        __m256i va = load(a + 16 * g);
        __m256i vb = load(a + 16 * g + 8);
        for (int span = 0; span < 3; ++span) {
            if (reduce_first[span]) {
                va = reduce_v(va, c);
                vb = reduce_v(vb, c);
            }
            const std::size_t off = static_cast<std::size_t>(span) * half + static_cast<std::size_t>(g) * 8;
            __m256i lo, hi;
            split(span, va, vb, lo, hi);
            const __m256i v = montmul_v(hi, load(t.lane_zetas.data() + off), load(t.lane_zetas_qinv.data() + off), c.q);
            join(span, _mm256_add_epi32(lo, v), _mm256_sub_epi32(lo, v), va, vb);
        }
        if (t.fwd_reduce_after) {
            va = reduce_v(va, c);
            vb = reduce_v(vb, c);
        }
        store(a + 16 * g, va);
        store(a + 16 * g + 8, vb);
    }
}

__attribute__((target("avx2"))) void ntt_inverse_avx2(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    if (!ntt_have_avx2() || !t.lazy || t.n < 16) {
        ntt_inverse_portable(t, a, after_montmul);
        return;
    }
    const Consts c = consts_of(t);
    if (t.n >= 64) {
        const std::int32_t fs = after_montmul ? t.inv_scale_mont : t.inv_scale;
        const __m256i f = _mm256_set1_epi32(fs);
        const __m256i fq = _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(fs) * t.qinv));
        // The first six layers block by block, then the longer spans three
        // layers at a time (the last pass takes the remainder and scales).
        const int trailing = t.log_n - 6;
        inverse_first6(t, c, a, trailing == 0, f, fq);
        int layer = 6;
        for (; t.log_n - layer >= 3; layer += 3)
            inverse_pass<3>(t, c, a, layer, layer + 3 == t.log_n, f, fq);
        if (t.log_n - layer == 2) inverse_pass<2>(t, c, a, layer, true, f, fq);
        if (t.log_n - layer == 1) inverse_pass<1>(t, c, a, layer, true, f, fq);
        return;
    }
    const std::int32_t nn = t.n;
    const std::size_t half = static_cast<std::size_t>(nn) / 2;
    // Spans 1, 2, 4 on each group of 16 (layers 0, 1, 2).
    for (std::int32_t g = 0; g < nn / 16; ++g) {
        __m256i va = load(a + 16 * g);
        __m256i vb = load(a + 16 * g + 8);
        for (int span = 2; span >= 0; --span) {
            if ((t.inv_reduce_before >> (2 - span)) & 1u) {
                va = reduce_v(va, c);
                vb = reduce_v(vb, c);
            }
            const std::size_t off = static_cast<std::size_t>(span) * half + static_cast<std::size_t>(g) * 8;
            __m256i lo, hi;
            split(span, va, vb, lo, hi);
            const __m256i sum = _mm256_add_epi32(lo, hi);
            const __m256i diff = montmul_v(_mm256_sub_epi32(lo, hi), load(t.lane_zetas_inv.data() + off),
                                           load(t.lane_zetas_inv_qinv.data() + off), c.q);
            join(span, sum, diff, va, vb);
        }
        store(a + 16 * g, va);
        store(a + 16 * g + 8, vb);
    }
    int layer = 3;
    for (std::int32_t len = 8; len < nn; len <<= 1, ++layer) {
        if ((t.inv_reduce_before >> layer) & 1u) reduce_all_v(t, a, c);
        const std::int32_t base = nn / (2 * len);
        for (std::int32_t start = 0; start < nn; start += 2 * len) {
            const auto idx = static_cast<std::size_t>(base + start / (2 * len));
            const __m256i z = _mm256_set1_epi32(t.zetas_inv[idx]);
            const __m256i zq = _mm256_set1_epi32(t.zetas_inv_qinv[idx]);
            for (std::int32_t j = start; j < start + len; j += 8) {
                const __m256i u = load(a + j);
                const __m256i v = load(a + j + len);
                store(a + j, _mm256_add_epi32(u, v));
                store(a + j + len, montmul_v(_mm256_sub_epi32(u, v), z, zq, c.q));
            }
        }
    }
    const std::int32_t f = after_montmul ? t.inv_scale_mont : t.inv_scale;
    const __m256i vf = _mm256_set1_epi32(f);
    const __m256i vfq = _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(f) * t.qinv));
    for (std::int32_t j = 0; j < nn; j += 8) store(a + j, montmul_v(load(a + j), vf, vfq, c.q));
}

__attribute__((target("avx2"))) void ntt_pointwise_avx2(const NttTables& t, std::int32_t* out, const std::int32_t* a,
                                                        const std::int32_t* b) noexcept {
    if (!ntt_have_avx2() || !t.lazy || t.n < 16) {
        ntt_pointwise_portable(t, out, a, b);
        return;
    }
    const Consts c = consts_of(t);
    for (std::int32_t i = 0; i < t.n; i += 8) store(out + i, montmul_vv(load(a + i), load(b + i), c.q, c.qinv));
}

__attribute__((target("avx2"))) void ntt_pointwise_acc_avx2(const NttTables& t, std::int32_t* acc, const std::int32_t* a,
                                                            const std::int32_t* b) noexcept {
    if (!ntt_have_avx2() || !t.lazy || t.n < 16) {
        ntt_pointwise_acc_portable(t, acc, a, b);
        return;
    }
    const Consts c = consts_of(t);
    const __m256i q_minus_1 = _mm256_set1_epi32(t.q - 1);
    const __m256i one_minus_q = _mm256_set1_epi32(1 - t.q);
    for (std::int32_t i = 0; i < t.n; i += 8) {
        // acc + a b in (-2q, 2q), folded back to (-q, q).
        __m256i x = _mm256_add_epi32(load(acc + i), montmul_vv(load(a + i), load(b + i), c.q, c.qinv));
        x = _mm256_sub_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(x, q_minus_1), c.q));
        x = _mm256_add_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(one_minus_q, x), c.q));
        store(acc + i, x);
    }
}

__attribute__((target("avx2"))) void ntt_mul_acc_wide_avx2(const NttTables& t, std::int64_t* acc, const std::int32_t* a,
                                                           const std::int32_t* b) noexcept {
    if (!ntt_have_avx2() || t.n < 8) {
        ntt_mul_acc_wide_portable(t, acc, a, b);
        return;
    }
    for (std::int32_t i = 0; i < t.n; i += 8) {
        const __m256i x = load(a + i), y = load(b + i);
        __m256i* even = reinterpret_cast<__m256i*>(acc + i);
        __m256i* odd = reinterpret_cast<__m256i*>(acc + i + 4);
        _mm256_storeu_si256(even, _mm256_add_epi64(_mm256_loadu_si256(even), _mm256_mul_epi32(x, y)));
        _mm256_storeu_si256(odd, _mm256_add_epi64(_mm256_loadu_si256(odd),
                                                  _mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(y, 32))));
    }
}

__attribute__((target("avx2"))) void ntt_reduce_wide_avx2(const NttTables& t, std::int32_t* out,
                                                         const std::int64_t* acc) noexcept {
    if (!ntt_have_avx2() || t.n < 8) {
        ntt_reduce_wide_portable(t, out, acc);
        return;
    }
    const Consts c = consts_of(t);
    for (std::int32_t i = 0; i < t.n; i += 8) {
        // Montgomery reduction of each 64-bit sum: its high half once t q is
        // subtracted; even positions shift down, odd ones already sit high.
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + i));
        const __m256i o = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + i + 4));
        const __m256i re = _mm256_sub_epi64(e, _mm256_mul_epi32(_mm256_mul_epu32(e, c.qinv), c.q));
        const __m256i ro = _mm256_sub_epi64(o, _mm256_mul_epi32(_mm256_mul_epu32(o, c.qinv), c.q));
        store(out + i, reduce_v(_mm256_blend_epi32(_mm256_srli_epi64(re, 32), ro, 0xAA), c));
    }
}

__attribute__((target("avx2"))) void ntt_load_avx2(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept {
    if (!ntt_have_avx2() || t.n < 8) {
        ntt_load_portable(t, dst, src);
        return;
    }
    // In range when -q < x < q for all x: then the low halves are the values.
    const __m256i hi_lim = _mm256_set1_epi64x(t.q);
    const __m256i lo_lim = _mm256_set1_epi64x(-static_cast<std::int64_t>(t.q));
    const __m256i pick_low = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i all = _mm256_set1_epi64x(-1);
    __m256i inside = all;
    for (std::int32_t i = 0; i < t.n; i += 8) {
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 4));
        inside = _mm256_and_si256(inside, _mm256_and_si256(_mm256_cmpgt_epi64(x0, lo_lim), _mm256_cmpgt_epi64(hi_lim, x0)));
        inside = _mm256_and_si256(inside, _mm256_and_si256(_mm256_cmpgt_epi64(x1, lo_lim), _mm256_cmpgt_epi64(hi_lim, x1)));
        const __m256i l0 = _mm256_permutevar8x32_epi32(x0, pick_low);  // low halves of x0 in lanes 0..3
        const __m256i l1 = _mm256_permutevar8x32_epi32(x1, pick_low);
        store(dst + i, _mm256_permute2x128_si256(l0, l1, 0x20));
    }
    // Some value needs a real reduction: redo the whole row the portable way.
    if (!_mm256_testc_si256(inside, all)) ntt_load_portable(t, dst, src);
}

__attribute__((target("avx2"))) void ntt_store_centred_avx2(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept {
    if (!ntt_have_avx2() || t.n < 8) {
        ntt_store_centred_portable(t, dst, src);
        return;
    }
    const __m256i q = _mm256_set1_epi32(t.q);
    const __m256i h = _mm256_set1_epi32(t.q / 2);
    const __m256i neg_h = _mm256_set1_epi32(-(t.q / 2));
    for (std::int32_t i = 0; i < t.n; i += 8) {
        __m256i x = load(src + i);
        // x > h: x - q; x < -h: x + q (inputs in (-q, q)).
        x = _mm256_sub_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(x, h), q));
        x = _mm256_add_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(neg_h, x), q));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_cvtepi32_epi64(_mm256_castsi256_si128(x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 4), _mm256_cvtepi32_epi64(_mm256_extracti128_si256(x, 1)));
    }
}

__attribute__((target("avx2"))) bool ntt_load_bytes_avx2(const NttTables& t, std::int32_t* dst, const std::uint8_t* src,
                                                         std::int32_t bound) noexcept {
    if (!ntt_have_avx2() || t.n < 8) return ntt_load_bytes_portable(t, dst, src, bound);
    // x86 is little-endian: the 4 bytes of a coefficient are one 32-bit lane.
    const __m256i magnitude = _mm256_set1_epi32(0x7FFFFFFF);
    const __m256i q_minus_1 = _mm256_set1_epi32(t.q - 1), h = _mm256_set1_epi32(bound);
    const __m256i negative_zero = _mm256_set1_epi32(static_cast<std::int32_t>(0x80000000u));
    __m256i outside = _mm256_setzero_si256(), odd = _mm256_setzero_si256();
    for (std::int32_t i = 0; i < t.n; i += 8) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256i m = _mm256_and_si256(w, magnitude);
        const __m256i neg = _mm256_srai_epi32(w, 31);
        outside = _mm256_or_si256(outside, _mm256_cmpgt_epi32(m, q_minus_1));
        odd = _mm256_or_si256(odd, _mm256_or_si256(_mm256_cmpgt_epi32(m, h), _mm256_cmpeq_epi32(w, negative_zero)));
        store(dst + i, _mm256_sub_epi32(_mm256_xor_si256(m, neg), neg));
    }
    // Some magnitude needs a real reduction: redo the row the portable way.
    if (!_mm256_testz_si256(outside, outside)) return ntt_load_bytes_portable(t, dst, src, bound);
    return _mm256_testz_si256(odd, odd) != 0;
}

__attribute__((target("avx2"))) std::uint64_t ntt_centre_norm_avx2(const NttTables& t, std::int32_t* a,
                                                                   std::uint64_t limit) noexcept {
    if (!ntt_have_avx2() || t.n % 32 != 0) return ntt_centre_norm_portable(t, a, limit);
    const __m256i q = _mm256_set1_epi32(t.q);
    const __m256i h = _mm256_set1_epi32(t.q / 2);
    const __m256i neg_h = _mm256_set1_epi32(-(t.q / 2));
    std::uint64_t sum = 0;
    for (std::int32_t j0 = 0; j0 < t.n; j0 += 32) {
        // Four 64-bit lanes take two squares (below 2^60 each) per vector of
        // eight: eight per lane per block, below 2^63.
        __m256i lanes = _mm256_setzero_si256();
        for (std::int32_t j = j0; j < j0 + 32; j += 8) {
            __m256i x = load(a + j);
            x = _mm256_sub_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(x, h), q));
            x = _mm256_add_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(neg_h, x), q));
            store(a + j, x);
            lanes = _mm256_add_epi64(lanes, _mm256_mul_epi32(x, x));
            const __m256i odd = _mm256_srli_epi64(x, 32);
            lanes = _mm256_add_epi64(lanes, _mm256_mul_epi32(odd, odd));
        }
        alignas(32) std::uint64_t part[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(part), lanes);
        // The sum stays at most the limit (below 2^62) before each addition.
        for (const std::uint64_t v : part) {
            sum += v;
            if (sum > limit) return sum;
        }
    }
    return sum;
}

__attribute__((target("avx2"))) void ntt_load_sum_avx2(const NttTables& t, std::int32_t* dst, std::int64_t* x,
                                                       const std::int64_t* a, const std::int64_t* b) noexcept {
    if (!ntt_have_avx2() || t.n < 8) {
        ntt_load_sum_portable(t, dst, x, a, b);
        return;
    }
    const __m256i q = _mm256_set1_epi64x(t.q), neg_q = _mm256_set1_epi64x(-static_cast<std::int64_t>(t.q));
    const __m256i h = _mm256_set1_epi64x(t.q / 2), neg_h = _mm256_set1_epi64x(-static_cast<std::int64_t>(t.q / 2));
    const __m256i pick_low = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    __m256i inside = _mm256_set1_epi64x(-1);
    for (std::int32_t i = 0; i < t.n; i += 8) {
        __m256i v[2];
        for (int half = 0; half < 2; ++half) {
            const std::int32_t j = i + 4 * half;
            __m256i s = _mm256_add_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + j)),
                                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + j)));
            inside = _mm256_and_si256(inside, _mm256_and_si256(_mm256_cmpgt_epi64(s, neg_q), _mm256_cmpgt_epi64(q, s)));
            s = _mm256_sub_epi64(s, _mm256_and_si256(_mm256_cmpgt_epi64(s, h), q));
            s = _mm256_add_epi64(s, _mm256_and_si256(_mm256_cmpgt_epi64(neg_h, s), q));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(x + j), s);
            v[half] = _mm256_permutevar8x32_epi32(s, pick_low);  // low halves in lanes 0..3
        }
        store(dst + i, _mm256_permute2x128_si256(v[0], v[1], 0x20));
    }
    // Some sum needs a real reduction: redo the row the portable way.
    if (!_mm256_testc_si256(inside, _mm256_set1_epi64x(-1))) ntt_load_sum_portable(t, dst, x, a, b);
}

__attribute__((target("avx2"))) void ntt_sub_avx2(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept {
    if (!ntt_have_avx2() || !t.lazy || t.n < 8) {
        ntt_sub_portable(t, a, b);
        return;
    }
    // q < 2^30 here, so the difference fits 32 bits.
    const __m256i q = _mm256_set1_epi32(t.q);
    const __m256i q_minus_1 = _mm256_set1_epi32(t.q - 1), one_minus_q = _mm256_set1_epi32(1 - t.q);
    for (std::int32_t i = 0; i < t.n; i += 8) {
        __m256i v = _mm256_sub_epi32(load(a + i), load(b + i));
        v = _mm256_sub_epi32(v, _mm256_and_si256(_mm256_cmpgt_epi32(v, q_minus_1), q));
        v = _mm256_add_epi32(v, _mm256_and_si256(_mm256_cmpgt_epi32(one_minus_q, v), q));
        store(a + i, v);
    }
}

}  // namespace ringtrap

#endif
