// Constant-time samplers: see gauss_ct.h for the contract and docs/sampling.md
// for the derivations. Notation: rho_s(x) = exp(-x^2 / (2 s^2)).
#include "gauss_ct.h"

#include <bit>
#include <cmath>
#include <stdexcept>

#include "ct.h"
#include "gauss_ct_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ringtrap::gauss {

namespace detail {

using u64 = std::uint64_t;
using i64 = std::int64_t;

inline u64 bits_of(double x) noexcept { return std::bit_cast<u64>(x); }
inline double double_of(u64 b) noexcept { return std::bit_cast<double>(b); }

// v < 2^63 as a double. Converting an unsigned 64-bit integer directly costs a
// branch on its top bit on x86-64; the signed conversion is one instruction.
inline double to_double(u64 v) noexcept { return static_cast<double>(static_cast<i64>(v)); }

// 1 when v == 0.
inline u64 is_zero(u64 v) noexcept { return (v - 1) >> 63 & ~(v >> 63); }

// min(v, cap) for v, cap < 2^63.
inline u64 min_u(u64 v, u64 cap) noexcept { return ct::select(ct::mask_from_bit(ct::lt(v, cap)), v, cap); }

// A double clamped to [0, hi] (hi > 0) through its bit pattern: negative values
// (and -0) become +0; values above hi, +inf and positive NaNs become hi.
inline double clamp_nonneg(double x, double hi) noexcept {
    u64 b = bits_of(x);
    b &= ~ct::mask_from_bit(b >> 63);
    const u64 hb = bits_of(hi);
    return double_of(ct::select(ct::mask_from_bit(ct::lt(hb, b)), hb, b));
}

// Round to nearest (ties to even) of |x| < 2^51, by the addition of 1.5 * 2^52:
// the sum has no fraction bits left. Exact and branch-free.
inline double round_nearest(double x) noexcept {
    constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
    const double y = x + kMagic;
    return y - kMagic;
}

// The square root instruction itself. std::sqrt may add a branch on the
// operand (to set errno for negative inputs), which would be a branch on a
// secret.
inline double sqrt_insn(double x) noexcept {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_set_sd(x), _mm_set_sd(x)));
#else
    return std::sqrt(x);
#endif
}

// --- Base samplers --------------------------------------------------------

// 1 when the 96-bit value (hi, lo) is below the threshold t: the borrow out of
// the subtraction, formed with plain integer operations.
inline u64 lt96(u64 hi, u64 lo, const Rcdt96& t) noexcept {
    const u64 borrow_lo = (lo - t.lo) >> 63;  // lo, t.lo < 2^32
    const u64 d = hi - t.hi - borrow_lo;
    return ((~hi & t.hi) | (~(hi ^ t.hi) & d)) >> 63;
}

// z = #{i : U < T[i]} for the 96-bit uniform U = (hi, lo): every entry is
// compared, so neither the time nor the addresses depend on U.
template <std::size_t N>
inline u64 rcdt_sample(const Rcdt96 (&table)[N], u64 hi, u64 lo) noexcept {
    u64 z = 0;
    for (std::size_t i = 0; i < N; ++i) z += lt96(hi, lo, table[i]);
    return z;
}

inline u64 rcdt_sample(const Rcdt96* table, std::size_t n, u64 hi, u64 lo) noexcept {
    u64 z = 0;
    for (std::size_t i = 0; i < n; ++i) z += lt96(hi, lo, table[i]);
    return z;
}

