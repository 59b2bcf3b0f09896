// Parameter sets of the key-independent, constant-time signing engine.
//
// All widths are standard deviations; kSigmaBin = sqrt(1 / (2 ln 2)).
// A set is generic data: the engine (ki_scheme.h) works for any set that
// satisfies check_ki_params(). The toy sets exist for the
// statistical tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ringtrap::ki {

struct KiParamSet {
    const char* name;           // also names the hash domain ("ringtrap-<name>-hash")
    std::int64_t n;             // ring degree, a power of two
    int log_n;                  // log2 n
    std::int64_t q;             // prime, q = 1 (mod 2n), 0.75 * 2^k <= q < 2^k
    std::int64_t k;             // gadget length = bit length of q
    std::int64_t psi;           // primitive 2n-th root of unity mod q
    std::int64_t psi_inv;       // psi^-1 mod q
    std::int64_t n_inv;         // n^-1 mod q, centred
    std::int64_t K_T;           // trapdoor coefficients ~ D_{Z, K_T * kSigmaBin}
    double r;                   // gadget base width (1.70)
    double rho;                 // gadget output width: rho^2 = r^2 (lambda_max(S S^T) + 0.25)
    std::int64_t K_w;           // long part of the perturbation ~ D_{Z, w}, w = K_w * kSigmaBin
    double s;                   // signature width, s^2 = w^2 + rho^2
    double s1_max;              // largest accepted s1(T)
    std::int64_t beta_squared;  // verification bound on ||x||^2
    int low_bits;               // raw low bits per coefficient in the compressed signature
    std::size_t signature_bytes;

    constexpr std::int64_t m() const noexcept { return (k + 2) * n; }  // coefficients of x
};

inline constexpr double kSigmaBin = 0.84932180028801904272;  // sqrt(1 / (2 ln 2))
inline constexpr std::size_t kSaltBytes = 40;

// The two sets come from tools/estimate.py --search, which derives every
// constant below from n, q and K_T and checks the security targets (core-SVP
// for forgery at the verification bound and for key recovery):
// - q: a prime = 1 (mod 2n) in [0.75 * 2^k, 2^k); psi the smallest primitive
//   2n-th root of unity, psi_inv and n_inv by Fermat.
// - rho^2 = r^2 (lambda_max(S S^T) + 0.25), S the k x k gadget basis factor.
// - s1_max: a fresh trapdoor passes with probability about 0.91 (simulated and
//   by the exact law of the largest singular value of a 2 x k Gaussian matrix).
// - K_w: the smallest integer with s^2 >= rho^2 (s1_max^2 + 1) + 4e4; the 4e4
//   keeps every leaf width of the perturbation above 200.
// - beta = tau s sqrt(m) with tau chosen so that an honest signature exceeds it
//   with probability below 2^-40 (a Chernoff bound on its squared norm).
// - low_bits = floor(log2 s); signature_bytes = the mean compressed size plus
//   eight standard deviations, rounded up to a multiple of 8 (a signature that
//   does not fit is drawn again; that happens with probability below 2^-40).

// n = 1024, q = 249857 = 244 * 1024 + 1 (k = 18): psi = 214 (order 2048),
// psi_inv = 239349, 1024 * (-244) = 1 (mod q).
inline constexpr KiParamSet kS128{
    "S128", 1024, 10, 249857, 18, 214, 239349, -244, 1, 1.70, 5.154529570496173, 1094,
    929.1723468516402, 176.0, 19050975207, 9, 30880};

// n = 2048, q = 520193 = 254 * 2048 + 1 (k = 19): psi = 71 (order 4096),
// psi_inv = 21980, 2048 * (-254) = 1 (mod q).
inline constexpr KiParamSet kS256{
    "S256", 2048, 11, 520193, 19, 71, 21980, -254, 1, 1.70, 5.156096090595148, 1578,
    1340.2397190149873, 257.0, 81322165998, 10, 67920};

// Toy rings for the statistical tests: q = 16193 = 506 * 32 + 1, k = 14.
// n = 16: psi = 1919, psi_inv = 14075, 16 * (-1012) = 1. n = 8: psi = 6750,
// psi_inv = 463, 8 * (-2024) = 1.
inline constexpr KiParamSet kToy16{
    "toy16", 16, 4, 16193, 14, 1919, 14075, -1012, 6, 1.70, 5.1447388829364753, 696,
    591.15036056980261, 108.0, 96761493, 9, 431};
inline constexpr KiParamSet kToy8{
    "toy8", 8, 3, 16193, 14, 6750, 463, -2024, 6, 1.70, 5.1447388829364753, 512,
    434.88319436093622, 75.0, 26183150, 8, 229};

// Compile-time consistency of a set: shapes, the modulus window, and
// s^2 = w^2 + rho^2 >= rho^2 (s1_max^2 + 1) + 4e4.
constexpr bool check_ki_params(const KiParamSet& p) {
    if (p.n != (std::int64_t{1} << p.log_n) || p.log_n < 2) return false;
    if ((p.q - 1) % (2 * p.n) != 0) return false;
    if (!(4 * p.q >= 3 * (std::int64_t{1} << p.k) && p.q < (std::int64_t{1} << p.k))) return false;
    if ((p.n * p.n_inv % p.q + p.q) % p.q != 1) return false;
    if (p.psi * p.psi_inv % p.q != 1) return false;
    const double w = static_cast<double>(p.K_w) * kSigmaBin;
    const double diff = p.s * p.s - (w * w + p.rho * p.rho);
    if (diff > 1e-6 || diff < -1e-6) return false;
    if (p.s * p.s < p.rho * p.rho * (p.s1_max * p.s1_max + 1) + 4e4) return false;
    return p.r == 1.70 && p.K_T >= 1 && p.low_bits >= 1;
}

static_assert(check_ki_params(kS128) && check_ki_params(kS256));
static_assert(check_ki_params(kToy16) && check_ki_params(kToy8));
// The bound must stay below q: q e_0 is in the lattice of A otherwise.
static_assert(kS128.beta_squared < kS128.q * kS128.q && kS256.beta_squared < kS256.q * kS256.q);

}  // namespace ringtrap::ki
