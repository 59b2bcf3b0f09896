#include "SampleG.h"

#include <algorithm>
#include <array>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RINGTRAP_SAMPLEG_X86 1
#else
#define RINGTRAP_SAMPLEG_X86 0
#endif

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "secret.h"

namespace ringtrap {

namespace {

// 1/sqrt(3) as 1.0/sqrt(3.0); sqrt(1.0/3.0) is one ulp lower and not the value.
const double kInvSqrt3 = 1.0 / std::sqrt(3.0);

// Only the last continuous value is folded, and at most this many earlier ones.
constexpr std::int64_t kMaxFold = 20;

// kInvPow2[j] = 2^-j, exact.
constexpr std::array<double, kMaxFold + 1> kInvPow2 = [] {
    std::array<double, kMaxFold + 1> v{};
    double x = 1.0;
    for (auto& e : v) {
        e = x;
        x *= 0.5;
    }
    return v;
}();

bool gadget_inputs_ok(std::int64_t q, double sigma, std::int64_t digits) {
    if (digits < 1 || digits > kMaxGadgetLength) return false;
    if (q <= 0) return false;
    // The coset digits only see bits 0 .. digits-1 of q.
    if (digits < 63 && q >= (std::int64_t{1} << digits)) return false;
    return std::isfinite(sigma) && std::fabs(sigma) <= kMaxGadgetWidth;
}

// Bit i of a non-negative value; bits at 63 and above are 0.
inline std::int64_t bit(std::int64_t v, std::int64_t i) { return i < 63 ? (v >> i) & 1 : 0; }

// t = (u - <g, p>) mod q in [0, q). With small samples and a short gadget the
// plain 64-bit difference is exact; otherwise u and each p_i 2^i are reduced
// term by term, which gives the same residue without overflow for targets
// near the ends of the 64-bit range or long gadgets.
std::int64_t gadget_residue(std::int64_t u, const std::int64_t* p, std::size_t len, std::int64_t q) {
    std::int64_t t;
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < len; ++i) largest |= p[i] < 0 ? -p[i] : p[i];
    if (len <= 40 && largest < (std::int64_t{1} << 20) && u > -(std::int64_t{1} << 61) && u < (std::int64_t{1} << 61)) {
        // |<g, p>| < 2^20 * 2^40 = 2^60.
        std::int64_t gp = 0;
        for (std::size_t i = len; i-- > 0;) gp = 2 * gp + p[i];
        t = (u - gp) % q;
    } else {
        __extension__ typedef __int128 wide;
        wide acc = u % q;
        std::int64_t pow2 = 1 % q;  // 2^i mod q
        for (std::size_t i = 0; i < len; ++i) {
            acc = (acc - static_cast<wide>(p[i] % q) * pow2) % q;
            pow2 = static_cast<std::int64_t>(static_cast<wide>(pow2) * 2 % q);
        }
        t = static_cast<std::int64_t>(acc);
    }
    return t < 0 ? t + q : t;
}

}  // namespace