// floor(K * Y / 2^95) for the 95-bit uniform Y = w * 2^31 + spare (spare < 2^31)
// and K < 2^21: the high part of K * w plus the carry from
// floor(K * spare / 2^31). Uniform on [0, K) up to a bias of K / 2^95.
inline u64 uniform_below(u64 K, u64 w, u64 spare) noexcept {
    const u64 wl = w & 0xffffffffu, wh = w >> 32;
    const u64 pl = wl * K;                  // < 2^53
    const u64 ph = wh * K + (pl >> 32);     // < 2^54: K * w = ph * 2^32 + (pl mod 2^32)
    const u64 lo = (ph << 32) | (pl & 0xffffffffu);  // K * w mod 2^64
    const u64 add = (K * spare) >> 31;      // < 2^21
    const u64 sum = lo + add;
    const u64 carry = ct::lt(sum, lo);
    return (ph >> 32) + carry;
}

// --- Bernoulli trials -----------------------------------------------------

// 2^-f for f in [0, 1] (and slightly beyond, where the rounding of a range
// reduction leaves it): Taylor polynomial of degree 13 at f = 1/2, evaluated by
// Horner's rule. g = f - 1/2 is 0 or at least 2^-60 in magnitude (f is 0 or a
// difference of doubles of size <= 2^11 rounded to their grid), so every
// product stays normal.
inline double pow2m(double f) noexcept {
    const double g = f - 0.5;
    double p = kPow2mPoly[13];
    for (int k = 12; k >= 0; --k) p = p * g + kPow2mPoly[k];
    return p;
}

// The probability ccs * 2^-(s + f) as (v >> shift) / 2^63 (v < 2^64).
struct Threshold {
    u64 v;
    u64 shift;
};

inline constexpr u64 kMantissa = (u64{1} << 52) - 1;
inline constexpr u64 kMaxShift = 1200;

// ccs in (0, 1] is m * 2^(e - 1023) with m in [1, 2) read off its bits, so the
// power of two joins the shift and only vv = m * 2^-f in (1/2, 2) is formed in
// floating point (no subnormal ccs ever enters a multiplication). Then
// p = vv * 2^-shift with shift = s + 1023 - e >= 0, and v = 2 floor(vv * 2^62)
// < 2^64 carries 62 bits of vv. s in [0, 1100], f about [0, 1].
inline Threshold threshold_sf(u64 s, double f, double ccs) noexcept {
    const u64 cb = bits_of(ccs);
    const u64 e = (cb >> 52) & 0x7ff;
    const double m = double_of((cb & kMantissa) | (u64{1023} << 52));
    // vv < 2 up to rounding; keep vv * 2^62 below 2^63.
    constexpr double kBelowTwo = 0x1.fffffffffffffp0;
    const double vv = clamp_nonneg(m * pow2m(f), kBelowTwo);
    const u64 v = static_cast<u64>(static_cast<i64>(vv * 0x1p62)) << 1;
    // e > 1023 only for ccs > 1, outside the contract: shift 0 then.
    const u64 sh = s + 1023;
    const u64 shift = ct::select(ct::mask_from_bit(ct::lt(sh, e)), 0, sh - e);
    return {v, min_u(shift, kMaxShift)};
}

// Probability ccs * 2^-t, t >= 0 (negative t counts as 0).
inline Threshold threshold_base2(double t, double ccs) noexcept {
    t = clamp_nonneg(t, 1024.0);
    const u64 s = static_cast<u64>(static_cast<i64>(t));
    return threshold_sf(s, t - static_cast<double>(static_cast<i64>(s)), ccs);
}

// Probability ccs * exp(-x): x = s ln2 + r with the two-part ln 2 (s ln2_hi is
// exact for s < 2^11), f = r / ln 2.
inline Threshold threshold_exp(double x, double ccs) noexcept {
    constexpr double kInvLn2 = 1.4426950408889634074;
    constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
    constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
    x = clamp_nonneg(x, 700.0);
    const i64 s = static_cast<i64>(x * kInvLn2);
    const double sd = static_cast<double>(s);
    const double r = (x - sd * kLn2Hi) - sd * kLn2Lo;
    return threshold_sf(static_cast<u64>(s), r * kInvLn2, ccs);
}

