// Constant-time integer Gaussians, Bernoulli trials and normals for the
// key-independent parameter sets.
//
// Every sampler draws whole 64-bit words from a WordStream; the words each call
// consumes are part of its definition (listed with each function), so results
// are reproducible from the stream's seed. Rejection loops run again only on a
// declassified accept bit whose probability does not depend on the secrets.
//
// Constant time. No branch, memory index or variable-time instruction depends
// on the words, centres, secret widths or anything derived from them: tables
// are scanned in full, choices are made with masks, and exp/log are our own
// fixed polynomials. We assume, as usual on x86-64, that integer add, sub,
// mul, shifts (also by a variable count) and the double operations add, sub,
// mul, div, sqrt and the int64 <-> double conversions take a time independent
// of their operands as long as no operand or result is subnormal; the code
// keeps every double normal or zero (see gauss_ct.cpp for each spot). Integer
// division is never used on secrets.
//
// Precision (derivations in docs/sampling.md). Per sample, the realised
// distribution P and the ideal one D satisfy:
//   - base tables: 96-bit weights, every value except 0 rounded down, tails cut
//     where the ideal mass is below 2^-96; P(z)/D(z) <= 1 + 2^-90 for every z,
//     cut mass <= 2^-96, statistical distance <= 2^-92;
//   - Bernoulli exp: the acceptance probability is computed with relative
//     error <= 2^-50 plus an absolute error <= 2^-63 (see bernoulli_exp);
//   - uniform y in [0, K): 95 bits, bias <= K / 2^95 <= 2^-74 relative;
//   - normals: full double precision (relative error of a few 2^-53), tail cut
//     at |x| > 13.2, mass <= 2^-125.
// These give a relative error eta(z) = P(z)/D(z) - 1 with E_D[eta^2] <= 2^-96
// and eta(z) <= 2^-40 wherever D(z) >= 2^-100, for every integer sampler and
// every admissible centre and width. For Renyi order a = 512 this means
// R_a(P || D) <= 1 + a/2 * E_D[eta^2] * (1 + 2^-30) <= 1 + 2^-88 per sample, so a
// signature (10^5 samples at S128, 2 * 10^5 at S256) has R_512 <= 1 + 2^-70
// and 2^64 signatures R_512 <= exp(2^-6): a loss of less than 0.1 bit.
// Statistical distance per signature: <= 2^-74 from cut tails alone; the
// relative errors are accounted for by the Renyi bound only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "word_stream.h"

namespace ringtrap::gauss {

inline constexpr double kSigmaBin = 0.84932180028801904272;  // sqrt(1/(2 ln 2))

// ---------------------------------------------------------------------------
// Narrow sampler D_{Z, centre, sigma} for public widths in [0.5 * base, base]
// of a base table. Two base tables: 1.70 and 1.70 / 0.75. centre: any finite
// double with |centre| < 2^40 (secret). Acceptance does not depend on the
// centre beyond a relative 2 exp(-2 pi^2 sigma^2) (2^-82 at sigma = 1.70,
// 2^-20 at sigma = 0.85; below 2^-64 for sigma >= 1.5).
//
// Words: 3 per attempt (a 96-bit base sample with a sign bit and 31 bits for the
// Bernoulli trial's power of two, then one word for the trial); attempts until
// one is accepted (about 1.23 at sigma = base, 2.1 at sigma = base / 2).
// Throws std::invalid_argument for a width outside the table's range.
struct NarrowTable;
const NarrowTable& narrow_table_r();       // base width 1.70
const NarrowTable& narrow_table_r_wide();  // base width 1.70 / 0.75
double narrow_base_sigma(const NarrowTable& t) noexcept;
std::int64_t sample_narrow(WordStream& ws, const NarrowTable& t, double centre, double sigma);
// out[i] ~ D_{Z, centres[i], sigma}: exactly the words and results of count
// successive sample_narrow calls.
void sample_narrow_batch(WordStream& ws, const NarrowTable& t, const double* centres, double sigma,
                         std::int64_t* out, std::size_t count);

// ---------------------------------------------------------------------------
// Wide sampler for widths in [kWideMinSigma, kWideMaxSigma] and any centre
// (|centre| < 2^40); the width may be secret: prepare_wide is constant-time in
// it, and the acceptance probability of sample_wide (about 0.66) depends
// neither on the centre nor on the width (up to a relative 2^-48 from rounding).
// WideWidth holds secret-derived constants when sigma is secret: it is trivially
// copyable, and callers wipe it (secure_zero) after use. Widths outside the
// range are clamped into it.
//
// Words: 4 per attempt (a 96-bit binary-Gaussian base sample, a sign bit and 31
// bits of the uniform, 64 more bits of the uniform, one word for the Bernoulli
// trial); attempts until one is accepted.
inline constexpr double kWideMinSigma = 64.0;
inline constexpr double kWideMaxSigma = 1048576.0;  // 2^20
struct WideWidth {
    double inv_2s2_ln2;  // 1 / (2 sigma^2 ln 2)
    double ccs;          // scale of the acceptance probability, in (0, 1]
    std::int64_t k;      // proposal scale: floor(sigma (1 + 2^-6) / kSigmaBin) + 1
};
WideWidth prepare_wide(double sigma) noexcept;
std::int64_t sample_wide(WordStream& ws, const WideWidth& w, double centre);

// ---------------------------------------------------------------------------
// Exact D_{Z, 0, K * kSigmaBin} for integer K in [1, 2^20] (public), in bulk.
// Words: 4 per attempt, as sample_wide; samples in order, attempts until each
// is accepted (about 1.47 per sample for large K, 1.28 at K = 1).
// Throws std::invalid_argument for K outside [1, 2^20].
void sample_centred_batch(WordStream& ws, std::int64_t K, std::int64_t* out, std::size_t count);

// ---------------------------------------------------------------------------
// count independent standard normal doubles, constant-time in their values
// (Marsaglia's polar method). Words: the values are made in pairs; each pair
// takes 2 words per try, tries until the point lies inside the unit disk
// (probability pi/4). For odd count the second value of the last pair is
// dropped.
void sample_normals(WordStream& ws, double* out, std::size_t count);

// ---------------------------------------------------------------------------
// 1 with probability ccs * exp(-x), for x >= 0 and ccs in (0, 1]; constant-time
// in x and ccs. Words: 1. The probability realised is exactly
// bernoulli_exp_threshold(x, ccs) / 2^63, which is within a relative 2^-50 plus
// an absolute 2^-63 of ccs * exp(-x).
std::uint64_t bernoulli_exp(WordStream& ws, double x, double ccs);
std::uint64_t bernoulli_exp_threshold(double x, double ccs) noexcept;

}  // namespace ringtrap::gauss