bool Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma, std::int64_t digits) {
    if (!gadget_inputs_ok(q, sigma, digits)) {
        for (std::int64_t i = 0; i < digits; ++i) out[i] = 0;
        return false;
    }
    const auto len = static_cast<std::size_t>(digits);
    const gaussian_tables::BoxMuller& tables = gaussian_tables::box_muller();
    std::array<double, kMaxGadgetLength> y;
    std::array<std::int64_t, kMaxGadgetLength> p;
    std::array<std::int64_t, kMaxGadgetLength> d;
    const double two_sigma = sigma + sigma;

    // Correlated continuous perturbation: the last value is scaled and then
    // collects halving shares of up to 20 values before it. Multiplying by
    // 2^-j gives the very double that dividing by 2^j does (both are the
    // correctly rounded value of the same real number).
    // All 3k samples take their draws up front, in the order the steps below
    // use them: k continuous values, k rounded around them, the multiplier,
    // k - 1 digits. No sample can fail to round here (the width is bounded),
    // so this is exactly the draw sequence of taking them one by one.
    std::array<double, 3 * kMaxGadgetLength> cs, rd;
    detail::gaussian_factors(tables, cs.data(), rd.data(), 3 * len);
    std::size_t next = 0;
    const auto sample = [&](double centre, double width) {
        const double g = detail::gaussian_from(cs[next], rd[next], centre, width);
        ++next;
        return g;
    };

    for (std::size_t i = 0; i < len; ++i) y[i] = sample(0.0, two_sigma);
    y[len - 1] = y[len - 1] * kInvSqrt3;
    const std::int64_t folds = digits - 1 < kMaxFold ? digits - 1 : kMaxFold;
    for (std::int64_t j = 1; j <= folds; ++j)
        y[len - 1] = y[len - 1] + y[len - 1 - static_cast<std::size_t>(j)] * kInvPow2[static_cast<std::size_t>(j)];

    for (std::size_t i = 0; i < len; ++i) p[i] = detail::round_half_away(sample(y[i], sigma));

    const std::int64_t t = gadget_residue(u, p.data(), len, q);

    // Multiplier of q; its centre -t/q lies in (-1, 0].
    const std::int64_t c = detail::round_half_away(sample(static_cast<double>(-t) / static_cast<double>(q), sigma));

    // Coset digits: <g, d> = t + c q.
    for (std::size_t i = 0; i < len; ++i) {
        const auto ii = static_cast<std::int64_t>(i);
        d[i] = bit(t, ii) + c * bit(q, ii);
    }

    // Randomise every digit but the last with a sample of its own parity and
    // carry the (even) difference into the next digit, so <g, .> is unchanged.
    for (std::size_t i = 0; i + 1 < len; ++i) {
        const std::int64_t x = detail::parity_step(sample(0.0, two_sigma), d[i]);
        d[i + 1] = d[i + 1] + (d[i] - x) / 2;
        d[i] = x;
    }

    for (std::size_t i = 0; i < len; ++i) out[i] = d[i] + p[i];
    secure_zero(y.data(), len * sizeof(double));
    secure_zero(p.data(), len * sizeof(std::int64_t));
    secure_zero(d.data(), len * sizeof(std::int64_t));
    secure_zero(cs.data(), 3 * len * sizeof(double));
    secure_zero(rd.data(), 3 * len * sizeof(double));
    return true;
}

void Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma) {
    // Inputs it cannot serve leave k zeros, as documented; nothing to report.
    const DrawLock lock;
    static_cast<void>(Sample_G(out, q, u, sigma, k));
}

bool sample_gadget_batch_portable(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                  std::int64_t count, std::int64_t* out, std::int64_t stride) {
    if (!gadget_inputs_ok(q, sigma, digits)) return false;
    std::array<std::int64_t, kMaxGadgetLength> x;
    for (std::int64_t j = 0; j < count; ++j) {
        static_cast<void>(Sample_G(x.data(), q, u[j], sigma, digits));
        for (std::int64_t i = 0; i < digits; ++i) out[i * stride + j] = x[static_cast<std::size_t>(i)];
    }
    secure_zero(x.data(), sizeof x);
    return true;
}

#if RINGTRAP_SAMPLEG_X86