// One word: accept when the 63-bit uniform w >> 1 is below v >> shift
// (probability (v >> shift) / 2^63: v >> shift <= 2^63 whenever p <= 1).
inline u64 accept_word(u64 w, const Threshold& th) noexcept {
    return ct::lt(w >> 1, th.v >> min_u(th.shift, 63));
}

// One word and 31 more uniform bits: the first min(shift, 31) halvings are
// exact coin flips on `spare`, the rest shift v. Exact up to the rounding of v
// for shift <= 31, absolute error 2^-94 beyond.
inline u64 accept_word_spare(u64 w, u64 spare31, const Threshold& th) noexcept {
    const u64 s1 = min_u(th.shift, 31);
    const u64 s2 = min_u(th.shift - s1, 63);
    const u64 coins = is_zero(spare31 & ((u64{1} << s1) - 1));
    return coins & ct::lt(w >> 1, th.v >> s2);
}

// --- Binary-Gaussian attempt (centred and wide samplers) -------------------

// One attempt's proposal from 4 words: x ~ D+ (P(x) ~ 2^(-x^2)) from w0 and the
// top 32 bits of w1, the sign bit b = bit 0 of w1, y uniform in [0, K) from w2
// and bits 1..31 of w1; |z| = K x + y. w3 is the Bernoulli word.
struct BinProposal {
    u64 x;
    u64 y;
    u64 b;
    u64 zabs;
};

inline BinProposal bin_proposal(u64 K, u64 w0, u64 w1, u64 w2) noexcept {
    BinProposal p;
    p.x = rcdt_sample(kBinRcdt, w0, w1 >> 32);
    p.b = w1 & 1;
    p.y = uniform_below(K, w2, (w1 >> 1) & 0x7fffffffu);
    p.zabs = K * p.x + p.y;
    return p;
}

// (-1)^b * v.
inline i64 apply_sign(u64 v, u64 b) noexcept { return static_cast<i64>((v ^ (0 - b)) + b); }

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------------------
// Narrow sampler.

struct NarrowTable {
    const Rcdt96* rcdt;
    std::size_t size;
    double sigma0;
    double inv_2s02_ln2;  // 1 / (2 sigma0^2 ln 2)
};

namespace {
constexpr double kLn2 = 0.69314718055994530942;
constexpr NarrowTable kTableR{kNarrowRcdt, sizeof kNarrowRcdt / sizeof kNarrowRcdt[0], 1.70,
                              1.0 / (2.0 * 1.70 * 1.70 * kLn2)};
constexpr NarrowTable kTableRWide{kNarrowWideRcdt, sizeof kNarrowWideRcdt / sizeof kNarrowWideRcdt[0], 1.70 / 0.75,
                                  1.0 / (2.0 * (1.70 / 0.75) * (1.70 / 0.75) * kLn2)};

void check_narrow_width(const NarrowTable& t, double sigma) {
    if (!(sigma >= 0.5 * t.sigma0 && sigma <= t.sigma0))
        throw std::invalid_argument("sample_narrow: width outside [base / 2, base]");
}

// One narrow sample; sigma checked by the caller, a = 1 / (2 sigma^2 ln 2).
//
// Proposal: z0 ~ D+_{sigma0} (P(z0) ~ rho_sigma0(z0), z0 >= 0), sign bit b,
// z = b + (2b - 1) z0: b = 1 gives z = z0 + 1 >= 1, b = 0 gives z = -z0 <= 0,
// so every integer comes from exactly one (z0, b), with probability
// rho_sigma0(z0) / (2 Z+). With c = c0 + r (c0 integer, r in [0, 1]) we accept
// with probability rho_sigma(z - r) / rho_sigma0(z0), which is <= 1 because
// |z - r| >= z0 (z0 + 1 - r >= z0 and z0 + r >= z0) and sigma <= sigma0. The
// accepted z then has probability proportional to rho_sigma(z - r), and z + c0
// follows D_{Z, c, sigma}. The acceptance rate is sum_z rho_sigma(z - r) / (2 Z+):
// by Poisson summation sigma sqrt(2 pi) (1 + 2 sum_k exp(-2 pi^2 sigma^2 k^2)
// cos(2 pi k r)) / (2 Z+), independent of r up to the relative term stated in
// the header.
inline i64 narrow_one(WordStream& ws, const NarrowTable& t, double centre, double a) {
    // c0 = floor(c) (a tie may give r = 1, which the argument above allows).
    const double c0d = round_nearest(centre - 0.5);
    const double r = centre - c0d;
    const i64 c0 = static_cast<i64>(c0d);
    for (;;) {
        const u64 w0 = ws.next(), w1 = ws.next(), w2 = ws.next();
        const u64 z0 = rcdt_sample(t.rcdt, t.size, w0, w1 >> 32);
        const u64 b = w1 & 1;
        const u64 spare = (w1 >> 1) & 0x7fffffffu;
        const u64 m = b - 1;  // 0 when b = 1, all ones when b = 0
        const i64 z = static_cast<i64>(b + ((z0 ^ m) - m));
        const double d = static_cast<double>(z) - r;
        // Exponent in base 2: (z - r)^2 / (2 sigma^2 ln2) - z0^2 / (2 sigma0^2 ln2) >= 0.
        const double e = d * d * a - to_double(z0 * z0) * t.inv_2s02_ln2;
        const u64 accept = accept_word_spare(w2, spare, threshold_base2(e, 1.0));
        // The acceptance rate depends on the public width only (see above).
        if (ct::declassified(accept)) return z + c0;
    }
}
}  // namespace

