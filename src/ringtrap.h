// ringtrap: C++ API.
//
// Key generation, signing and verification on byte strings, for four
// parameter sets:
//
//   level | public key | secret key | signature | signatures reveal the key?
//   S128  | 45056      | 73728      | 17736     | no (key-independent, constant-time)
//   S256  | 106496     | 180224     | 43424     | no (key-independent, constant-time)
//   128   | 53248      | 98304      | 53248     | yes, within a few hundred signatures
//   256   | 122880     | 229376     | 122880    | yes, within a few hundred signatures
//
// New keys should be S128 or S256 (the default); the original sets 128 and 256
// are kept bit for bit for interoperability and reproduction. Keys are
// 4-byte sign-magnitude little-endian coefficients (public key: the row A;
// secret key: the trapdoor rows T0 then T1); signatures of the original sets
// are the same coefficient form of x, those of S128/S256 a 40-byte salt and x
// in a compressed canonical form. Every object's size tells its level.
//
// Every length is checked before any work is done; errors are reported by
// throwing ringtrap::Error. Nothing here reads or writes the process-wide
// parameters of the lower-level interface, and all functions may be called from
// several threads at once (signing and key generation take a process-wide lock
// on the shared draw source for their duration).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The documented interface is what the shared library exports.
#if defined(__GNUC__) || defined(__clang__)
#define RINGTRAP_API __attribute__((visibility("default")))
#else
#define RINGTRAP_API
#endif

namespace ringtrap {

// The library version, "MAJOR.MINOR.PATCH".
RINGTRAP_API const char* version() noexcept;

// The parameter sets. S128 and S256 are the key-independent sets (the numbers
// are also the byte interface's selection codes: 1000 + strength).
enum class Level : int { L128 = 128, L256 = 256, S128 = 1128, S256 = 1256 };

// "S128", "S256", "128" or "256" ("?" for a value that is not a level).
RINGTRAP_API const char* level_name(Level level) noexcept;
// The level named by "s128"/"S128", "s256"/"S256", "128" or "256".
[[nodiscard]] RINGTRAP_API std::optional<Level> level_from_name(std::string_view name) noexcept;
// True for S128 and S256: signatures whose distribution does not depend on the
// secret key, computed in constant time.
RINGTRAP_API bool is_key_independent(Level level) noexcept;

struct Sizes {
    std::size_t public_key;
    std::size_t secret_key;
    std::size_t signature;
};

// Byte sizes of the three objects at a level (all 0 for a value that is not a level).
RINGTRAP_API Sizes sizes(Level level) noexcept;

// The level whose object of that kind has this size, if any. At levels 128
// and 256 public keys and signatures have the same size; all other sizes are
// distinct.
[[nodiscard]] RINGTRAP_API std::optional<Level> level_of_public_key_size(std::size_t size) noexcept;
[[nodiscard]] RINGTRAP_API std::optional<Level> level_of_secret_key_size(std::size_t size) noexcept;
[[nodiscard]] RINGTRAP_API std::optional<Level> level_of_signature_size(std::size_t size) noexcept;

// Level from an integer (128, 256, 1128 or 1256).
[[nodiscard]] RINGTRAP_API std::optional<Level> level_from_int(int level) noexcept;

enum class Errc {
    bad_level,             // not a level, or an operation the level does not offer
    bad_public_key_size,   // matches no level
    bad_secret_key_size,
    bad_signature_size,    // not the signature size of the key's level
    level_mismatch,        // objects of different levels used together
    malformed_public_key,  // not a well-formed public key (first entry not 1, coefficients out of range)
    key_mismatch,          // the secret key does not belong to the public key
    signing_failed,        // the fresh signature did not verify (a fault during signing)
    entropy_unavailable,   // the operating system supplied no entropy to key the draw source
    malformed_secret_key,  // not a secret key key generation can produce (coefficients out of range or non-canonical)
    malformed_signature,   // decode_signature: not a canonical signature of its level
};

class RINGTRAP_API Error : public std::runtime_error {
public:
    Error(Errc code, const std::string& message) : std::runtime_error(message), code_(code) {}
    Errc code() const noexcept { return code_; }

private:
    Errc code_;
};

namespace detail {
// Memory of SecretBytes, from the library's secret-memory module: zeroed when
// allocated and wiped before it is released.
RINGTRAP_API void* allocate_secret(std::size_t bytes);
RINGTRAP_API void release_secret(void* p, std::size_t bytes) noexcept;

template <typename T>
struct SecretAllocator {
    using value_type = T;
    SecretAllocator() noexcept = default;
    template <typename U>
    SecretAllocator(const SecretAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(allocate_secret(count * sizeof(T))); }
    void deallocate(T* p, std::size_t count) noexcept { release_secret(p, count * sizeof(T)); }
    template <typename U>
    bool operator==(const SecretAllocator<U>&) const noexcept { return true; }
};
}  // namespace detail

using Bytes = std::vector<std::uint8_t>;
// Bytes of a secret key: wiped when released (also when a vector grows).
using SecretBytes = std::vector<std::uint8_t, detail::SecretAllocator<std::uint8_t>>;

struct KeyPair {
    Level level;
    Bytes public_key;
    SecretBytes secret_key;
};

// A fresh key pair (S128 unless another level is asked for), from the draw
// source (operating-system entropy unless deterministic draws were turned on
// below).
RINGTRAP_API KeyPair generate_keypair(Level level = Level::S128);

// What a level is made of. All widths are standard deviations.
struct Parameters {
    Level level;
    std::int64_t n;            // ring degree
    std::int64_t q;            // modulus
    std::int64_t k;            // gadget length (entries of A beyond the first two)
    std::int64_t gadget_base;  // the gadget is (1, b, b^2, ..., b^(k-1))
    double trapdoor_sigma;     // width of the trapdoor coefficients
    double gadget_sigma;       // width the gadget sampler works at
    double signature_sigma;    // width of the signature s
    std::int64_t bound_squared;  // verification accepts ||x||^2 <= bound_squared (x decoded, centred)
    bool key_independent;      // signatures do not depend on the secret key
};

// The parameters of a level (throws Error(bad_level) for a value that is not one).
RINGTRAP_API Parameters parameters(Level level);

// The signature vector x of any level: (k + 2) ring elements of n centred
// coefficients, entry after entry (for studying signatures; verification does
// not need it). Throws Error (bad_signature_size, malformed_signature).
RINGTRAP_API std::vector<std::int64_t> decode_signature(std::span<const std::uint8_t> signature);

// Known-answer runs only, NEVER for real keys: makes every later draw of the
// process come from one deterministic stream computed from `seed`, so that
// the same calls give the same keys and signatures, byte for byte. Keys made
// this way are known to anyone who knows the seed. Stays in force until
// use_os_entropy().
RINGTRAP_API void use_deterministic_draws_for_known_answers(std::uint64_t seed);
// Back to the default: draws from per-thread streams keyed with fresh
// operating-system entropy (also removes any test source installed below the
// public interface).
RINGTRAP_API void use_os_entropy();
// true while draws are deterministic (after the call above, or with a test
// source installed); false in a fresh process and after use_os_entropy().
// Asking changes nothing.
[[nodiscard]] RINGTRAP_API bool draws_are_deterministic() noexcept;

namespace detail {
struct PreparedPublicKey;
struct PreparedSecretKey;
}  // namespace detail

// A public key decoded and prepared for fast verification. Cheap to copy
// (shares the prepared data); immutable, so safe to use from many threads.
class RINGTRAP_API VerifyingKey {
public:
    // Throws Error (bad_public_key_size, malformed_public_key).
    static VerifyingKey from_bytes(std::span<const std::uint8_t> public_key);

