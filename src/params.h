// The built-in parameter sets, as compile-time constants: the two original
// sets (ParamSet) and the two key-independent, constant-time sets (KiParamSet).
//
// Everything that depends only on the level lives here, so that code which must
// not touch the process-wide globals (the thread-safe API, the fast paths) can
// take a `const ParamSet&` instead.
//
// Naming, across src/:
// - The operations the system names (poly_R, Sample_G, Hash, KeyGen,
//   parameter_init, sig_keygen, ...) keep their names and argument order.
// - An explicit-parameter form of such an operation is an overload of the same
//   name: its arguments in their order, then the explicit parameters (a
//   modulus, a gadget length, a ParamSet, tables), then an output array if it
//   writes into the caller's memory: Hash(m, len, count, q),
//   Hash(m, len, count, q, out), generate_random_poly_R(len, q),
//   Sample_G(out, q, u, sigma, k), mul_poly_K(a, b, p).
// - Everything else is lower_snake_case; the context (ParamSet, tables, key,
//   plan) comes first, then inputs, then outputs: core::sign(pk, sk, m, len, x),
//   ntt_forward(t, a), sample_field(plan, centre, L, out).
// The process-wide globals (n, k, modulo, ...) are declared in BasicScheme.h
// and fft.h only, for the modules that serve the global-parameter operations;
// the engine (scheme_core, codec, ntt, the C++ API) does not include them, so
// its locals are plain n, k and q.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace ringtrap {

struct ParamSet {
    int level;             // 128 or 256
    std::int64_t q;        // prime modulus, q = 1 (mod 2n)
    std::int64_t n;        // ring degree
    std::int64_t k;        // gadget length = bit length of q
    double r;              // width of the gadget sampler
    double s;              // width of the signature
    int log_n;             // log2 n
    std::int64_t psi;      // primitive 2n-th root of unity mod q
    std::int64_t psi_inv;  // psi^-1 mod q, in [0, q)
    std::int64_t n_inv;    // n^-1 mod q, centred (negative for both sets)

    constexpr std::size_t public_key_bytes() const { return static_cast<std::size_t>(4 * (k + 2) * n); }
    constexpr std::size_t secret_key_bytes() const { return static_cast<std::size_t>(8 * k * n); }
    constexpr std::size_t signature_bytes() const { return static_cast<std::size_t>(4 * (k + 2) * n); }
};

// q = 16377 * 1024 + 1; 88150 has order 1024 mod q; 88150 * 5793134 = 1;
// 512 * (-32754) = 1 (mod q).
inline constexpr ParamSet kParams128{128, 16770049, 512, 24, 5.6, 44873.0, 9, 88150, 5793134, -32754};
// q = 131040 * 2048 + 1; 326097 has order 2048 mod q; 326097 * 228572460 = 1;
// 1024 * (-262080) = 1 (mod q).
inline constexpr ParamSet kParams256{256, 268369921, 1024, 28, 7.8, 131360.0, 10, 326097, 228572460, -262080};

static_assert(kParams128.public_key_bytes() == 53248 && kParams128.secret_key_bytes() == 98304);
static_assert(kParams256.public_key_bytes() == 122880 && kParams256.secret_key_bytes() == 229376);
static_assert((std::int64_t{1} << (kParams128.k - 1)) < kParams128.q && kParams128.q < (std::int64_t{1} << kParams128.k));
static_assert((std::int64_t{1} << (kParams256.k - 1)) < kParams256.q && kParams256.q < (std::int64_t{1} << kParams256.k));
static_assert((kParams128.q - 1) % (2 * kParams128.n) == 0 && (kParams256.q - 1) % (2 * kParams256.n) == 0);
static_assert((std::int64_t{1} << kParams128.log_n) == kParams128.n && (std::int64_t{1} << kParams256.log_n) == kParams256.n);

