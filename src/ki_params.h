// The key-independent engine's view of its parameter sets: the sets
// themselves are KiParamSet in params.h (S128 and S256); this header adds the
// engine's constants, the compile-time consistency check every set must pass
// and the engine's short names for the two sets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ntt.h"
#include "params.h"

namespace ringtrap::ki {

using ringtrap::KiParamSet;

inline constexpr double kSigmaBin = 0.84932180028801904272;  // sqrt(1 / (2 ln 2))
inline constexpr std::size_t kSaltBytes = 40;
// rho^2 = r^2 (lambda_max(S S^T) + kGadgetMargin): the continuous part of the
// gadget sampler then has covariance >= kGadgetMargin r^2 I (see ki_sampler.cpp).
inline constexpr double kGadgetMargin = 0.25;

inline constexpr const KiParamSet& kS128 = kParamsS128;
inline constexpr const KiParamSet& kS256 = kParamsS256;

// Compile-time consistency of a set: shapes, the base and the modulus window,
// s^2 = w^2 + rho^2 >= rho^2 (s1_max^2 + 1) + 4e4 (the 4e4 keeps every leaf
// width of the perturbation above 200), rho within the window that
// lambda_max(S S^T) in [b^2, (b + 1)^2) allows, and the bound below q^2 (q e_0
// is in the lattice of A otherwise). tools/estimate.py --check recomputes
// every constant exactly.
constexpr bool check_ki_params(const KiParamSet& p) {
    if (p.n != (std::int64_t{1} << p.log_n) || p.log_n < 2) return false;
    if (p.base < 2 || (p.base & (p.base - 1)) != 0 || p.k < 2 || p.q_bits() > 31) return false;
    if ((p.q - 1) % (2 * p.n) != 0) return false;
    const std::int64_t top = std::int64_t{1} << p.q_bits();  // b^k
    if (!(4 * p.q >= 3 * top && p.q < top)) return false;
    if ((p.n * p.n_inv % p.q + p.q) % p.q != 1) return false;
    if (p.psi * p.psi_inv % p.q != 1) return false;
    const double b = static_cast<double>(p.base);
    const double rho2 = p.rho * p.rho, r2 = p.r * p.r;
    if (!(rho2 >= r2 * (b * b + kGadgetMargin) && rho2 < r2 * ((b + 1) * (b + 1) + kGadgetMargin))) return false;
    const double w = static_cast<double>(p.K_w) * kSigmaBin;
    const double diff = p.s * p.s - (w * w + rho2);
    if (diff > 1e-6 || diff < -1e-6) return false;
    if (p.s * p.s < rho2 * (p.s1_max * p.s1_max + 1) + 4e4) return false;
    if (p.beta_squared >= p.q * p.q) return false;
    if (2 * (10 * p.K_T - 1) >= p.q) return false;  // trapdoor coefficients are NTT inputs as they are
    // Inner products of k + 2 rows are summed in 64 bits before one reduction.
    if (p.q_bits() > 29 || p.k + 2 > ntt_wide_capacity(p.q)) return false;
    return p.r == 1.70 && p.K_T >= 1 && p.low_bits >= 1;
}

static_assert(check_ki_params(kS128) && check_ki_params(kS256));

}  // namespace ringtrap::ki