namespace {

// The AVX2 form runs Sample_G for four targets side by side, one per lane:
// doubles in 256-bit vectors, integers in 32-bit lanes of 128-bit vectors,
// each lane performing the IEEE operations of the scalar code in its order.
//
// Why 32 bits suffice for |sigma| <= 2^20: a sample of width w around c has
// magnitude at most |c| + 4.5601 |w| (the largest radius is sqrt(-2 ln(1/32767))).
// So |y_i| <= 9.13 |sigma|, the folded last value <= 9.13 |sigma| (1/sqrt 3 + 1)
// < 14.4 |sigma|, |p_i| <= 19 |sigma| + 1, |c| <= 4.57 |sigma| + 2, the coset
// digits start at most 4.57 |sigma| + 3, each parity sample is at most
// 9.13 |sigma| + 1 and a carry adds half of a digit and such a sample, so no
// digit exceeds 2 (4.57 |sigma| + 3) + 9.13 |sigma| + 1 < 18.3 |sigma| + 7 and no
// output exceeds 37.3 |sigma| + 8 < 2^26. t lies in [0, q) with q < 2^31.
constexpr double kMaxVectorWidth = 1048576.0;  // 2^20
constexpr std::size_t kGroup = 4;

// One sample per lane from its draws (detail::gaussian_words; lane l's at
// words[l * step]): the factors looked up, then c + cos * (width * radius) as
// detail::gaussian_from.
__attribute__((target("avx2"))) inline __m256d sample_v(const gaussian_tables::BoxMuller& t, const std::uint32_t* words,
                                                        std::size_t step, __m256d centre, __m256d width) noexcept {
    const std::uint32_t w0 = words[0], w1 = words[step], w2 = words[2 * step], w3 = words[3 * step];
    const __m256d cs = _mm256_setr_pd(t.cos_theta[w0 & 0x7fff], t.cos_theta[w1 & 0x7fff], t.cos_theta[w2 & 0x7fff],
                                      t.cos_theta[w3 & 0x7fff]);
    const __m256d rd = _mm256_setr_pd(t.radius[w0 >> 16], t.radius[w1 >> 16], t.radius[w2 >> 16], t.radius[w3 >> 16]);
    return _mm256_add_pd(centre, _mm256_mul_pd(cs, _mm256_mul_pd(width, rd)));
}

// detail::round_half_away: truncation of g + copysign(0.5, g).
__attribute__((target("avx2"))) inline __m128i round_half_away_v(__m256d g) noexcept {
    const __m256d half = _mm256_or_pd(_mm256_and_pd(g, _mm256_set1_pd(-0.0)), _mm256_set1_pd(0.5));
    return _mm256_cvttpd_epi32(_mm256_add_pd(g, half));
}

// detail::parity_step: the truncation, one step away from zero (by the sign
// of g) when its parity differs from that of p.
__attribute__((target("avx2"))) inline __m128i parity_step_v(__m256d g, __m128i p) noexcept {
    const __m128i v = _mm256_cvttpd_epi32(g);
    const __m128i wrong = _mm_and_si128(_mm_xor_si128(v, p), _mm_set1_epi32(1));
    const __m256i gt64 = _mm256_castpd_si256(_mm256_cmp_pd(g, _mm256_setzero_pd(), _CMP_GT_OQ));
    const __m128i gt = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(gt64, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)));
    const __m128i step = _mm_sub_epi32(_mm_and_si128(gt, _mm_set1_epi32(2)), _mm_set1_epi32(1));  // +1 or -1
    return _mm_add_epi32(v, _mm_and_si128(step, _mm_sub_epi32(_mm_setzero_si128(), wrong)));
}

// Working memory of one group, wiped once per batch.
struct GadgetLanes {
    std::uint32_t words[kGroup * 3 * kMaxGadgetLength];  // target l's draws from l * 3 len on
    __m256d y[kMaxGadgetLength];
    __m128i p[kMaxGadgetLength];
    __m128i d[kMaxGadgetLength];
    alignas(32) std::int64_t gp[kGroup];
    alignas(16) std::int32_t p_lane[kGroup];
    std::int64_t p_one[kMaxGadgetLength];
    alignas(16) std::int32_t t[kGroup];
};

