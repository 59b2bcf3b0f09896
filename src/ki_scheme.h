// The key-independent, constant-time signature engine (KiParamSet, params.h).
//
// Public row A = [1 | a | b^i - (a T1_i + T0_i)]_(i<k) with the trapdoor
// T = [T0; T1] (2 x k ring elements, coefficients ~ D_{Z, K_T kSigmaBin}), so
// A [T0; T1; I_k] = g = (1, b, ..., b^(k-1)) for the set's gadget base b. A preimage x of u (A x = u mod q)
// is x = p + [T0; T1; I] z with a perturbation p of covariance
// s^2 I - rho^2 [T; I][T; I]* and z a gadget solution of width rho: its
// distribution is the discrete Gaussian of width s on the coset, whatever
// the key, so signatures reveal nothing about T.
//
// Rows of ring elements are flat, entry-major: coefficient j of entry i at
// i n + j. Keys generated here and prepared keys are secret and wiped on
// release. Signing and key generation are constant-time in the secrets; the
// only secret-dependent decisions (redrawing a trapdoor, redrawing a long
// signature) are declassified where they are made, with the reason.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ki_fft.h"
#include "ki_params.h"
#include "ki_sampler.h"
#include "ntt.h"
#include "secret.h"
#include "word_stream.h"

namespace ringtrap::ki {

// Shared per-set tables, built once per process (thread-safe).
const NttTables& ntt_tables(const KiParamSet& p);
const GadgetSampler& gadget_sampler(const KiParamSet& p);

struct PublicKey {
    const KiParamSet* params = nullptr;
    std::vector<std::int64_t> a;      // (k+2) n centred coefficients: 1, a, A_2 .. A_(k+1)
    std::vector<std::int32_t> a_ntt;  // the same in the NTT domain (ntt_forward layout)
};

// The public key of (k+2) n coefficients (any integers; reduced and centred
// here). Throws std::invalid_argument for a wrong count or an entry 0 that is
// not the constant 1.
PublicKey make_public_key(const KiParamSet& p, std::vector<std::int64_t> coeffs);

struct SecretKey {
    const KiParamSet* params = nullptr;
    SecretBuffer<std::int64_t> t;  // 2 k n: T0_0 .. T0_(k-1), then T1_0 .. T1_(k-1)
};

struct KeyPair {
    PublicKey pk;
    SecretKey sk;
};

// Largest magnitude sample_centred_batch can return for K = K_T: its base
// sample is at most 9, so |z| <= 10 K_T - 1.
constexpr std::int64_t trapdoor_coeff_bound(const KiParamSet& p) { return 10 * p.K_T - 1; }

// Key generation from one stream: T0 then T1 (sample_centred_batch of 2 k n
// values), redrawn while s1(T) > s1_max; then a, n coefficients by rejection
// from the words (each word gives two candidates, its low and high 32 bits
// masked to the bit length of q, kept when below q). The overload without a stream seeds
// one from the draw source (under DrawLock).
KeyPair keygen(const KiParamSet& p, WordStream& ws);
KeyPair keygen(const KiParamSet& p);

// s1(T)^2: the largest squared singular value of T over the n/2 FFT points
// (the 2 x 2 Gram matrix per point in closed form). Constant-time; the result
// is as secret as T (2 k n coefficients).
double trapdoor_s1_squared(const KiParamSet& p, const std::int64_t* t);

// For loading: every coefficient within trapdoor_coeff_bound and s1(T) <=
// s1_max. Constant-time up to the final (declassified) answer.
bool check_secret_key(const KiParamSet& p, const std::int64_t* t);

// A [T0; T1; I] = g (mod q): the secret key belongs to the public key.
bool key_pair_matches(const PublicKey& pk, const SecretKey& sk);

struct Signature {
    std::array<std::uint8_t, kSaltBytes> salt{};
    std::vector<std::int64_t> x;  // (k+2) n centred coefficients
    // H(salt, message), the n coefficients A x equals: kept so that the
    // signer's own check before release does not hash the message again.
    std::vector<std::int64_t> target;
};

// A secret key prepared for signing: T in the NTT and FFT domains and the
// field-sampler trees of the perturbation. Immutable after construction, so
// one key may sign from several threads at once (each with its own stream).
class SigningKey {
public:
    // Throws std::invalid_argument when the keys belong to different sets or
    // check_secret_key fails. Does not check that sk belongs to pk (see
    // key_pair_matches); with a foreign pk the signatures do not verify.
    // Moves leave an empty key behind, whose use throws std::logic_error.
    SigningKey(const PublicKey& pk, const SecretKey& sk);