// A parameter set of the key-independent, constant-time engine (ki_scheme.h).
// Widths are standard deviations; sigma_bin = sqrt(1 / (2 ln 2)). The gadget
// is g = (1, b, ..., b^(k-1)) with k the number of base-b digits of q, and the
// public row A = [1 | a | b^i - (a T1_i + T0_i)] hides it behind the
// trapdoor T = [T0; T1] (2 x k ring elements). tools/estimate.py reads the
// sets below (one designated initialiser per line, literals only), checks
// every constraint (--check, run by ctest) and prints their security.
struct KiParamSet {
    const char* name;           // also names the hash domain ("ringtrap-<name>-hash")
    int level;                  // security target in bits (core-SVP, classical); 0 for test sets
    std::int64_t n;             // ring degree, a power of two
    int log_n;                  // log2 n
    std::int64_t q;             // prime, q = 1 (mod 2n), 0.75 b^k <= q < b^k
    std::int64_t base;          // gadget base b, a power of two
    std::int64_t k;             // gadget length: the number of base-b digits of q
    std::int64_t psi;           // primitive 2n-th root of unity mod q
    std::int64_t psi_inv;       // psi^-1 mod q
    std::int64_t n_inv;         // n^-1 mod q, centred
    std::int64_t K_T;           // trapdoor coefficients ~ D_{Z, K_T sigma_bin}
    double r;                   // gadget base width (1.70)
    double rho;                 // gadget output width: rho^2 = r^2 (lambda_max(S S^T) + 1/4)
    double s1_max;              // largest accepted s1(T)
    std::int64_t K_w;           // long part of the perturbation ~ D_{Z, w}, w = K_w sigma_bin
    double s;                   // signature width, s^2 = w^2 + rho^2
    double tau;                 // verification bound beta = tau s sqrt(m)
    std::int64_t beta_squared;  // floor(beta^2), the bound on ||x||^2
    int low_bits;               // raw low bits per coefficient in the compressed signature
    std::size_t signature_bytes;  // fixed size of a compressed signature, salt included

    constexpr std::int64_t m() const noexcept { return (k + 2) * n; }  // coefficients of x
    // log2 b, and the bit length of q (k log2 b, since q >= 0.75 b^k >= b^k / 2).
    constexpr int base_bits() const noexcept {
        int bits = 0;
        for (std::int64_t b = base; b > 1; b >>= 1) ++bits;
        return bits;
    }
    constexpr int q_bits() const noexcept { return static_cast<int>(k) * base_bits(); }
    // Byte sizes of the raw formats: 4 bytes per public coefficient, 8 per
    // pair of trapdoor coefficients (T0_i and T1_i).
    constexpr std::size_t public_key_bytes() const { return static_cast<std::size_t>(4 * m()); }
    constexpr std::size_t secret_key_bytes() const { return static_cast<std::size_t>(8 * k * n); }
};

