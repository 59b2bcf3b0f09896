// The C++ API: length checks, key preparation and the shared draw lock around
// the two engines (scheme_core for the original sets 128 and 256, ki_scheme
// for the key-independent sets S128 and S256). Nothing here touches the
// process-wide parameters.
#include "ringtrap.h"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include "RandomGenerator.h"
#include "codec.h"
#include "ct.h"
#include "ki_scheme.h"
#include "scheme_core.h"
#include "secret.h"
#include "sig_compress.h"

#ifndef RINGTRAP_VERSION_STRING
#define RINGTRAP_VERSION_STRING "0.0.0"
#endif

namespace ringtrap {

namespace {

// One row per level: exactly one of the two parameter records is set.
struct LevelInfo {
    Level level;
    const char* name;
    const ParamSet* original;
    const KiParamSet* ki;

    Sizes sizes() const noexcept {
        if (original != nullptr)
            return Sizes{original->public_key_bytes(), original->secret_key_bytes(), original->signature_bytes()};
        return Sizes{ki->public_key_bytes(), ki->secret_key_bytes(), ki->signature_bytes};
    }
};

constexpr LevelInfo kLevels[] = {
    {Level::S128, "S128", nullptr, &kParamsS128},
    {Level::S256, "S256", nullptr, &kParamsS256},
    {Level::L128, "128", &kParams128, nullptr},
    {Level::L256, "256", &kParams256, nullptr},
};

const LevelInfo* find_level(Level level) noexcept {
    for (const LevelInfo& info : kLevels)
        if (info.level == level) return &info;
    return nullptr;
}

const LevelInfo& info_of(Level level) {
    const LevelInfo* info = find_level(level);
    if (info == nullptr) throw Error(Errc::bad_level, "not a level");
    return *info;
}

std::optional<Level> level_matching(std::size_t size, std::size_t Sizes::*field) noexcept {
    for (const LevelInfo& info : kLevels)
        if (info.sizes().*field == size) return info.level;
    return std::nullopt;
}

// "45056, 106496, 53248 or 122880": the sizes of one kind of object.
std::string size_list(std::size_t Sizes::*field) {
    std::string out;
    for (std::size_t i = 0; i < std::size(kLevels); ++i) {
        if (i > 0) out += i + 1 == std::size(kLevels) ? " or " : ", ";
        out += std::to_string(kLevels[i].sizes().*field);
    }
    return out;
}

std::string level_text(Level level) { return std::string("level ") + level_name(level); }

}  // namespace

namespace detail {
struct PreparedPublicKey {
    Level level;
    core::PublicKey key;   // levels 128 and 256: the transform only
    ki::PublicKey ki_key;  // S128 and S256
    Bytes bytes;           // the key as given, which decoding found canonical
};
struct PreparedSecretKey {
    Level level;
    core::SecretKey key;                    // levels 128 and 256
    std::optional<ki::SigningKey> ki_key;  // S128 and S256
};
}  // namespace detail

namespace {

// Decodes (k+2) n public-key coefficients of a key-independent set: every
// coefficient canonical and centred, entry 0 the constant 1.
ki::PublicKey decode_ki_public_key(const KiParamSet& p, std::span<const std::uint8_t> bytes) {
    std::vector<std::int64_t> coeffs(static_cast<std::size_t>(p.m()));
    bool ok = core::decode_row_checked(bytes.data(), coeffs.size(), (p.q - 1) / 2, coeffs.data());
    ok = ok && coeffs[0] == 1;
    for (std::int64_t j = 1; ok && j < p.n; ++j) ok = coeffs[static_cast<std::size_t>(j)] == 0;
    if (!ok) throw Error(Errc::malformed_public_key, std::string("not a well-formed level-") + p.name + " public key");
    return ki::make_public_key(p, std::move(coeffs));
}

Level public_key_level(std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_public_key_size(public_key.size());
    if (!level)
        throw Error(Errc::bad_public_key_size, "public key has " + std::to_string(public_key.size()) +
                                                   " bytes, which matches no level (" + size_list(&Sizes::public_key) + ")");
    return *level;
}

[[noreturn]] void throw_malformed(Level level) {
    throw Error(Errc::malformed_public_key, "not a well-formed " + level_text(level) + " public key");
}

// The public key's transform, straight from its bytes (levels 128 and 256).
core::PublicKey decode_public(Level level, std::span<const std::uint8_t> public_key) {
    core::PublicKey pk;
    if (!core::decode_public_key_for_verify(*info_of(level).original, public_key.data(), pk)) throw_malformed(level);
    return pk;
}

std::shared_ptr<const detail::PreparedPublicKey> prepare_public(std::span<const std::uint8_t> public_key) {
    const Level level = public_key_level(public_key);
    auto out = std::make_shared<detail::PreparedPublicKey>();
    out->level = level;
    if (const KiParamSet* p = info_of(level).ki)
        out->ki_key = decode_ki_public_key(*p, public_key);
    else
        out->key = decode_public(level, public_key);
    out->bytes.assign(public_key.begin(), public_key.end());
    return out;
}

// The level both keys share; throws for sizes of no level or of two levels.
Level key_pair_level(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key) {
    const std::optional<Level> level = level_of_secret_key_size(secret_key.size());
    if (!level)
        throw Error(Errc::bad_secret_key_size, "secret key has " + std::to_string(secret_key.size()) +
                                                   " bytes, which matches no level (" + size_list(&Sizes::secret_key) + ")");
    const Level pk_level = public_key_level(public_key);
    if (pk_level != *level)
        throw Error(Errc::level_mismatch, "the secret key is of " + level_text(*level) + " but the public key of " +
                                              level_text(pk_level));
    return *level;
}

[[noreturn]] void throw_key_mismatch() {
    throw Error(Errc::key_mismatch, "the secret key does not belong to the public key");
}

[[noreturn]] void throw_signing_failed() {
    throw Error(Errc::signing_failed, "the fresh signature did not verify; it was discarded");
}

// Signs into x ((k+2) n coefficients) at level 128 or 256, taking the draws
// under the shared lock and checking the result outside it. True when x
// verifies.
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

Bytes encoded(const std::vector<std::int64_t>& x) {
    Bytes out(x.size() * 4);
    core::encode_row(x.data(), x.size(), out.data());
    return out;
}

// Signature coefficients between the scheme and the bytes, kept per thread so
// that signing and verifying do not allocate them each time. Signatures are
// public, so the buffer holds nothing secret once a call returns.
std::vector<std::int64_t>& row_buffer() {
    thread_local std::vector<std::int64_t> x;
    return x;
}

void check_signature_size(Level level, std::size_t size) {
    const std::size_t want = info_of(level).sizes().signature;
    if (size != want)
        throw Error(Errc::bad_signature_size, "signature has " + std::to_string(size) + " bytes; a " + level_text(level) +
                                                  " signature has " + std::to_string(want));
}

// The prepared data of a key object; a moved-from object has none.
template <typename T>
const T& live(const std::shared_ptr<const T>& impl) {
    if (!impl) throw std::logic_error("ringtrap: use of a moved-from key object");
    return *impl;
}

// A stream of words for one operation of a key-independent set, seeded from
// the shared draw source as one unbroken run of it. Its words are secret: the
// annotation lets the valgrind check follow them through the samplers.
WordStream operation_stream() {
    WordStream ws = [] {
        DrawLock lock;
        return WordStream::from_draws();
    }();
    ws.mark_secret();
    return ws;
}

// A fresh signature of a key-independent set in its byte form: the engine
// redraws signatures above the bound; the few that do not fit the fixed
// compressed size are drawn again here (the decision depends only on the
// public signature).
Bytes sign_ki(const ki::SigningKey& key, const ki::PublicKey& pub, std::span<const std::uint8_t> message) {
    const KiParamSet& p = key.params();
    Bytes out(p.signature_bytes);
    WordStream ws = operation_stream();
    for (int attempt = 0; attempt < 64; ++attempt) {
        ki::Signature sig;
        try {
            sig = key.sign(message.data(), message.size(), ws);
        } catch (const std::runtime_error&) {
            // The engine refuses a signature too short to have been perturbed.
            throw Error(Errc::signing_failed, "the fresh signature failed its plausibility check; it was discarded");
        }
        // A fault during signing, or a secret key that does not belong to the
        // public key: such a signature must not leave the library.
        if (sig.x.size() != static_cast<std::size_t>(p.m()) || sig.target.size() != static_cast<std::size_t>(p.n) ||
            !ki::verify_target(pub, sig.x.data(), sig.target.data()))
            throw Error(Errc::signing_failed, "the fresh signature did not verify; it was discarded");
        if (encode_compressed(sig.salt.data(), sig.x.data(), sig.x.size(), static_cast<unsigned>(p.low_bits), out.data(),
                              out.size()))
            return out;
    }
    throw Error(Errc::signing_failed, "no signature fitted the compressed form");
}

}  // namespace

const char* version() noexcept { return RINGTRAP_VERSION_STRING; }

const char* level_name(Level level) noexcept {
    const LevelInfo* info = find_level(level);
    return info != nullptr ? info->name : "?";
}

std::optional<Level> level_from_name(std::string_view name) noexcept {
    for (const LevelInfo& info : kLevels) {
        const std::string_view own = info.name;
        if (name == own) return info.level;
        if (own[0] == 'S' && name.size() == own.size() && name[0] == 's' && name.substr(1) == own.substr(1)) return info.level;
    }
    return std::nullopt;
}

bool is_key_independent(Level level) noexcept {
    const LevelInfo* info = find_level(level);
    return info != nullptr && info->ki != nullptr;
}

Sizes sizes(Level level) noexcept {
    const LevelInfo* info = find_level(level);
    return info != nullptr ? info->sizes() : Sizes{0, 0, 0};
}

std::optional<Level> level_of_public_key_size(std::size_t size) noexcept { return level_matching(size, &Sizes::public_key); }
std::optional<Level> level_of_secret_key_size(std::size_t size) noexcept { return level_matching(size, &Sizes::secret_key); }
std::optional<Level> level_of_signature_size(std::size_t size) noexcept { return level_matching(size, &Sizes::signature); }

std::optional<Level> level_from_int(int level) noexcept {
    for (const LevelInfo& info : kLevels)
        if (static_cast<int>(info.level) == level) return info.level;
    return std::nullopt;
}

Parameters parameters(Level level) {
    const LevelInfo& info = info_of(level);
    if (info.ki != nullptr) {
        const KiParamSet& p = *info.ki;
        return Parameters{level, p.n, p.q, p.k, p.base, static_cast<double>(p.K_T) * ki::kSigmaBin, p.rho, p.s,
                          p.beta_squared, true};
    }
    const ParamSet& p = *info.original;
    // Trapdoor coefficients are rounded Gaussians of width 2 sqrt(n); the
    // gadget sampler works at r; the bound is (1.5 s)^2 (k + 2) n.
    return Parameters{level, p.n, p.q, p.k, 2, 2.0 * std::sqrt(static_cast<double>(p.n)), p.r, p.s,
                      core::norm_bound_squared(p), false};
}

std::vector<std::int64_t> decode_signature(std::span<const std::uint8_t> signature) {
    const std::optional<Level> level = level_of_signature_size(signature.size());
    if (!level)
        throw Error(Errc::bad_signature_size, "signature has " + std::to_string(signature.size()) +
                                                  " bytes, which matches no level (" + size_list(&Sizes::signature) + ")");
    const LevelInfo& info = info_of(*level);
    if (info.ki != nullptr) {
        const KiParamSet& p = *info.ki;
        std::vector<std::int64_t> x(static_cast<std::size_t>(p.m()));
        std::uint8_t salt[kSaltBytes];
        if (!decode_compressed(signature.data(), signature.size(), x.size(), static_cast<unsigned>(p.low_bits), salt, x.data()))
            throw Error(Errc::malformed_signature, "not a canonical " + level_text(*level) + " signature");
        return x;
    }
    const ParamSet& p = *info.original;
    std::vector<std::int64_t> x(static_cast<std::size_t>((p.k + 2) * p.n));
    if (!core::decode_signature(p, signature.data(), x.data()))
        throw Error(Errc::malformed_signature, "not a canonical " + level_text(*level) + " signature");
    return x;
}

KeyPair generate_keypair(Level level) {
    const LevelInfo& info = info_of(level);
    const Sizes size = info.sizes();
    KeyPair out{level, Bytes(size.public_key), SecretBytes(size.secret_key)};
    if (info.ki != nullptr) {
        WordStream ws = operation_stream();
        ki::KeyPair kp = ki::keygen(*info.ki, ws);
        core::encode_row(kp.pk.a.data(), kp.pk.a.size(), out.public_key.data());
        core::encode_row(kp.sk.t.data(), kp.sk.t.size(), out.secret_key.data());
        // The bytes go to the caller, whose handling of them is not ours to check.
        ct::declassify(out.secret_key.data(), out.secret_key.size());
        return out;
    }
    const ParamSet& p = *info.original;
    core::PublicKey pub;
    core::SecretKey sec;
    {
        DrawLock lock;
        core::keygen(p, pub, sec);
    }
    core::encode_key_pair(p, pub, sec, out.public_key.data(), out.secret_key.data());
    return out;
}

VerifyingKey VerifyingKey::from_bytes(std::span<const std::uint8_t> public_key) { return VerifyingKey(prepare_public(public_key)); }

Level VerifyingKey::level() const { return live(impl_).level; }

bool VerifyingKey::verify(std::span<const std::uint8_t> signature, std::span<const std::uint8_t> message) const {
    const detail::PreparedPublicKey& pub = live(impl_);
    check_signature_size(pub.level, signature.size());
    if (const KiParamSet* p = info_of(pub.level).ki) {
        std::vector<std::int64_t>& x = row_buffer();
        x.resize(static_cast<std::size_t>(p->m()));
        std::uint8_t salt[kSaltBytes];
        if (!decode_compressed(signature.data(), signature.size(), x.size(), static_cast<unsigned>(p->low_bits), salt, x.data()))
            return false;
        return ki::verify(pub.ki_key, salt, x.data(), message.data(), message.size());
    }
    return core::verify_signature_bytes(pub.key, signature.data(), message.data(), message.size());
}

Bytes VerifyingKey::to_bytes() const { return live(impl_).bytes; }

SigningKey SigningKey::from_bytes(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key) {
    const Level level = key_pair_level(secret_key, public_key);
    VerifyingKey pub(prepare_public(public_key));
    const LevelInfo& info = info_of(level);
    auto sec = std::make_shared<detail::PreparedSecretKey>();
    sec->level = level;
    if (info.ki != nullptr) {
        const KiParamSet& p = *info.ki;
        ki::SecretKey sk;
        sk.params = &p;
        sk.t = SecretBuffer<std::int64_t>(static_cast<std::size_t>(2 * p.k * p.n));
        // The key's bytes are secret from here on (for the valgrind check);
        // the caller's buffer gets its own state back once it is decoded.
        ct::secret(secret_key.data(), secret_key.size());
        const bool canonical =
            core::decode_row_checked(secret_key.data(), sk.t.size(), ki::trapdoor_coeff_bound(p), sk.t.data());
        ct::declassify(secret_key.data(), secret_key.size());
        // A malformed key is refused: whether it is well formed is all this reveals.
        if (!ct::declassified(canonical) || !ki::check_secret_key(p, sk.t.data()))
            throw Error(Errc::malformed_secret_key, "not a well-formed " + level_text(level) +
                                                        " secret key (coefficients or largest singular value out of range)");
        if (!ki::key_pair_matches(pub.impl_->ki_key, sk)) throw_key_mismatch();
        sec->ki_key.emplace(pub.impl_->ki_key, sk);
    } else {
        sec->key = core::decode_secret_key_ntt(*info.original, secret_key.data());
        if (!core::key_pair_matches(pub.impl_->key, sec->key)) throw_key_mismatch();
    }
    return SigningKey(std::move(sec), std::move(pub));
}

Level SigningKey::level() const { return live(impl_).level; }

Bytes SigningKey::sign(std::span<const std::uint8_t> message) const {
    const detail::PreparedSecretKey& sec = live(impl_);
    const detail::PreparedPublicKey& pub = live(public_.impl_);
    if (sec.ki_key) return sign_ki(*sec.ki_key, pub.ki_key, message);
    std::vector<std::int64_t>& x = row_buffer();
    // The key pair was checked when it was loaded; a failure here means a fault
    // during signing, and such a signature must not leave the library.
    if (!sign_checked(pub.key, sec.key, message, x)) throw_signing_failed();
    return encoded(x);
}

std::vector<std::int64_t> SigningKey::sample_preimage(std::span<const std::int64_t> target) const {
    const detail::PreparedSecretKey& sec = live(impl_);
    if (!sec.ki_key)
        throw Error(Errc::bad_level, "preimage sampling is offered by the key-independent levels only (S128, S256)");
    const KiParamSet& p = sec.ki_key->params();
    if (target.size() != static_cast<std::size_t>(p.n))
        throw std::invalid_argument("sample_preimage: the target must have n = " + std::to_string(p.n) + " coefficients");
    std::vector<std::int64_t> x(static_cast<std::size_t>(p.m()));
    WordStream ws = operation_stream();
    sec.ki_key->sample_preimage(target.data(), x.data(), ws);
    // A preimage is distributed independently of the key: it may leave as it is.
    ct::declassify(x.data(), x.size() * sizeof(std::int64_t));
    return x;
}

Bytes sign(std::span<const std::uint8_t> secret_key, std::span<const std::uint8_t> public_key,
           std::span<const std::uint8_t> message) {
    const Level level = key_pair_level(secret_key, public_key);
    if (is_key_independent(level)) return SigningKey::from_bytes(secret_key, public_key).sign(message);
    // Levels 128 and 256: only what signing needs, the public key's transform
    // (which the check of the fresh signature shares) and the trapdoor's.
    // Whether the keys belong together is settled by that check; the key-pair
    // test runs only when it fails, to tell a mismatched key from a fault.
    const core::PublicKey pk = decode_public(level, public_key);
    const core::SecretKey sk = core::decode_secret_key_ntt(*info_of(level).original, secret_key.data());
    std::vector<std::int64_t>& x = row_buffer();
    if (!sign_checked(pk, sk, message, x)) {
        if (!core::key_pair_matches(pk, sk)) throw_key_mismatch();
        throw_signing_failed();
    }
    return encoded(x);
}

bool verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t> signature,
            std::span<const std::uint8_t> message) {
    const Level level = public_key_level(public_key);
    if (is_key_independent(level)) return VerifyingKey::from_bytes(public_key).verify(signature, message);
    // Levels 128 and 256: the key is decoded and transformed entry by entry
    // alongside the signature, in one pass.
    const ParamSet& p = *info_of(level).original;
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
