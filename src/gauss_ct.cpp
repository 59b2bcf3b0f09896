// Constant-time samplers: see gauss_ct.h for the contract and docs/sampling.md
// for the derivations. Notation: rho_s(x) = exp(-x^2 / (2 s^2)).
#include "gauss_ct.h"

#include <stdexcept>

#include "ct.h"
#include "gauss_ct_detail.h"
#include "gauss_ct_tables.h"

namespace ringtrap::gauss {

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
        const u64 z0 = rcdt_sample(t.rcdt, t.size, w0, w1);
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