const NarrowTable& narrow_table_r() { return kTableR; }
const NarrowTable& narrow_table_r_wide() { return kTableRWide; }
double narrow_base_sigma(const NarrowTable& t) noexcept { return t.sigma0; }

std::int64_t sample_narrow(WordStream& ws, const NarrowTable& t, double centre, double sigma) {
    check_narrow_width(t, sigma);
    return narrow_one(ws, t, centre, 1.0 / (2.0 * sigma * sigma * kLn2));
}

void sample_narrow_batch(WordStream& ws, const NarrowTable& t, const double* centres, double sigma,
                         std::int64_t* out, std::size_t count) {
    check_narrow_width(t, sigma);
    const double a = 1.0 / (2.0 * sigma * sigma * kLn2);
    for (std::size_t i = 0; i < count; ++i) out[i] = narrow_one(ws, t, centres[i], a);
}

// ---------------------------------------------------------------------------
// Centred sampler.
//
// x ~ D+ (P(x) = 2^(-x^2) / Z), y uniform in [0, K), z = K x + y: the pair is
// determined by z, with probability 2^(-x^2) / (K Z). Accepting with
// probability 2^-((y^2 + 2 K x y) / K^2) leaves 2^(-(x + y/K)^2) / (K Z) =
// exp(-z^2 / (2 (K sigma_bin)^2)) / (K Z), as 2 sigma_bin^2 = 1 / ln 2. A sign bit
// b gives -z for b = 1, except that z = 0 with b = 1 is rejected so that 0 is
// not counted twice. The exponent is at most 1 + 2x <= 19.

