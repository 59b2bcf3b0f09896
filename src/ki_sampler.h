// The two Gaussian samplers beneath the key-independent preimage sampler:
// the gadget sampler (one coefficient of the syndrome at a time, in bulk) and
// the field sampler (an integer vector whose covariance is a self-adjoint
// element of K_n, by recursive even/odd splitting in the FFT domain).
//
// Both are constant-time in their secret inputs (syndrome digits, centres,
// covariance); what they keep or leave in scratch lives in SecretBuffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif
#include <cmath>

#include "gauss_ct.h"
#include "ki_fft.h"
#include "secret.h"
#include "word_stream.h"

namespace ringtrap::ki {

// Gadget sampler for g = (1, b, ..., b^(k-1)) modulo q (b a power of two, k
// base-b digits, q >= 0.75 b^k), base width r and output width rho, rho^2 =
// r^2 (lambda_max(S S^T) + 1/4) with S the basis factor (b on the diagonal,
// -1 below). All constants are public.
class GadgetSampler {
public:
    // Throws std::invalid_argument when rho^2 I - r^2 S S^T is not positive
    // definite, b is not a power of two, q is outside [0.75 b^k, b^k) or r
    // does not fit the narrow sampler's tables.
    GadgetSampler(std::int64_t q, std::int64_t base, std::int64_t k, double r, double rho);

    // For every j < count: z_j in Z^k with <g, z_j> = v[j] (mod q), z_j ~
    // D_{Lambda_v(g), rho}; v[j] in [0, q) (secret). Writes digit i of
    // coefficient j to z[i * stride + j]. Words: sample_normals for count * k
    // values (coefficient-major), then count last-digit narrow samples, then
    // count * (k - 1) narrow samples (coefficient-major, digit-minor).
    // scratch grows as needed and holds secrets afterwards (caller wipes).
    void sample(WordStream& ws, const std::int64_t* v, std::size_t count, std::int64_t* z, std::size_t stride,
                SecretBuffer<double>& scratch, SecretBuffer<std::int64_t>& iscratch) const;

    std::int64_t base() const noexcept { return base_; }
    std::int64_t k() const noexcept { return k_; }
    double rho() const noexcept { return rho_; }
    // The largest eigenvalue of S S^T (k x k, base b), by bisection.
    static double lambda_max_sst(std::int64_t base, std::int64_t k);

private:
    std::int64_t base_, k_;
    unsigned log_b_;
    double inv_b_, r_, rho_, last_sigma_;
    std::vector<double> d_;             // d_i = (q mod b^(i+1)) / b^(i+1)
    std::vector<std::int64_t> qdigit_;  // base-b digits of q
    std::vector<double> chol_diag_, chol_sub_;  // lower-bidiagonal factor of rho^2 I - r^2 S S^T
};

// Field sampler tree of one self-adjoint positive-definite f in K_n (n >= 2):
// per internal node the ratios (f(z) - f(-z)) / (f(z) + f(-z)) (the L factor is
// zeta times the ratio), per leaf the prepared width. Secret: held in
// SecretBuffers. Empty until built, and after it was moved from.
class FieldTree {
public:
    // f given by its n/2 (real) values at the FFT points of K_n. Every leaf
    // variance must lie in [64^2, 2^40] (not checked: the caller's parameters
    // guarantee it; the sampler clamps widths out of its range).
    void build(const FftPlan& plan, const double* f_values, double* scratch);
    // Scratch doubles needed by build and sample for K_n.
    static std::size_t scratch_size(std::size_t n) noexcept { return 5 * n + 8; }

    // z ~ D_{Z^n, c, sqrt(f)}: c given in the FFT domain (n doubles, split
    // re/im), z written as n integers to out and in the FFT domain to z_fft.
    // Words: one sample_wide_batch of two samples (odd coordinate first) per
    // leaf, in the order of the leaves (odd halves first).
    void sample(WordStream& ws, const FftPlan& plan, const double* c_fft, std::int64_t* out, double* z_fft,
                double* scratch) const;

    std::size_t n() const noexcept { return 2 * leaves_.size(); }

private:
    void build_rec(const FftPlan& plan, std::size_t m, double* f, std::size_t pos, std::size_t lpos, double* scratch);
    void sample_rec(WordStream& ws, const FftPlan& plan, std::size_t m, double* c, double* z, std::int64_t* out,
                    std::size_t offset, std::size_t stride, std::size_t pos, std::size_t lpos, double* scratch) const;

    SecretBuffer<double> ratio_;             // preorder: node, odd subtree, even subtree
    SecretBuffer<gauss::WideWidth> leaves_;  // one width per leaf (K_2), odd subtree's leaves first
};

// Ratio count of the subtree of a node of K_m.
constexpr std::size_t field_tree_ratios(std::size_t m) noexcept {
    return m <= 2 ? 0 : m / 4 + 2 * field_tree_ratios(m / 2);
}

// The square root instruction alone: std::sqrt also compares its operand (to
// set errno for negative inputs), a branch on a secret.
inline double sqrt_ct(double x) noexcept {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_set_sd(x), _mm_set_sd(x)));
#else
    return std::sqrt(x);
#endif
}

// Rounds x (|x| < 2^51) to the nearest integer (ties to even) without a
// branch or a library call.
inline std::int64_t round_ct(double x) noexcept {
    constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
    return static_cast<std::int64_t>((x + kShift) - kShift);
}

}  // namespace ringtrap::ki