    const KiParamSet& params() const noexcept { return *p_; }

    // x with A x = u (mod q) for any target u (n integers, reduced mod q
    // here), distributed as the discrete Gaussian of width s over that coset.
    // Writes (k+2) n integers to x. No norm check. Words: the perturbation's
    // long part (sample_centred_batch, k n values), its short part (the two
    // field samplers, entry 1 then entry 0), the gadget sampler.
    void sample_preimage(const std::int64_t* u, std::int64_t* x, WordStream& ws) const;

    // The perturbation alone ((k+2) n integers, covariance s^2 I - rho^2 [T; I][T; I]*,
    // mean 0): the first words of sample_preimage. For tests and for callers
    // that build their own preimage sampler.
    void sample_perturbation(std::int64_t* p, WordStream& ws) const;

    // The conditional law of the short part (p1) given the long part (p2),
    // for tests of the algebra: its centre for a given p2 (2 n coefficients,
    // entry 0 then entry 1) and its covariance [[a, b], [b*, d]] as ring
    // elements (a, b, d: n coefficients each; Cov(p1_0, p1_1) is
    // multiplication by b). Results are as secret as the key.
    void perturbation_centre(const std::int64_t* p2, double* c) const;
    void short_covariance(double* a, double* b, double* d) const;

    // Salt (5 words, little-endian bytes), u = hash_to_ring(salt, msg), then
    // preimages of u until ||x||^2 <= beta^2. Throws std::runtime_error if the
    // result is implausibly short (||x||^2 < (0.9 s)^2 m: a skipped
    // perturbation, which would leak the key).
    Signature sign(const std::uint8_t* msg, std::size_t len, WordStream& ws) const;
    Signature sign(const std::uint8_t* msg, std::size_t len) const;  // stream from the draw source

private:
    void require_key() const;                             // throws for a moved-from key
    void perturb(std::int64_t* p, WordStream& ws) const;  // sample_perturbation without the wipe
    // -(rho^2 / w^2) T p2 in the FFT domain (entry 0 to c0, entry 1 to c1).
    void centre_fft(const std::int64_t* p2, double* c0, double* c1, double* buf) const;

    const KiParamSet* p_ = nullptr;
    const NttTables* ntt_ = nullptr;
    const FftPlan* fft_ = nullptr;
    const GadgetSampler* gadget_ = nullptr;
    // The public row too, so that all of a key's arrays are recycled alike.
    SecretBuffer<std::int32_t> a_ntt_;  // public row, (k+2) n
    SecretBuffer<std::int32_t> t_ntt_;  // 2 k n; empty only in a moved-from key
    SecretBuffer<double> t_fft_;        // 2 k n
    SecretBuffer<double> l_top_;        // n: b / d of the 2 x 2 step, per point (re, im)
    FieldTree tree_d_, tree_schur_;     // entry 1, then entry 0
    double centre_scale_ = 0.0;        // -rho^2 / w^2
};

// ||x||^2 <= beta^2 with every |x_i| < q/2, and A x = H(salt || msg) mod q.
bool verify(const PublicKey& pk, const std::uint8_t* salt, const std::int64_t* x, const std::uint8_t* msg,
            std::size_t len);
bool verify(const PublicKey& pk, const Signature& sig, const std::uint8_t* msg, std::size_t len);
// The check verify makes once the message is hashed: x within the bound and
// A x = target (n coefficients, any representatives mod q).
bool verify_target(const PublicKey& pk, const std::int64_t* x, const std::int64_t* target);

}  // namespace ringtrap::ki
