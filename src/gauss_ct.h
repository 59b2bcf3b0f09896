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
// are scanned in full, choices are made with masks or 0/1 multiplications,
// and exp and log are our own fixed polynomials. We assume, as usual on
// x86-64, that integer add, sub, mul, shifts (also by a variable count) and
// the double operations add, sub, mul, div, sqrt and the int64 <-> double
// conversions take a time independent of their operands as long as no operand
// or result is subnormal; the code keeps every double normal or zero (the
// comments in gauss_ct_detail.h and gauss_ct.cpp say why at each spot).
// Integer division is never used on secrets.
//
// Precision (derivations in docs/sampling.md). For every integer sampler, every
// admissible centre and width, the realised distribution P and the ideal D:
//   - base tables: 96-bit weights, every value but 0 rounded down, tails cut
//     below 2^-96: P(z) / D(z) <= 1 + 2^-90, statistical distance <= 2^-92,
//     cut mass <= 2^-96;
//   - Bernoulli trials: probability within a relative 2^-50 plus an absolute
//     2^-63 (2^-94 in the narrow sampler, whose first 31 halvings are exact
//     coin flips), exponents rounded with relative error 2^-50;
//   - uniform y in [0, K): 95 bits, bias <= K / 2^95 <= 2^-74 relative.
// With eta = P/D - 1 this gives eta <= 2^-40 everywhere and E_D[eta^2] <= 2^-94
// (tools/gen_gauss_tables.py --report computes the terms for the extreme widths
// over a grid of centres), so the Renyi divergence of order a = 512 is
// R_a(P || D) <= 1 + (a / 2) E_D[eta^2] (1 + 2^-30) <= 1 + 2^-86 per sample. A
// signature (2 k n + 2 n samples: 20480 at S128, 49152 < 2^15.6 at S256) has
// R_512 <= 1 + 2^-70, and 2^64 signatures R_512 <= exp(2^-6): an attack that
// succeeds with probability eps against ideal samples succeeds with at most
// (1.02 eps)^(511/512) against ours, less than 0.1 bit of security.
// Cut tails alone are a statistical distance <= 2^-80 per signature.
// Normals: each value is the polar transform of its words to within a few
// units of 2^-53, with the tail beyond |x| = 13.2 cut (mass about 2^-126).
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
// Words of sample_narrow: 3 per attempt, w0 w1 w2 (the 96-bit base sample is w0
// and the top 32 bits of w1, bit 0 of w1 the sign, bits 1..31 of w1 the trial's
// first halvings, w2 the trial's uniform); attempts until one is accepted
// (about 1.23 attempts at sigma = base, 2.1 at sigma = base / 2).
// sample_narrow_batch runs in rounds of P <= 64 attempts: the samples rejected
// in the previous round (in their order), then the next new samples until
// there are 64 or none is left. A round takes 3P words, the w0 of every
// attempt (in round order), then their w1, then their w2; accepted samples
// leave, the others open the next round. A batch of one sample is therefore
// sample_narrow.
// Both throw std::invalid_argument for a width outside the table's range.
struct NarrowTable;
const NarrowTable& narrow_table_r();       // base width 1.70
const NarrowTable& narrow_table_r_wide();  // base width 1.70 / 0.75
double narrow_base_sigma(const NarrowTable& t) noexcept;
std::int64_t sample_narrow(WordStream& ws, const NarrowTable& t, double centre, double sigma);
// out[i] ~ D_{Z, centres[i], sigma}, independently.
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
// Words: 4 per attempt, w0 w1 w2 w3 (the 96-bit binary-Gaussian base sample is
// w0 and the top 32 bits of w1, bit 0 of w1 the sign, the uniform's 95 bits are
// w2 followed by bits 1..31 of w1, w3 the Bernoulli trial's uniform); attempts
// until one is accepted.
inline constexpr double kWideMinSigma = 64.0;
inline constexpr double kWideMaxSigma = 1048576.0;  // 2^20
struct WideWidth {
    double inv_2s2_ln2;  // 1 / (2 sigma^2 ln 2)
    double ccs;          // scale of the acceptance probability, in (0, 1]
    std::int64_t k;      // proposal scale: floor(sigma (1 + 2^-6) / kSigmaBin) + 1
};
WideWidth prepare_wide(double sigma) noexcept;
std::int64_t sample_wide(WordStream& ws, const WideWidth& w, double centre);
// out[i] ~ D_{Z, centres[i], sigma}, independently, all at one width. Rounds
// of P <= 4 attempts as in sample_narrow_batch (the rejected samples first,
// then new ones), each taking 4P words: the w0 of every attempt, then their
// w1, w2 and w3. A batch of one sample is sample_wide.
void sample_wide_batch(WordStream& ws, const WideWidth& w, const double* centres, std::int64_t* out,
                       std::size_t count);

// ---------------------------------------------------------------------------
// Exact D_{Z, 0, K * kSigmaBin} for integer K in [1, 2^20] (public), in bulk.
// K = 1: 2 words per sample, no rejection (a table of D_{Z, kSigmaBin}: sample
// j of the batch is words 2j and 2j + 1). K >= 2: attempts as in sample_wide
// (4 words each; about 1.47 attempts per sample for large K) in rounds: with
// R outputs still missing a round makes P = min(64, R) attempts and takes 4P
// words, the w0 of every attempt, then their w1, w2 and w3; its accepted
// values are the next outputs, in attempt order. Throws std::invalid_argument
// for K outside [1, 2^20].
void sample_centred_batch(WordStream& ws, std::int64_t K, std::int64_t* out, std::size_t count);

// ---------------------------------------------------------------------------
// count independent standard normal doubles, constant-time in their values
// (Marsaglia's polar method). The values are made in pairs, each from a point
// (u, v) = (w0, w1) / 2^63 (words read as signed integers) tried until it lies
// inside the unit disk (probability pi/4), in rounds: with R pairs still
// missing a round tries P = min(64, R) points and takes 2P words, the w0 of
// every point, then their w1; the points inside the disk give the next pairs
// in order. For odd count the second value of the last pair is dropped.
void sample_normals(WordStream& ws, double* out, std::size_t count);

// ---------------------------------------------------------------------------
// 1 with probability ccs * exp(-x), for x >= 0 and ccs in (0, 1]; constant-time
// in x and ccs. Words: 1. The probability realised is exactly
// bernoulli_exp_threshold(x, ccs) / 2^63, which is within a relative 2^-50 plus
// an absolute 2^-63 of ccs * exp(-x).
std::uint64_t bernoulli_exp(WordStream& ws, double x, double ccs);
std::uint64_t bernoulli_exp_threshold(double x, double ccs) noexcept;

}  // namespace ringtrap::gauss
