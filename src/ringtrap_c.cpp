// The stateless half of the C interface (sig_api.h, from ringtrap_version on):
// thin wrappers over the C++ API for bindings and C programs that keep their
// own keys. Unlike sig_sign and friends nothing here touches the byte
// interface's process-wide state.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "ringtrap.h"
#include "sig_api.h"

// The handles are the C++ key objects (immutable, so threads may share them).
// Their prepared data is wiped when the last copy goes.
struct ringtrap_signer {
    ringtrap::SigningKey key;
};
struct ringtrap_verifier {
    ringtrap::VerifyingKey key;
};

namespace ringtrap {
namespace {

// The C codes are the C++ error codes plus one; a new Errc must get its C code.
constexpr std::int32_t code_of(Errc e) noexcept { return static_cast<std::int32_t>(e) + 1; }
static_assert(code_of(Errc::bad_level) == RINGTRAP_E_BAD_LEVEL);
static_assert(code_of(Errc::bad_public_key_size) == RINGTRAP_E_BAD_PUBLIC_KEY_SIZE);
static_assert(code_of(Errc::bad_secret_key_size) == RINGTRAP_E_BAD_SECRET_KEY_SIZE);
static_assert(code_of(Errc::bad_signature_size) == RINGTRAP_E_BAD_SIGNATURE_SIZE);
static_assert(code_of(Errc::level_mismatch) == RINGTRAP_E_LEVEL_MISMATCH);
static_assert(code_of(Errc::malformed_public_key) == RINGTRAP_E_MALFORMED_PUBLIC_KEY);
static_assert(code_of(Errc::key_mismatch) == RINGTRAP_E_KEY_MISMATCH);
static_assert(code_of(Errc::signing_failed) == RINGTRAP_E_SIGNING_FAILED);
static_assert(code_of(Errc::entropy_unavailable) == RINGTRAP_E_ENTROPY_UNAVAILABLE);
static_assert(code_of(Errc::malformed_secret_key) == RINGTRAP_E_MALFORMED_SECRET_KEY);
static_assert(code_of(Errc::malformed_signature) == RINGTRAP_E_MALFORMED_SIGNATURE);

// No C++ exception may cross the C boundary.
template <typename Fn>
std::int32_t guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const Error& e) {
        return code_of(e.code());
    } catch (...) {
        return RINGTRAP_E_INTERNAL;
    }
}

// A pointer with its length: null is allowed for an empty array only.
bool readable(const void* p, std::size_t len) noexcept { return p != nullptr || len == 0; }

std::span<const std::uint8_t> bytes(const unsigned char* p, std::size_t len) noexcept {
    return p == nullptr ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(p, len);
}

std::optional<Sizes> level_sizes(std::int32_t level) noexcept {
    const std::optional<Level> named = level_from_int(level);
    if (!named) return std::nullopt;
    return sizes(*named);
}

}  // namespace
}  // namespace ringtrap

using namespace ringtrap;

