// Building blocks of the constant-time samplers (gauss_ct.cpp), in a header of
// their own so that the tests can check each against an exact reference. Not
// part of the library's interface.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "ct.h"
#include "gauss_ct_tables.h"
#include "word_stream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ringtrap::gauss::detail {


using u64 = std::uint64_t;
using i64 = std::int64_t;

inline u64 bits_of(double x) noexcept { return std::bit_cast<u64>(x); }
inline double double_of(u64 b) noexcept { return std::bit_cast<double>(b); }

// v < 2^63 as a double. Converting an unsigned 64-bit integer directly costs a
// branch on its top bit on x86-64; the signed conversion is one instruction.
inline double to_double(u64 v) noexcept { return static_cast<double>(static_cast<i64>(v)); }

// The integer v (two's complement, |v| < 2^51) as a double, exactly, with
// integer and double arithmetic only (so that loops of it vectorise):
// 2^52 + 2^51 + v has v + 2^51 as its mantissa.
inline double small_to_double(u64 v) noexcept {
    constexpr u64 kTwo52 = 0x4330000000000000u;  // bits of 2^52
    return double_of(kTwo52 | (v + (u64{1} << 51))) - 0x1.8p52;
}

// 1 when v == 0.
inline u64 is_zero(u64 v) noexcept { return (v - 1) >> 63 & ~(v >> 63); }

// a when bit = 1, b when bit = 0, as b + bit (a - b): a multiplication rather
// than a mask, because compilers turn masks made from sign bits into
// arithmetic shifts, which 64-bit vector lanes lack before AVX-512 (and the
// bulk loops would stay scalar).
inline u64 pick(u64 bit, u64 a, u64 b) noexcept { return b + bit * (a - b); }

// min(v, cap) for v, cap < 2^63.
inline u64 min_u(u64 v, u64 cap) noexcept { return pick(ct::lt(v, cap), v, cap); }

