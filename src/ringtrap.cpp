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
    core::PublicKey key;  // the transform only
    Bytes bytes;          // the key as given, which decoding found canonical
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

Level public_key_level(std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_public_key_size(public_key.size());
    if (!level)
        throw Error(Errc::bad_public_key_size, "public key has " + std::to_string(public_key.size()) +
                                                   " bytes, which matches no level (53248 or 122880)");
    return *level;
}

[[noreturn]] void throw_malformed(Level level) {
    throw Error(Errc::malformed_public_key, "not a well-formed level-" + level_name(level) + " public key");
}

// The public key's transform, straight from its bytes.
core::PublicKey decode_public(Level level, std::span<const std::uint8_t> public_key) {
    core::PublicKey pk;
    if (!core::decode_public_key_for_verify(params_of(level), public_key.data(), pk)) throw_malformed(level);
    return pk;
}

std::shared_ptr<const detail::PreparedPublicKey> prepare_public(std::span<const std::uint8_t> public_key) {
    const Level level = public_key_level(public_key);
    return std::make_shared<const detail::PreparedPublicKey>(
        detail::PreparedPublicKey{level, decode_public(level, public_key), Bytes(public_key.begin(), public_key.end())});
}

// The level both keys share; throws for sizes of no level or of two levels.
Level key_pair_level(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_secret_key_size(secret_key.size());
    if (!level)
        throw Error(Errc::bad_secret_key_size, "secret key has " + std::to_string(secret_key.size()) +
                                                   " bytes, which matches no level (98304 or 229376)");
    const Level pk_level = public_key_level(public_key);
    if (pk_level != *level)
        throw Error(Errc::level_mismatch, "the secret key is of level " + level_name(*level) +
                                              " but the public key of level " + level_name(pk_level));
    return *level;
}

[[noreturn]] void throw_key_mismatch() {
    throw Error(Errc::key_mismatch, "the secret key does not belong to the public key");
}

[[noreturn]] void throw_signing_failed() {
    throw Error(Errc::signing_failed, "the fresh signature did not verify; it was discarded");
}

// Signs into x ((k+2) n coefficients), taking the draws under the shared
// lock and checking the result outside it. True when x verifies.
bool sign_checked(const core::PublicKey& pk, const core::SecretKey& sk, std::span<const std::uint8_t> message,
                  std::vector<std::int64_t>& x) {
    const ParamSet& p = *pk.params;
    x.resize(static_cast<std::size_t>((p.k + 2) * p.n));
    core::SignSession session(pk, sk);
    {
        DrawLock lock;
        session.draw(message.data(), message.size());
    }
    return session.finish(x.data());
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
    return core::verify_signature_bytes(pub.key, signature.data(), message.data(), message.size());
}

Bytes VerifyingKey::to_bytes() const { return live(impl_).bytes; }

SigningKey SigningKey::from_bytes(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key) {
    const Level level = key_pair_level(secret_key, public_key);
    VerifyingKey pub(prepare_public(public_key));
    auto sec = std::make_shared<detail::PreparedSecretKey>(
        detail::PreparedSecretKey{level, core::decode_secret_key_ntt(params_of(level), secret_key.data())});
    if (!core::key_pair_matches(pub.impl_->key, sec->key)) throw_key_mismatch();
    return SigningKey(std::move(sec), std::move(pub));
}

Level SigningKey::level() const { return live(impl_).level; }

Bytes SigningKey::sign(std::span<const std::uint8_t> message) const {
    const detail::PreparedSecretKey& sec = live(impl_);
    const detail::PreparedPublicKey& pub = live(public_.impl_);
    std::vector<std::int64_t>& x = row_buffer();
    // The key pair was checked when it was loaded; a failure here means a fault
    // during signing, and such a signature must not leave the library.
    if (!sign_checked(pub.key, sec.key, message, x)) throw_signing_failed();
    Bytes out(x.size() * 4);
    core::encode_row(x.data(), x.size(), out.data());
    return out;
}

Bytes sign(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key,
           std::span<const std::uint8_t> message) {
    // Only what signing needs: the public key's transform (which the check of
    // the fresh signature shares) and the trapdoor's. Whether the keys belong
    // together is settled by that check; the key-pair test runs only when it
    // fails, to tell a mismatched key from a fault.
    const Level level = key_pair_level(secret_key, public_key);
    const core::PublicKey pk = decode_public(level, public_key);
    const core::SecretKey sk = core::decode_secret_key_ntt(params_of(level), secret_key.data());
    std::vector<std::int64_t>& x = row_buffer();
    if (!sign_checked(pk, sk, message, x)) {
        if (!core::key_pair_matches(pk, sk)) throw_key_mismatch();
        throw_signing_failed();
    }
    Bytes out(x.size() * 4);
    core::encode_row(x.data(), x.size(), out.data());
    return out;
}

bool verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> signature,
            std::span<const std::uint8_t> message) {
    const Level level = public_key_level(public_key);
    const ParamSet& p = params_of(level);
    if (signature.size() != p.signature_bytes()) {
        if (!core::public_key_bytes_ok(p, public_key.data())) throw_malformed(level);
        check_signature_size(level, signature.size());
    }
    switch (core::verify_bytes(p, public_key.data(), signature.data(), message.data(), message.size())) {
        case core::Verdict::valid: return true;
        case core::Verdict::invalid: return false;
        case core::Verdict::malformed_key: break;
    }
    throw_malformed(level);
}

}  // namespace ringtrap