extern "C" {

const char* ringtrap_version(void) { return version(); }

const char* ringtrap_error_message(std::int32_t code) {
    switch (code) {
        case RINGTRAP_OK: return "success";
        case RINGTRAP_E_BAD_LEVEL: return "not a level (S128, S256, 128 or 256)";
        case RINGTRAP_E_BAD_PUBLIC_KEY_SIZE: return "the public key's length matches no level";
        case RINGTRAP_E_BAD_SECRET_KEY_SIZE: return "the secret key's length matches no level";
        case RINGTRAP_E_BAD_SIGNATURE_SIZE: return "the signature's length is not that of the key's level";
        case RINGTRAP_E_LEVEL_MISMATCH: return "the secret key and the public key are of different levels";
        case RINGTRAP_E_MALFORMED_PUBLIC_KEY: return "not a well-formed public key";
        case RINGTRAP_E_KEY_MISMATCH: return "the secret key does not belong to the public key";
        case RINGTRAP_E_SIGNING_FAILED: return "the fresh signature did not verify; it was discarded";
        case RINGTRAP_E_ENTROPY_UNAVAILABLE: return "the operating system supplied no entropy";
        case RINGTRAP_E_MALFORMED_SECRET_KEY: return "not a well-formed secret key";
        case RINGTRAP_E_MALFORMED_SIGNATURE: return "not a canonical signature of its level";
        case RINGTRAP_E_INVALID_ARGUMENT: return "invalid argument (a null pointer or too small an array)";
        case RINGTRAP_E_INTERNAL: return "internal error (out of memory)";
        default: return "unknown error code";
    }
}

std::int32_t ringtrap_sizes(std::int32_t level, std::size_t* public_key, std::size_t* secret_key, std::size_t* signature) {
    if (public_key == nullptr || secret_key == nullptr || signature == nullptr) return RINGTRAP_E_INVALID_ARGUMENT;
    const std::optional<Sizes> s = level_sizes(level);
    if (!s) return RINGTRAP_E_BAD_LEVEL;
    *public_key = s->public_key;
    *secret_key = s->secret_key;
    *signature = s->signature;
    return RINGTRAP_OK;
}

std::int32_t ringtrap_level_of(std::int32_t kind, std::size_t size, std::int32_t* level) {
    if (level == nullptr) return RINGTRAP_E_INVALID_ARGUMENT;
    std::optional<Level> found;
    std::int32_t none = RINGTRAP_OK;
    switch (kind) {
        case RINGTRAP_PUBLIC_KEY: found = level_of_public_key_size(size), none = RINGTRAP_E_BAD_PUBLIC_KEY_SIZE; break;
        case RINGTRAP_SECRET_KEY: found = level_of_secret_key_size(size), none = RINGTRAP_E_BAD_SECRET_KEY_SIZE; break;
        case RINGTRAP_SIGNATURE: found = level_of_signature_size(size), none = RINGTRAP_E_BAD_SIGNATURE_SIZE; break;
        default: return RINGTRAP_E_INVALID_ARGUMENT;
    }
    if (!found) return none;
    *level = static_cast<std::int32_t>(*found);
    return RINGTRAP_OK;
}

std::int32_t ringtrap_parameters(std::int32_t level, struct ringtrap_params* out, std::size_t size) {
    if (out == nullptr || size != sizeof(struct ringtrap_params)) return RINGTRAP_E_INVALID_ARGUMENT;
    const std::optional<Level> named = level_from_int(level);
    if (!named) return RINGTRAP_E_BAD_LEVEL;
    return guarded([&] {
        const Parameters p = parameters(*named);
        struct ringtrap_params c {};
        c.n = p.n;
        c.q = p.q;
        c.k = p.k;
        c.gadget_base = p.gadget_base;
        c.trapdoor_sigma = p.trapdoor_sigma;
        c.gadget_sigma = p.gadget_sigma;
        c.signature_sigma = p.signature_sigma;
        c.bound_squared = p.bound_squared;
        c.level = level;
        c.key_independent = p.key_independent ? 1 : 0;
        *out = c;
        return RINGTRAP_OK;
    });
}

std::int32_t ringtrap_keygen(std::int32_t level, unsigned char* pk, std::size_t pk_len, unsigned char* sk,
                             std::size_t sk_len) {
    const std::optional<Level> named = level_from_int(level);
    if (!named) return RINGTRAP_E_BAD_LEVEL;
    if (pk == nullptr || sk == nullptr) return RINGTRAP_E_INVALID_ARGUMENT;
    const Sizes s = sizes(*named);
    if (pk_len < s.public_key) return RINGTRAP_E_BAD_PUBLIC_KEY_SIZE;
    if (sk_len < s.secret_key) return RINGTRAP_E_BAD_SECRET_KEY_SIZE;
    return guarded([&] {
        // The key pair's secret bytes are wiped when `kp` goes.
        const KeyPair kp = generate_keypair(*named);
        std::memcpy(pk, kp.public_key.data(), kp.public_key.size());
        std::memcpy(sk, kp.secret_key.data(), kp.secret_key.size());
        return RINGTRAP_OK;
    });
}

std::int32_t ringtrap_signer_new(const unsigned char* sk, std::size_t sk_len, const unsigned char* pk,
                                 std::size_t pk_len, ringtrap_signer** out) {
    if (out == nullptr || sk == nullptr || pk == nullptr) return RINGTRAP_E_INVALID_ARGUMENT;
    return guarded([&] {
        *out = new ringtrap_signer{SigningKey::from_bytes(bytes(sk, sk_len), bytes(pk, pk_len))};
        return RINGTRAP_OK;
    });
}

std::int32_t ringtrap_signer_sign(const ringtrap_signer* signer, const unsigned char* m, std::size_t mlen,
                                  unsigned char* sig, std::size_t sig_cap, std::size_t* sig_len) {
    if (signer == nullptr || sig == nullptr || sig_len == nullptr || !readable(m, mlen)) return RINGTRAP_E_INVALID_ARGUMENT;
    return guarded([&] {
        if (sig_cap < sizes(signer->key.level()).signature) return RINGTRAP_E_BAD_SIGNATURE_SIZE;
        const Bytes s = signer->key.sign(bytes(m, mlen));
        std::memcpy(sig, s.data(), s.size());
        *sig_len = s.size();
        return RINGTRAP_OK;
    });
}

void ringtrap_signer_free(ringtrap_signer* signer) { delete signer; }

std::int32_t ringtrap_verifier_new(const unsigned char* pk, std::size_t pk_len, ringtrap_verifier** out) {
    if (out == nullptr || pk == nullptr) return RINGTRAP_E_INVALID_ARGUMENT;
    return guarded([&] {
        *out = new ringtrap_verifier{VerifyingKey::from_bytes(bytes(pk, pk_len))};
        return RINGTRAP_OK;
    });
}

std::int32_t ringtrap_verifier_verify(const ringtrap_verifier* verifier, const unsigned char* sig, std::size_t sig_len,
                                      const unsigned char* m, std::size_t mlen, std::int32_t* valid) {
    if (verifier == nullptr || sig == nullptr || valid == nullptr || !readable(m, mlen)) return RINGTRAP_E_INVALID_ARGUMENT;
    return guarded([&] {
        const bool ok = verifier->key.verify(bytes(sig, sig_len), bytes(m, mlen));
        *valid = ok ? 1 : 0;
        return RINGTRAP_OK;
    });
}

void ringtrap_verifier_free(ringtrap_verifier* verifier) { delete verifier; }

std::int32_t ringtrap_verify(const unsigned char* pk, std::size_t pk_len, const unsigned char* sig, std::size_t sig_len,
                             const unsigned char* m, std::size_t mlen, std::int32_t* valid) {
    if (pk == nullptr || sig == nullptr || valid == nullptr || !readable(m, mlen)) return RINGTRAP_E_INVALID_ARGUMENT;
    return guarded([&] {
        const bool ok = verify(bytes(pk, pk_len), bytes(sig, sig_len), bytes(m, mlen));
        *valid = ok ? 1 : 0;
        return RINGTRAP_OK;
    });
}

std::int32_t ringtrap_decode_signature(const unsigned char* sig, std::size_t sig_len, std::int64_t* out, std::size_t cap,
                                       std::size_t* count) {
    if (sig == nullptr || count == nullptr || (out == nullptr && cap != 0)) return RINGTRAP_E_INVALID_ARGUMENT;
    const std::optional<Level> level = level_of_signature_size(sig_len);
    if (!level) return RINGTRAP_E_BAD_SIGNATURE_SIZE;
    return guarded([&] {
        const Parameters p = parameters(*level);
        const auto needed = static_cast<std::size_t>((p.k + 2) * p.n);
        if (out == nullptr) {
            *count = needed;
            return RINGTRAP_OK;
        }
        if (cap < needed) return RINGTRAP_E_INVALID_ARGUMENT;
        const std::vector<std::int64_t> x = decode_signature(bytes(sig, sig_len));
        if (x.size() > cap) return RINGTRAP_E_INTERNAL;
        std::memcpy(out, x.data(), x.size() * sizeof(std::int64_t));
        *count = x.size();
        return RINGTRAP_OK;
    });
}

}  // extern "C"