// Four targets; the draws of their 3 len samples each are already in w.
__attribute__((target("avx2"))) void gadget_group(const gaussian_tables::BoxMuller& tb, GadgetLanes& w, std::int64_t q,
                                                  double sigma, std::size_t len, const std::int64_t* u, std::int64_t* out,
                                                  std::int64_t stride) noexcept {
    const __m256d zero = _mm256_setzero_pd();
    const __m256d sigma_v = _mm256_set1_pd(sigma);
    const __m256d two_sigma_v = _mm256_set1_pd(sigma + sigma);

    // Continuous perturbation with the folded last value.
    for (std::size_t i = 0; i < len; ++i) w.y[i] = sample_v(tb, w.words + i, 3 * len, zero, two_sigma_v);
    w.y[len - 1] = _mm256_mul_pd(w.y[len - 1], _mm256_set1_pd(kInvSqrt3));
    const std::size_t folds = std::min(len - 1, static_cast<std::size_t>(kMaxFold));
    for (std::size_t j = 1; j <= folds; ++j)
        w.y[len - 1] = _mm256_add_pd(w.y[len - 1], _mm256_mul_pd(w.y[len - 1 - j], _mm256_set1_pd(kInvPow2[j])));

    for (std::size_t i = 0; i < len; ++i)
        w.p[i] = round_half_away_v(sample_v(tb, w.words + len + i, 3 * len, w.y[i], sigma_v));

    // The residue (u - <g, p>) mod q. For up to 32 digits below 2^26 the sum
    // <g, p> stays below 2^58 and is formed in 64-bit lanes; a target beyond
    // 2^61 (never a syndrome) takes the scalar rule.
    if (len <= 32) {
        __m256i gp = _mm256_setzero_si256();
        for (std::size_t i = len; i-- > 0;) gp = _mm256_add_epi64(_mm256_add_epi64(gp, gp), _mm256_cvtepi32_epi64(w.p[i]));
        _mm256_store_si256(reinterpret_cast<__m256i*>(w.gp), gp);
    }
    for (std::size_t l = 0; l < kGroup; ++l) {
        if (len <= 32 && u[l] > -(std::int64_t{1} << 61) && u[l] < (std::int64_t{1} << 61)) {
            const std::int64_t r = (u[l] - w.gp[l]) % q;
            w.t[l] = static_cast<std::int32_t>(r < 0 ? r + q : r);
        } else {
            for (std::size_t i = 0; i < len; ++i) {
                _mm_store_si128(reinterpret_cast<__m128i*>(w.p_lane), w.p[i]);
                w.p_one[i] = w.p_lane[l];
            }
            w.t[l] = static_cast<std::int32_t>(gadget_residue(u[l], w.p_one, len, q));
        }
    }
    const __m128i t = _mm_load_si128(reinterpret_cast<const __m128i*>(w.t));

    // Multiplier of q around -t/q.
    const __m256d centre = _mm256_div_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(_mm_setzero_si128(), t)),
                                         _mm256_set1_pd(static_cast<double>(q)));
    const __m128i c = round_half_away_v(sample_v(tb, w.words + 2 * len, 3 * len, centre, sigma_v));

    // Coset digits, then every digit but the last randomised with its carry.
    const __m128i one = _mm_set1_epi32(1);
    for (std::size_t i = 0; i < len; ++i) {
        const __m128i t_bit = _mm_and_si128(_mm_srl_epi32(t, _mm_cvtsi32_si128(static_cast<int>(i))), one);
        w.d[i] = _mm_add_epi32(t_bit, bit(q, static_cast<std::int64_t>(i)) != 0 ? c : _mm_setzero_si128());
    }
    for (std::size_t i = 0; i + 1 < len; ++i) {
        const __m128i x = parity_step_v(sample_v(tb, w.words + 2 * len + 1 + i, 3 * len, zero, two_sigma_v), w.d[i]);
        // d_i - x is even: the arithmetic shift is the exact halving.
        w.d[i + 1] = _mm_add_epi32(w.d[i + 1], _mm_srai_epi32(_mm_sub_epi32(w.d[i], x), 1));
        w.d[i] = x;
    }
    for (std::size_t i = 0; i < len; ++i)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + static_cast<std::int64_t>(i) * stride),
                            _mm256_cvtepi32_epi64(_mm_add_epi32(w.d[i], w.p[i])));
}

// The AVX-512 form: eight targets side by side, doubles in 512-bit vectors
// and integers in 32-bit lanes of 256-bit vectors, the same bounds as above.
// Draws are copied target after target as before. The table lookups stay
// scalar loads: gathers were measured slower on the processors at hand.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12's 512-bit headers; see chacha20.cpp
#endif

#define RINGTRAP_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512vl,avx512bw")))

constexpr std::size_t kWideGroup = 8;

struct GadgetLanes8 {
    std::uint32_t words[kWideGroup * 3 * kMaxGadgetLength];  // target l's draws from l * 3 len on
    __m512d y[kMaxGadgetLength];
    __m256i p[kMaxGadgetLength];
    __m256i d[kMaxGadgetLength];
    alignas(64) std::int64_t gp[kWideGroup];
    alignas(32) std::int32_t t[kWideGroup];
    std::int64_t p_one[kMaxGadgetLength];
};

// Sample s of every lane (lane l's draws at words[l * step]): c + cos *
// (width * radius) from its draws.
RINGTRAP_AVX512 inline __m512d sample_z(const gaussian_tables::BoxMuller& tb, const std::uint32_t* words, std::size_t s,
                                        __m512d centre, __m512d width, std::size_t step) noexcept {
    const std::uint32_t* w = words + s;
    const std::size_t st = step;
    const std::uint32_t w0 = w[0], w1 = w[st], w2 = w[2 * st], w3 = w[3 * st];
    const std::uint32_t w4 = w[4 * st], w5 = w[5 * st], w6 = w[6 * st], w7 = w[7 * st];
    const __m512d cs = _mm512_setr_pd(tb.cos_theta[w0 & 0x7fff], tb.cos_theta[w1 & 0x7fff], tb.cos_theta[w2 & 0x7fff],
                                      tb.cos_theta[w3 & 0x7fff], tb.cos_theta[w4 & 0x7fff], tb.cos_theta[w5 & 0x7fff],
                                      tb.cos_theta[w6 & 0x7fff], tb.cos_theta[w7 & 0x7fff]);
    const __m512d rd = _mm512_setr_pd(tb.radius[w0 >> 16], tb.radius[w1 >> 16], tb.radius[w2 >> 16], tb.radius[w3 >> 16],
                                      tb.radius[w4 >> 16], tb.radius[w5 >> 16], tb.radius[w6 >> 16], tb.radius[w7 >> 16]);
    return _mm512_add_pd(centre, _mm512_mul_pd(cs, _mm512_mul_pd(width, rd)));
}

