// The two built-in parameter sets, as compile-time constants.
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

// The parameter set of a level, or nullptr for a level that is not built in.
[[nodiscard]] constexpr const ParamSet* find_param_set(int level) {
    if (level == 128) return &kParams128;
    if (level == 256) return &kParams256;
    return nullptr;
}

}  // namespace ringtrap
