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
// destruction and reassignment. A key decoded for signing only keeps the
// transforms (t0 and t1 empty).
struct SecretKey {
    const ParamSet* params = nullptr;
    SecretBuffer<std::int64_t> t0, t1;  // k n small coefficients each, or empty
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
// Builds a secret key from the transforms of the trapdoor rows (k n values in
// (-q, q) each, as ntt_forward leaves them); t0 and t1 stay empty.
SecretKey make_secret_key_ntt(const ParamSet& p, SecretBuffer<std::int32_t> t0_ntt, SecretBuffer<std::int32_t> t1_ntt);

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
// is a trapdoor of this public key. Checked slot by slot in the transform
// domain (the transform is a bijection modulo q), so it reads only pk.a_ntt
// and the key's transforms.
[[nodiscard]] bool key_pair_matches(const PublicKey& pk, const SecretKey& sk);

// One signature in two steps, so that callers can hold the draw lock for the
// first only:
//   SignSession s(pk, sk);
//   { DrawLock lock; s.draw(msg, len); }
//   bool ok = s.finish(x);
// draw() takes every draw of the signature: the perturbation p, then the
// gadget solution z of the syndrome H(m) - A p, coefficient by coefficient.
// finish() takes none: it forms x = p + [T0 z; T1 z; z] ((k+2) n centred
// coefficients) and checks that x verifies under pk, reusing H(m) and A's
// transform and taking z's transform from that of x. A key pair that does not
// match gives a signature that does not verify.
//
// The working arrays belong to the calling thread (no allocation per
// signature); they hold secrets and are wiped when the session ends. One
// session per thread at a time.
class SignSession {
public:
    // Throws std::invalid_argument for keys of different parameter sets,
    // std::logic_error when the thread already has a session.
    SignSession(const PublicKey& pk, const SecretKey& sk);
    ~SignSession();
    SignSession(const SignSession&) = delete;
    SignSession& operator=(const SignSession&) = delete;

    void draw(const std::uint8_t* msg, std::uint64_t len);
    [[nodiscard]] bool finish(std::int64_t* x);

private:
    const PublicKey& pk_;
    const SecretKey& sk_;
    bool drawn_ = false;
};

// Both steps of a SignSession; writes x whether it verifies or not (a key pair
// that does not match gives a signature that does not verify).
void sign(const PublicKey& pk, const SecretKey& sk, const std::uint8_t* msg, std::uint64_t len, std::int64_t* x);

// Squared Euclidean norm bound of a valid signature: (1.5 s)^2 (k+2) n.
std::int64_t norm_bound_squared(const ParamSet& p);

// True when x ((k+2) n coefficients, magnitudes below 2^62), reduced to centred
// residues, has norm at most the bound and A x = H(m).
[[nodiscard]] bool verify(const PublicKey& pk, const std::int64_t* x, const std::uint8_t* msg, std::uint64_t len);

// The same for a signature in its byte form (p.signature_bytes() bytes),
// decoded row by row straight into the transform domain.
[[nodiscard]] bool verify_signature_bytes(const PublicKey& pk, const std::uint8_t* sig, const std::uint8_t* msg,
                                          std::uint64_t len);

// Verification from the byte forms of both key and signature, for one-shot
// callers: the key is checked as decode_public_key does, then each entry of
// A and of x is decoded and transformed in turn, so that neither is held
// whole. Behind the C++ API's one-shot verify and the byte interface.
enum class Verdict { valid, invalid, malformed_key };
[[nodiscard]] Verdict verify_bytes(const ParamSet& p, const std::uint8_t* pk_bytes, const std::uint8_t* sig,
                                   const std::uint8_t* msg, std::uint64_t len);

}  // namespace ringtrap::core