RINGTRAP_AVX512 inline __m256i round_half_away_z(__m512d g) noexcept {
    const __m512d half = _mm512_or_pd(_mm512_and_pd(g, _mm512_set1_pd(-0.0)), _mm512_set1_pd(0.5));
    return _mm512_cvttpd_epi32(_mm512_add_pd(g, half));
}

RINGTRAP_AVX512 inline __m256i parity_step_z(__m512d g, __m256i p) noexcept {
    const __m256i v = _mm512_cvttpd_epi32(g);
    const __mmask8 wrong = _mm256_test_epi32_mask(_mm256_xor_si256(v, p), _mm256_set1_epi32(1));
    const __mmask8 up = _mm512_cmp_pd_mask(g, _mm512_setzero_pd(), _CMP_GT_OQ);
    const __m256i step = _mm256_mask_blend_epi32(up, _mm256_set1_epi32(-1), _mm256_set1_epi32(1));
    return _mm256_mask_add_epi32(v, wrong, v, step);
}

RINGTRAP_AVX512 void gadget_group8(const gaussian_tables::BoxMuller& tb, GadgetLanes8& w, std::int64_t q, double sigma,
                                   std::size_t len, const std::int64_t* u, std::int64_t* out,
                                   std::int64_t stride) noexcept {
    const __m512d zero = _mm512_setzero_pd();
    const __m512d sigma_v = _mm512_set1_pd(sigma);
    const __m512d two_sigma_v = _mm512_set1_pd(sigma + sigma);

    for (std::size_t i = 0; i < len; ++i) w.y[i] = sample_z(tb, w.words, i, zero, two_sigma_v, 3 * len);
    w.y[len - 1] = _mm512_mul_pd(w.y[len - 1], _mm512_set1_pd(kInvSqrt3));
    const std::size_t folds = std::min(len - 1, static_cast<std::size_t>(kMaxFold));
    for (std::size_t j = 1; j <= folds; ++j)
        w.y[len - 1] = _mm512_add_pd(w.y[len - 1], _mm512_mul_pd(w.y[len - 1 - j], _mm512_set1_pd(kInvPow2[j])));

    for (std::size_t i = 0; i < len; ++i)
        w.p[i] = round_half_away_z(sample_z(tb, w.words, len + i, w.y[i], sigma_v, 3 * len));

    if (len <= 32) {
        __m512i gp = _mm512_setzero_si512();
        for (std::size_t i = len; i-- > 0;) gp = _mm512_add_epi64(_mm512_add_epi64(gp, gp), _mm512_cvtepi32_epi64(w.p[i]));
        _mm512_store_si512(w.gp, gp);
    }
    for (std::size_t l = 0; l < kWideGroup; ++l) {
        if (len <= 32 && u[l] > -(std::int64_t{1} << 61) && u[l] < (std::int64_t{1} << 61)) {
            const std::int64_t r = (u[l] - w.gp[l]) % q;
            w.t[l] = static_cast<std::int32_t>(r < 0 ? r + q : r);
        } else {
            alignas(32) std::int32_t lane_values[kWideGroup];
            for (std::size_t i = 0; i < len; ++i) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(lane_values), w.p[i]);
                w.p_one[i] = lane_values[l];
            }
            w.t[l] = static_cast<std::int32_t>(gadget_residue(u[l], w.p_one, len, q));
        }
    }
    const __m256i t = _mm256_load_si256(reinterpret_cast<const __m256i*>(w.t));

    const __m512d centre = _mm512_div_pd(_mm512_cvtepi32_pd(_mm256_sub_epi32(_mm256_setzero_si256(), t)),
                                         _mm512_set1_pd(static_cast<double>(q)));
    const __m256i c = round_half_away_z(sample_z(tb, w.words, 2 * len, centre, sigma_v, 3 * len));

    const __m256i one = _mm256_set1_epi32(1);
    for (std::size_t i = 0; i < len; ++i) {
        const __m256i t_bit = _mm256_and_si256(_mm256_srl_epi32(t, _mm_cvtsi32_si128(static_cast<int>(i))), one);
        w.d[i] = _mm256_add_epi32(t_bit, bit(q, static_cast<std::int64_t>(i)) != 0 ? c : _mm256_setzero_si256());
    }
    for (std::size_t i = 0; i + 1 < len; ++i) {
        const __m256i x = parity_step_z(sample_z(tb, w.words, 2 * len + 1 + i, zero, two_sigma_v, 3 * len), w.d[i]);
        w.d[i + 1] = _mm256_add_epi32(w.d[i + 1], _mm256_srai_epi32(_mm256_sub_epi32(w.d[i], x), 1));
        w.d[i] = x;
    }
    for (std::size_t i = 0; i < len; ++i)
        _mm512_storeu_si512(out + static_cast<std::int64_t>(i) * stride, _mm512_cvtepi32_epi64(_mm256_add_epi32(w.d[i], w.p[i])));
}

}  // namespace

