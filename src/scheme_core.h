// The signature scheme on explicit parameters and prepared keys.
//
// This is the engine behind both the global-parameter operations (KeyGen,
// Sign, Verify) and the thread-safe API: nothing here reads the process-wide
// parameters. Rows of ring elements are stored entry-major in flat arrays:
// coefficient j of entry i is element i * n + j.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SampleP.h"
#include "params.h"
#include "secret.h"

namespace ringtrap::core {

// The public row A (k + 2 entries), with its transform for fast products.
struct PublicKey {
    const ParamSet* params = nullptr;
    std::vector<std::int64_t> a;      // (k+2) n centred coefficients; entry 0 is the constant 1
                                      // (empty in a key decoded for verification only)
    std::vector<std::int32_t> a_ntt;  // transform domain, same layout
};

// The trapdoor rows T0 and T1 (k entries each) and what signing derives from
// them once. Everything in it is held in secret buffers: move-only, wiped on
// destruction and reassignment.
struct SecretKey {
    const ParamSet* params = nullptr;
    SecretBuffer<std::int64_t> t0, t1;  // k n small coefficients each
    PerturbationKey perturbation;       // key-only data of the perturbation sampler, with T0 and T1 transformed
};

// Builds a public key from (k+2) n coefficients (any values; reduced and
// centred here).
PublicKey make_public_key(const ParamSet& p, std::vector<std::int64_t> coeffs);
// The same in place: centres pk.a ((k+2) n coefficients) and transforms it
// into pk.a_ntt, reusing pk's arrays.
void prepare_public_key(const ParamSet& p, PublicKey& pk);
// Builds a secret key from the trapdoor rows (k n coefficients each).
SecretKey make_secret_key(const ParamSet& p, SecretBuffer<std::int64_t> t0, SecretBuffer<std::int64_t> t1);

// Draws a key pair: T0, then T1 (k n samples of width 2 sqrt(n) each), then
// the uniform entry a; A = [1 | a | 2^i - (a T1_i + T0_i)]. Checks its own
// trapdoor with trapdoor_is_short and throws Error(malformed_secret_key) if a
// fault made it longer than the sampler can.
void keygen(const ParamSet& p, PublicKey& pk, SecretKey& sk);

// The largest trapdoor coefficient magnitude key generation can produce at p:
// the widest sample the table-driven Gaussian can yield at width 2 sqrt(n)
// (cosine 1, smallest non-zero second draw), rounded as the key generator
// rounds. A secret key with a larger coefficient was not made by keygen.
[[nodiscard]] std::int64_t trapdoor_coeff_bound(const ParamSet& p);

// True when the k n coefficients of T0 and of T1 are all within
// trapdoor_coeff_bound(p).
[[nodiscard]] bool trapdoor_is_short(const ParamSet& p, const std::int64_t* t0, const std::int64_t* t1);

// True when A [T0; T1; I_k] = (1, 2, ..., 2^(k-1)) modulo q, i.e. the secret key
// is a trapdoor of this public key.
[[nodiscard]] bool key_pair_matches(const PublicKey& pk, const SecretKey& sk);

// Signs: perturbation p, syndrome y = H(m) - A p, gadget solution z per
// coefficient, x = p + [T0 z; T1 z; z]. Writes (k+2) n centred coefficients to
// x. Signs with the given A even if it does not match the trapdoor (the result
// then does not verify).
void sign(const PublicKey& pk, const SecretKey& sk, const std::uint8_t* msg, std::uint64_t len, std::int64_t* x);

// Squared Euclidean norm bound of a valid signature: (1.5 s)^2 (k+2) n.
std::int64_t norm_bound_squared(const ParamSet& p);

// True when x ((k+2) n coefficients, magnitudes below 2^62), reduced to centred
// residues, has norm at most the bound and A x = H(m).
[[nodiscard]] bool verify(const PublicKey& pk, const std::int64_t* x, const std::uint8_t* msg, std::uint64_t len);

}  // namespace ringtrap::core
