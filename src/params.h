// The two built-in parameter sets, as compile-time constants.
//
// Everything that depends only on the level lives here, so that code which must
// not touch the process-wide globals (the thread-safe API, the fast paths) can
// take a `const ParamSet&` instead.
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
constexpr const ParamSet* find_param_set(int level) {
    if (level == 128) return &kParams128;
    if (level == 256) return &kParams256;
    return nullptr;
}

}  // namespace ringtrap
