// Parameter sets of the key-independent, constant-time signing engine.
//
// All widths are standard deviations; kSigmaBin = sqrt(1 / (2 ln 2)).
// A set is generic data: the engine (ki_scheme.h) works for any set that
// satisfies check_ki_params(). S128 and S256 are provisional values; the toy
// sets exist for the statistical tests.
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

// How the provisional values were chosen (a derivation a script can redo):
// - q: the largest prime below 2^24 with q = 1 mod 4096 (so it serves n = 1024
//   and n = 2048): 16760833 = 4092 * 4096 + 1. psi = g^((q-1)/2n) for the
//   smallest g that makes psi^n = -1; psi_inv and n_inv by Fermat.
// - rho from lambda_max(S S^T) of the k x k tridiagonal matrix (diagonal
//   4, 5, ..., 5; off-diagonal -2), by Sturm bisection: 8.96760226707994 for
//   k = 24, 8.90859452373649 for k = 14.
// - s1_max: 90th percentile of s1(T) over 300 (S128) / 200 (S256) / 4000 (toy)
//   simulated trapdoors, rounded up (with the real sampler, 96 and 95 of 100
//   S128 and S256 trapdoors pass).
// - K_w: the smallest integer with s^2 >= rho^2 (s1_max^2 + 1) + 4e4; the 4e4
//   keeps every leaf width of the perturbation above 200 (sqrt(4e4)).
// - beta = 1.04 s sqrt(m); beta_squared = floor(beta^2).
// - low_bits minimises the worst-case compressed size m (low + 2) +
//   floor(sqrt(m) beta / 2^low) bits (sign, low bits, unary high part with its
//   stop bit; sum |x_i| <= sqrt(m) ||x||); signature_bytes = 40 salt bytes +
//   that size rounded up to bytes, so every signature within the bound fits.

// n = 1024, q = 16760833: psi = 9495335 (order 2048), psi_inv = 2923551,
// 1024 * (-16368) = 1 (mod q).
inline constexpr KiParamSet kS128{
    "S128", 1024, 10, 16760833, 24, 9495335, 2923551, -16368, 6, 1.70, 5.1612857459998303, 7114,
    6042.0774916956543, 1170.0, 1051265870242, 12, 51738};

// n = 2048, same q: psi = 13290827 (order 4096), psi_inv = 6074439,
// 2048 * (-8184) = 1 (mod q).
inline constexpr KiParamSet kS256{
    "S256", 2048, 11, 16760833, 24, 13290827, 6074439, -8184, 6, 1.70, 5.1612857459998303, 10091,
    8570.5078408075969, 1660.0, 4230416155662, 13, 107122};

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
// The bound must stay below q / 2: (q, 0, ..., 0) solves A x = 0 otherwise.
static_assert(4 * kS128.beta_squared < kS128.q * kS128.q && 4 * kS256.beta_squared < kS256.q * kS256.q);

}  // namespace ringtrap::ki
