// The C++ API: length checks, key preparation and the shared draw lock around
// the scheme engine. Nothing here touches the process-wide parameters.
#include "ringtrap.h"

#include <string>

#include "RandomGenerator.h"
#include "codec.h"
#include "scheme_core.h"

#ifndef RINGTRAP_VERSION_STRING
#define RINGTRAP_VERSION_STRING "0.0.0"
#endif

namespace ringtrap {

namespace detail {
struct PreparedPublicKey {
    Level level;
    core::PublicKey key;
};
struct PreparedSecretKey {
    Level level;
    core::SecretKey key;
};
}  // namespace detail

namespace {

const ParamSet& params_of(Level level) { return level == Level::L256 ? kParams256 : kParams128; }

std::string level_name(Level level) { return std::to_string(static_cast<int>(level)); }

std::optional<Level> level_matching(std::size_t size, std::size_t (ParamSet::*bytes)() const) {
    if (size == (kParams128.*bytes)()) return Level::L128;
    if (size == (kParams256.*bytes)()) return Level::L256;
    return std::nullopt;
}

std::shared_ptr<const detail::PreparedPublicKey> prepare_public(std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_public_key_size(public_key.size());
    if (!level)
        throw Error(Errc::bad_public_key_size, "public key has " + std::to_string(public_key.size()) +
                                                   " bytes, which matches no level (53248 or 122880)");
    const ParamSet& p = params_of(*level);
    std::vector<std::int64_t> coeffs;
    if (!core::decode_public_key(p, public_key.data(), coeffs))
        throw Error(Errc::malformed_public_key, "not a well-formed level-" + level_name(*level) + " public key");
    return std::make_shared<const detail::PreparedPublicKey>(detail::PreparedPublicKey{*level, core::make_public_key(p, std::move(coeffs))});
}

// Signature coefficients between the scheme and the bytes, kept per thread so
// that signing and verifying do not allocate them each time.
std::vector<std::int64_t>& row_buffer() {
    thread_local std::vector<std::int64_t> x;
    return x;
}

void check_signature_size(Level level, std::size_t size) {
    if (size != params_of(level).signature_bytes())
        throw Error(Errc::bad_signature_size, "signature has " + std::to_string(size) + " bytes; a level-" +
                                                  level_name(level) + " signature has " +
                                                  std::to_string(params_of(level).signature_bytes()));
}

// The prepared data of a key object; a moved-from object has none.
template <typename T>
const T& live(const std::shared_ptr<const T>& impl) {
    if (!impl) throw std::logic_error("ringtrap: use of a moved-from key object");
    return *impl;
}

}  // namespace

const char* version() noexcept { return RINGTRAP_VERSION_STRING; }

Sizes sizes(Level level) noexcept {
    if (level != Level::L128 && level != Level::L256) return Sizes{0, 0, 0};
    const ParamSet& p = params_of(level);
    return Sizes{p.public_key_bytes(), p.secret_key_bytes(), p.signature_bytes()};
}

std::optional<Level> level_of_public_key_size(std::size_t size) noexcept { return level_matching(size, &ParamSet::public_key_bytes); }
std::optional<Level> level_of_secret_key_size(std::size_t size) noexcept { return level_matching(size, &ParamSet::secret_key_bytes); }
std::optional<Level> level_of_signature_size(std::size_t size) noexcept { return level_matching(size, &ParamSet::signature_bytes); }

std::optional<Level> level_from_int(int level) noexcept {
    if (level == 128) return Level::L128;
    if (level == 256) return Level::L256;
    return std::nullopt;
}

KeyPair generate_keypair(Level level) {
    if (level != Level::L128 && level != Level::L256) throw Error(Errc::bad_level, "unknown level");
    const ParamSet& p = params_of(level);
    core::PublicKey pub;
    core::SecretKey sec;
    {
        DrawLock lock;
        core::keygen(p, pub, sec);
    }
    KeyPair out{level, Bytes(p.public_key_bytes()), SecretBytes(p.secret_key_bytes())};
    core::encode_key_pair(p, pub, sec, out.public_key.data(), out.secret_key.data());
    return out;
}

VerifyingKey VerifyingKey::from_bytes(std::span<const std::uint8_t> public_key) { return VerifyingKey(prepare_public(public_key)); }

Level VerifyingKey::level() const { return live(impl_).level; }

bool VerifyingKey::verify(std::span<const std::uint8_t> signature, std::span<const std::uint8_t> message) const {
    const detail::PreparedPublicKey& pub = live(impl_);
    check_signature_size(pub.level, signature.size());
    std::vector<std::int64_t>& x = row_buffer();
    x.resize(signature.size() / 4);
    if (!core::decode_signature(*pub.key.params, signature.data(), x.data())) return false;
    return core::verify(pub.key, x.data(), message.data(), message.size());
}

Bytes VerifyingKey::to_bytes() const {
    const detail::PreparedPublicKey& pub = live(impl_);
    Bytes out(pub.key.a.size() * 4);
    core::encode_row(pub.key.a.data(), pub.key.a.size(), out.data());
    return out;
}

SigningKey SigningKey::from_bytes(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_secret_key_size(secret_key.size());
    if (!level)
        throw Error(Errc::bad_secret_key_size, "secret key has " + std::to_string(secret_key.size()) +
                                                   " bytes, which matches no level (98304 or 229376)");
    const std::optional<Level> pk_level = level_of_public_key_size(public_key.size());
    if (!pk_level)
        throw Error(Errc::bad_public_key_size, "public key has " + std::to_string(public_key.size()) +
                                                   " bytes, which matches no level (53248 or 122880)");
    if (*pk_level != *level)
        throw Error(Errc::level_mismatch, "the secret key is of level " + level_name(*level) +
                                              " but the public key of level " + level_name(*pk_level));
    VerifyingKey pub(prepare_public(public_key));
    auto sec = std::make_shared<detail::PreparedSecretKey>(
        detail::PreparedSecretKey{*level, core::decode_secret_key(params_of(*level), secret_key.data())});
    if (!core::key_pair_matches(pub.impl_->key, sec->key))
        throw Error(Errc::key_mismatch, "the secret key does not belong to the public key");
    return SigningKey(std::move(sec), std::move(pub));
}

Level SigningKey::level() const { return live(impl_).level; }

Bytes SigningKey::sign(std::span<const std::uint8_t> message) const {
    const detail::PreparedSecretKey& sec = live(impl_);
    const detail::PreparedPublicKey& pub = live(public_.impl_);
    const ParamSet& p = params_of(sec.level);
    std::vector<std::int64_t>& x = row_buffer();
    x.resize(static_cast<std::size_t>((p.k + 2) * p.n));
    {
        DrawLock lock;
        core::sign(pub.key, sec.key, message.data(), message.size(), x.data());
    }
    // The key pair was checked when it was loaded; a failure here means a fault
    // during signing, and such a signature must not leave the library.
    if (!core::verify(pub.key, x.data(), message.data(), message.size()))
        throw Error(Errc::signing_failed, "the fresh signature did not verify; it was discarded");
    Bytes out(p.signature_bytes());
    core::encode_row(x.data(), x.size(), out.data());
    return out;
}

Bytes sign(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key,
           std::span<const std::uint8_t> message) {
    return SigningKey::from_bytes(secret_key, public_key).sign(message);
}

bool verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> signature,
            std::span<const std::uint8_t> message) {
    return VerifyingKey::from_bytes(public_key).verify(signature, message);
}

}  // namespace ringtrap