    // Key objects may be moved; any call on a moved-from object throws
    // std::logic_error.
    Level level() const;
    // true when the signature is valid for the message. Throws Error
    // (bad_signature_size) when the signature is not of this key's level.
    // Accepts only the signer's encoding: every coefficient the centred
    // representative, no negative zero (anything else is false).
    [[nodiscard]] bool verify(std::span<const std::uint8_t> signature, std::span<const std::uint8_t> message) const;
    Bytes to_bytes() const;

private:
    explicit VerifyingKey(std::shared_ptr<const detail::PreparedPublicKey> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<const detail::PreparedPublicKey> impl_;
    friend class SigningKey;
};

// A secret key with its public key, checked to belong together and prepared
// for fast signing. The prepared data is wiped when the last copy goes.
class RINGTRAP_API SigningKey {
public:
    // Throws Error (bad_secret_key_size, bad_public_key_size, level_mismatch,
    // malformed_public_key, malformed_secret_key, key_mismatch).
    static SigningKey from_bytes(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key);

    Level level() const;
    // A signature of the message. Throws Error(signing_failed) if the fresh
    // signature does not verify (it is then discarded).
    Bytes sign(std::span<const std::uint8_t> message) const;
    // A short x with A x = target (mod q) for any target ring element (n
    // integers, reduced modulo q), distributed as the discrete Gaussian of
    // width s on that coset whatever the secret key: the trapdoor preimage
    // sampler that identity- and attribute-based constructions build on.
    // Returns (k + 2) n centred coefficients, entry after entry. S128 and S256
    // only (Error(bad_level) otherwise: the original sets' preimages reveal the
    // key); std::invalid_argument for a target that is not n integers.
    std::vector<std::int64_t> sample_preimage(std::span<const std::int64_t> target) const;
    const VerifyingKey& verifying_key() const noexcept { return public_; }

private:
    SigningKey(std::shared_ptr<const detail::PreparedSecretKey> impl, VerifyingKey pub)
        : impl_(std::move(impl)), public_(std::move(pub)) {}
    std::shared_ptr<const detail::PreparedSecretKey> impl_;
    VerifyingKey public_;
};

// One-shot forms of the above.
RINGTRAP_API Bytes sign(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key,
                        std::span<const std::uint8_t> message);
[[nodiscard]] RINGTRAP_API bool verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> signature,
                                     std::span<const std::uint8_t> message);

}  // namespace ringtrap

#undef RINGTRAP_API