bool gadget_have_avx512() noexcept {
    static const bool ok = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                           __builtin_cpu_supports("avx512bw");
    return ok;
}

RINGTRAP_AVX512 bool sample_gadget_batch_avx512(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                                std::int64_t count, std::int64_t* out, std::int64_t stride) {
    if (!gadget_have_avx512() || !gadget_inputs_ok(q, sigma, digits) || q >= (std::int64_t{1} << 31) ||
        !(std::fabs(sigma) <= kMaxVectorWidth))
        return sample_gadget_batch_avx2(q, sigma, digits, u, count, out, stride);
    const auto len = static_cast<std::size_t>(digits);
    const gaussian_tables::BoxMuller& tables = gaussian_tables::box_muller();
    GadgetLanes8 w;
    const auto group = static_cast<std::int64_t>(kWideGroup);
    const std::int64_t whole = count - count % group;
    for (std::int64_t j = 0; j < whole; j += group) {
        detail::gaussian_words(w.words, kWideGroup * 3 * len);
        gadget_group8(tables, w, q, sigma, len, u + j, out + j, stride);
    }
    secure_zero(&w, sizeof w);
    return sample_gadget_batch_avx2(q, sigma, digits, u + whole, count - whole, out + whole, stride);
}

#undef RINGTRAP_AVX512
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool gadget_have_avx2() noexcept {
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok;
}

__attribute__((target("avx2"))) bool sample_gadget_batch_avx2(std::int64_t q, double sigma, std::int64_t digits,
                                                              const std::int64_t* u, std::int64_t count,
                                                              std::int64_t* out, std::int64_t stride) {
    if (!gadget_have_avx2() || !gadget_inputs_ok(q, sigma, digits) || q >= (std::int64_t{1} << 31) ||
        !(std::fabs(sigma) <= kMaxVectorWidth))
        return sample_gadget_batch_portable(q, sigma, digits, u, count, out, stride);
    const auto len = static_cast<std::size_t>(digits);
    const gaussian_tables::BoxMuller& tables = gaussian_tables::box_muller();
    GadgetLanes w;
    const std::int64_t whole = count - count % static_cast<std::int64_t>(kGroup);
    for (std::int64_t j = 0; j < whole; j += static_cast<std::int64_t>(kGroup)) {
        // Target j + l takes its 3 len samples after those of target j + l - 1.
        detail::gaussian_words(w.words, kGroup * 3 * len);
        gadget_group(tables, w, q, sigma, len, u + j, out + j, stride);
    }
    secure_zero(&w, sizeof w);
    return sample_gadget_batch_portable(q, sigma, digits, u + whole, count - whole, out + whole, stride);
}

#else

bool gadget_have_avx2() noexcept { return false; }
bool gadget_have_avx512() noexcept { return false; }

bool sample_gadget_batch_avx512(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                std::int64_t count, std::int64_t* out, std::int64_t stride) {
    return sample_gadget_batch_portable(q, sigma, digits, u, count, out, stride);
}

bool sample_gadget_batch_avx2(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                              std::int64_t count, std::int64_t* out, std::int64_t stride) {
    return sample_gadget_batch_portable(q, sigma, digits, u, count, out, stride);
}

#endif

bool sample_gadget_batch(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u, std::int64_t count,
                         std::int64_t* out, std::int64_t stride) {
    if (gadget_have_avx512()) return sample_gadget_batch_avx512(q, sigma, digits, u, count, out, stride);
    return gadget_have_avx2() ? sample_gadget_batch_avx2(q, sigma, digits, u, count, out, stride)
                              : sample_gadget_batch_portable(q, sigma, digits, u, count, out, stride);
}

}  // namespace ringtrap