void sample_centred_batch(WordStream& ws, std::int64_t K, std::int64_t* out, std::size_t count) {
    if (K < 1 || K > (std::int64_t{1} << 20)) throw std::invalid_argument("sample_centred_batch: K outside [1, 2^20]");
    const u64 k = static_cast<u64>(K);
    const double inv_k2 = 1.0 / (static_cast<double>(K) * static_cast<double>(K));
    for (std::size_t i = 0; i < count; ++i) {
        for (;;) {
            const u64 w0 = ws.next(), w1 = ws.next(), w2 = ws.next(), w3 = ws.next();
            const BinProposal p = bin_proposal(k, w0, w1, w2);
            // y^2 + 2 K x y < 19 K^2 <= 2^45: exact in a double.
            const double e = to_double(p.y * p.y + 2 * k * p.x * p.y) * inv_k2;
            const u64 accept = accept_word(w3, threshold_base2(e, 1.0)) & ~(is_zero(p.zabs) & p.b);
            // The acceptance rate depends on the public K only.
            if (ct::declassified(accept)) {
                out[i] = apply_sign(p.zabs, p.b);
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Wide sampler.
//
// Proposal: z' = +-(K x + y) as in the centred sampler (probability
// 2^(-x^2) / (2 K Z) for every z', 0 included), output z = c0 + z' with
// c0 = round(c), r = c - c0 in [-1/2, 1/2]. Target: rho_sigma(z' - r). Accept with
//   p(z') = ccs * 2^-(B + (z' - r)^2 / (2 sigma^2 ln 2) - x^2).
// Bound: with K sigma_bin >= sigma (1 + delta) and |z'| >= K x,
//   x^2 / (2 sigma_bin^2) - (z' - r)^2 / (2 sigma^2)
//     <= max_u [u^2 - ((1 + delta) u - 1/(2 sigma))^2] / 2   (u = x / sigma_bin)
//      = 1 / (8 sigma^2 (2 delta + delta^2)),
// so the exponent in base 2 is >= -1 / (8 ln2 sigma^2 (2 delta + delta^2)) >=
// -0.0014 for sigma >= 64, delta = 2^-6: with B = 2^-9 it is never negative.
// The accepted z' has probability proportional to ccs 2^-B rho_sigma(z' - r) /
// (2 K Z), and the acceptance rate is ccs 2^-B sum_z rho_sigma(z - r) / (2 K Z)
// = ccs 2^-B sigma sqrt(2 pi) / (2 K Z) (the theta-function correction is
// below exp(-2 pi^2 64^2)). Taking ccs = A K sigma_bin / sigma makes it
// A sigma_bin sqrt(2 pi) 2^-B / (2 Z) ~ 0.66 whatever sigma and c; A keeps ccs
// <= 1, since K sigma_bin / sigma < 1 + delta + sigma_bin / sigma
// <= 1 + delta + sigma_bin / 64.

namespace {
constexpr double kWideDelta = 0x1p-6;
constexpr double kWideShift = 0x1p-9;  // B
// 1 / (1 + delta + sigma_bin / 64) = 0.971919..., rounded down.
constexpr double kWideA = 0.97191;
}  // namespace

WideWidth prepare_wide(double sigma) noexcept {
    // Clamp to the documented range through the bit pattern (sigma > 0).
    u64 b = bits_of(sigma);
    const u64 lo = bits_of(kWideMinSigma), hi = bits_of(kWideMaxSigma);
    b = ct::select(ct::mask_from_bit(ct::lt(b, lo) | (b >> 63)), lo, b);
    b = ct::select(ct::mask_from_bit(ct::lt(hi, b)), hi, b);
    sigma = double_of(b);
    WideWidth w;
    // floor(sigma (1 + delta) / sigma_bin) + 1 > sigma (1 + delta) / sigma_bin: the
    // rounded quotient never falls below the integer part of the exact one.
    const double kd = sigma * (1.0 + kWideDelta) / kSigmaBin;
    w.k = static_cast<i64>(kd) + 1;
    w.inv_2s2_ln2 = 1.0 / (2.0 * sigma * sigma * kLn2);
    w.ccs = kWideA * static_cast<double>(w.k) * kSigmaBin / sigma;
    return w;
}

std::int64_t sample_wide(WordStream& ws, const WideWidth& w, double centre) {
    const double c0d = round_nearest(centre);
    const double r = centre - c0d;
    const i64 c0 = static_cast<i64>(c0d);
    const u64 k = static_cast<u64>(w.k);
    for (;;) {
        const u64 w0 = ws.next(), w1 = ws.next(), w2 = ws.next(), w3 = ws.next();
        const BinProposal p = bin_proposal(k, w0, w1, w2);
        const i64 z = apply_sign(p.zabs, p.b);
        const double d = static_cast<double>(z) - r;
        const double e = kWideShift + d * d * w.inv_2s2_ln2 - to_double(p.x * p.x);
        const u64 accept = accept_word(w3, threshold_base2(e, w.ccs)) & ~(is_zero(p.zabs) & p.b);
        // The acceptance rate is the constant above, whatever the width and centre.
        if (ct::declassified(accept)) return z + c0;
    }
}

// ---------------------------------------------------------------------------
// Normals.

namespace {
// log(s) for s in [2^-126, 1) (normal, positive). s = m 2^e with m in
// [sqrt(1/2), sqrt(2)), chosen by comparing mantissa bits; log m = 2 atanh(f),
// f = (m - 1) / (m + 1), |f| <= 0.1716, from the odd series up to f^21
// (remainder < 2^-60 relative). f is 0 or at least 2^-54 in magnitude, so
// f^2 >= 2^-108 and Horner's products stay normal.
inline double ct_log(double s) noexcept {
    constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
    constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
    constexpr u64 kSqrt2Mantissa = 0x6a09e667f3bcdu;  // mantissa bits of sqrt(2)
    const u64 b = bits_of(s);
    const u64 big = ct::lt(kSqrt2Mantissa, b & kMantissa);
    const i64 e = static_cast<i64>((b >> 52) & 0x7ff) - 1023 + static_cast<i64>(big);
    const double m = double_of((b & kMantissa) | ((u64{1023} - big) << 52));
    const double f = (m - 1.0) / (m + 1.0);
    const double z = f * f;
    double p = 2.0 / 21.0;
    for (int k = 9; k >= 0; --k) p = p * z + 2.0 / static_cast<double>(2 * k + 1);
    const double ed = static_cast<double>(e);
    return ed * kLn2Hi + (ed * kLn2Lo + f * p);
}
}  // namespace

// Marsaglia's polar method: (u, v) uniform in the square, kept when
// 0 < s = u^2 + v^2 < 1 (probability pi/4, whatever the later values), then
// u sqrt(-2 ln s / s) and v sqrt(-2 ln s / s) are independent standard normals.
// u = w / 2^63 for the word read as a signed integer: a grid of step 2^-63 (up
// to the rounding to 53 bits), so s >= 2^-126 and |value| <= sqrt(2 * 126 ln 2)
// < 13.3: the cut tail has mass about 2^-126.
void sample_normals(WordStream& ws, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 2) {
        double u, v, s;
        for (;;) {
            const u64 w0 = ws.next(), w1 = ws.next();
            u = static_cast<double>(static_cast<i64>(w0)) * 0x1p-63;
            v = static_cast<double>(static_cast<i64>(w1)) * 0x1p-63;
            s = u * u + v * v;
            const u64 sb = bits_of(s);
            const u64 inside = (1 ^ is_zero(sb)) & ct::lt(sb, bits_of(1.0));
            // Whether the point is inside the disk tells nothing about the kept point.
            if (ct::declassified(inside)) break;
        }
        const double f = sqrt_insn(-2.0 * ct_log(s) / s);
        out[i] = u * f;
        if (i + 1 < count) out[i + 1] = v * f;
    }
}

// ---------------------------------------------------------------------------
// Bernoulli trials.

std::uint64_t bernoulli_exp_threshold(double x, double ccs) noexcept {
    const Threshold th = threshold_exp(x, ccs);
    return th.v >> min_u(th.shift, 63);
}

std::uint64_t bernoulli_exp(WordStream& ws, double x, double ccs) {
    return accept_word(ws.next(), threshold_exp(x, ccs));
}

}  // namespace ringtrap::gauss