// Both sets are the choices of `tools/estimate.py --search` (gadget base 4),
// which prefers, among the sets meeting every constraint with 5 bits of margin
// on both attacks, the smallest signature; every other constant follows from
// n, q, b and K_T as the comments say. Security (core-SVP, classical): S128
// forgery 2^196, key recovery 2^154; S256 forgery 2^533, key recovery 2^288.
// (At n = 2048, k = 10 would give a public key of 98304 bytes, the size of
// the level-128 secret key, so S256 takes k = 11.)
inline constexpr KiParamSet kParamsS128{
    .name = "S128",                   // names the hash domain
    .level = 128,                     // the target of the search
    .n = 1024,                        // ring degree
    .log_n = 10,                      // log2 n
    .q = 249857,                      // 244 * 1024 + 1, the largest prime = 1 (mod 2n) in [0.75 * 4^9, 4^9)
    .base = 4,                        // gadget base
    .k = 9,                           // base-4 digits of q
    .psi = 214,                       // smallest x with x^1024 = -1 (mod q)
    .psi_inv = 239349,                // psi * psi_inv = 1 (mod q)
    .n_inv = -244,                    // 1024 * (-244) = 1 (mod q)
    .K_T = 1,                         // chosen by the search: sigma_T = sigma_bin
    .r = 1.70,                        // above the smoothing parameter of Z (1.69 at 2^-80)
    .rho = 8.47319670126266,          // 1.70 sqrt(lambda_max(S S^T) + 1/4), S for b = 4, k = 9
    .s1_max = 143.0,                  // a fresh trapdoor passes with probability 0.91
    .K_w = 1446,                      // smallest with (K_w sigma_bin)^2 >= (rho s1_max)^2 + 4e4
    .s = 1228.1485525456733,          // sqrt((K_w sigma_bin)^2 + rho^2)
    .tau = 1.051,                     // smallest with P[||x||^2 > (tau s)^2 m] < 2^-40 (Chernoff)
    .beta_squared = 18767216984,      // floor((tau s)^2 m), m = 11264; beta = 0.55 q
    .low_bits = 10,                   // floor(log2 s)
    .signature_bytes = 17736,         // mean compressed size (17659) + 8 sd (9.3), to a multiple of 8
};

inline constexpr KiParamSet kParamsS256{
    .name = "S256",                   // names the hash domain
    .level = 256,                     // the target of the search
    .n = 2048,                        // ring degree
    .log_n = 11,                      // log2 n
    .q = 4169729,                     // 2036 * 2048 + 1, the largest prime = 1 (mod 2n) in [0.75 * 4^11, 4^11)
    .base = 4,                        // gadget base
    .k = 11,                          // base-4 digits of q
    .psi = 289,                       // smallest x with x^2048 = -1 (mod q)
    .psi_inv = 2366213,               // psi * psi_inv = 1 (mod q)
    .n_inv = -2036,                   // 2048 * (-2036) = 1 (mod q)
    .K_T = 1,                         // chosen by the search: sigma_T = sigma_bin
    .r = 1.70,                        // above the smoothing parameter of Z (1.69 at 2^-80)
    .rho = 8.494591763845566,         // 1.70 sqrt(lambda_max(S S^T) + 1/4), S for b = 4, k = 11
    .s1_max = 217.0,                  // a fresh trapdoor passes with probability 0.90
    .K_w = 2184,                      // smallest with (K_w sigma_bin)^2 >= (rho s1_max)^2 + 4e4
    .s = 1854.9382621980897,          // sqrt((K_w sigma_bin)^2 + rho^2)
    .tau = 1.033,                     // smallest with P[||x||^2 > (tau s)^2 m] < 2^-40 (Chernoff)
    .beta_squared = 97753623991,      // floor((tau s)^2 m), m = 26624; beta = 0.075 q
    .low_bits = 10,                   // floor(log2 s)
    .signature_bytes = 43424,         // mean compressed size (43247) + 8 sd (22.0), to a multiple of 8
};

// Every key and signature size differs from every other set's, so that a byte
// string's length tells its set and kind (the estimator checks it as well).
static_assert([] {
    const std::size_t sizes[] = {kParams128.public_key_bytes(), kParams128.secret_key_bytes(),
                                 kParams256.public_key_bytes(), kParams256.secret_key_bytes(),
                                 kParamsS128.public_key_bytes(), kParamsS128.secret_key_bytes(),
                                 kParamsS128.signature_bytes,   kParamsS256.public_key_bytes(),
                                 kParamsS256.secret_key_bytes(), kParamsS256.signature_bytes};
    for (std::size_t i = 0; i < std::size(sizes); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (sizes[i] == sizes[j]) return false;
    return true;
}());

// The parameter set of a level, or nullptr for a level that is not built in.
[[nodiscard]] constexpr const ParamSet* find_param_set(int level) {
    if (level == 128) return &kParams128;
    if (level == 256) return &kParams256;
    return nullptr;
}

}  // namespace ringtrap