// A double clamped to [0, hi] (hi > 0) through its bit pattern: negative values
// (and -0) become +0; values above hi, +inf and positive NaNs become hi.
inline double clamp_nonneg(double x, double hi) noexcept {
    u64 b = bits_of(x);
    b *= 1 ^ (b >> 63);
    const u64 hb = bits_of(hi);
    return double_of(pick(ct::lt(hb, b), hb, b));
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

// The 96-bit uniform of a base sample: all of w0 and the top 32 bits of w1,
// U = w0 * 2^32 + (w1 >> 32), split like the thresholds as hi * 2^33 + lo.
inline u64 u96_hi(u64 w0) noexcept { return w0 >> 1; }
inline u64 u96_lo(u64 w0, u64 w1) noexcept { return (w0 & 1) << 32 | w1 >> 32; }

// 1 when the 96-bit value hi * 2^33 + lo is below the threshold t: the low
// halves (< 2^33) give the carry c = [lo >= t.lo] out of lo + 2^33 - t.lo, and
// (hi + c) - (t.hi + 1) (all below 2^63) is negative exactly when the whole
// value is below t. (Written with a carry rather than a borrow so that no
// compiler turns it into an arithmetic shift, which 64-bit vector lanes lack
// before AVX-512.)
inline u64 lt96(u64 hi, u64 lo, const Rcdt96& t) noexcept {
    const u64 carry = (lo + ((u64{1} << 33) - t.lo)) >> 33;
    return ((hi + carry) - (t.hi + 1)) >> 63;
}

// z = #{i : U < T[i]}: every entry is compared, so neither the time nor the
// addresses depend on U.
template <std::size_t N>
inline u64 rcdt_sample(const Rcdt96 (&table)[N], u64 w0, u64 w1) noexcept {
    const u64 hi = u96_hi(w0), lo = u96_lo(w0, w1);
    u64 z = 0;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 32
#else
#pragma unroll
#endif
    for (std::size_t i = 0; i < N; ++i) z += lt96(hi, lo, table[i]);
    return z;
}

inline u64 rcdt_sample(const Rcdt96* table, std::size_t n, u64 w0, u64 w1) noexcept {
    const u64 hi = u96_hi(w0), lo = u96_lo(w0, w1);
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
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 16
#else
#pragma unroll
#endif
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
// power of two joins the shift and only vv = m * 2^-f in (1/4, 2) is formed in
// floating point (no subnormal ccs ever enters a multiplication). Then
// p = vv * 2^-shift with shift = s + 1023 - e >= 0, and v = vv * 2^63 (an
// integer below 2^64 holding all 53 bits of vv) is read off vv's bits: its
// mantissa with the implicit bit, shifted by its exponent + 11 (9 to 11).
// s in [0, 1100], f about [0, 1].
inline Threshold threshold_sf(u64 s, double f, double ccs) noexcept {
    const u64 cb = bits_of(ccs);
    const u64 e = (cb >> 52) & 0x7ff;
    const double m = double_of((cb & kMantissa) | (u64{1023} << 52));
    // vv < 2 up to rounding: clamp it there so that v < 2^64.
    constexpr double kBelowTwo = 0x1.fffffffffffffp0;
    const u64 vb = bits_of(clamp_nonneg(m * pow2m(f), kBelowTwo));
    const u64 v = ((vb & kMantissa) | (u64{1} << 52)) << ((((vb >> 52) & 0x7ff) - 1012) & 63);
    // e > 1023 only for ccs > 1, outside the contract: shift 0 then.
    const u64 sh = s + 1023;
    const u64 shift = pick(ct::lt(sh, e), 0, sh - e);
    return {v, min_u(shift, kMaxShift)};
}

// floor(t) for t in [0, 2^51], with integer and double arithmetic only (no
// conversion instruction, so that loops of it vectorise): t + 2^52 rounds t to
// the nearest integer n, found in the low bits; n is one too large exactly when
// n > t, compared through the bit patterns (both non-negative).
inline u64 floor_nonneg(double t, double& floor_value) noexcept {
    constexpr double kTwo52 = 0x1p52;
    const u64 n = bits_of(t + kTwo52) & kMantissa;
    const double nd = double_of(bits_of(kTwo52) | n) - kTwo52;
    const u64 over = ct::lt(bits_of(t), bits_of(nd));
    const u64 s = n - over;
    floor_value = double_of(bits_of(kTwo52) | s) - kTwo52;
    return s;
}

// Probability ccs * 2^-t, t >= 0 (negative t counts as 0).
inline Threshold threshold_base2(double t, double ccs) noexcept {
    t = clamp_nonneg(t, 1024.0);
    double sd;
    const u64 s = floor_nonneg(t, sd);
    return threshold_sf(s, t - sd, ccs);
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
    p.x = rcdt_sample(kBinRcdt, w0, w1);
    p.b = w1 & 1;
    p.y = uniform_below(K, w2, (w1 >> 1) & 0x7fffffffu);
    p.zabs = K * p.x + p.y;
    return p;
}

// Whether the bulk paths may use their AVX2 copies (when the processor has
// AVX2). Tests and the constant-time check clear it to run the portable copies;
// both give the same results.
extern bool g_allow_avx2;

// In-place access to a stream's unread words for the bulk paths.
struct StreamAccess {
    static const u64* window(WordStream& ws, std::size_t count) noexcept { return ws.window(count); }
    static void advance(WordStream& ws, std::size_t count) noexcept { ws.advance(count); }
};

// (-1)^b * v.
inline i64 apply_sign(u64 v, u64 b) noexcept { return static_cast<i64>((v ^ (0 - b)) + b); }

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
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 16
#else
#pragma unroll
#endif
    for (int k = 9; k >= 0; --k) p = p * z + 2.0 / static_cast<double>(2 * k + 1);
    const double ed = small_to_double(static_cast<u64>(e));
    return ed * kLn2Hi + (ed * kLn2Lo + f * p);
}

}  // namespace ringtrap::gauss::detail
