// The byte-level interface: packs and unpacks keys and signatures and calls the
// scheme on the selected parameter set.
#include "sig_api.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "codec.h"
#include "ringtrap.h"
#include "scheme_core.h"
#include "secret.h"
#include "util.h"

namespace ringtrap {
namespace {

// The key pair of the most recent sig_keygen, prepared for signing, with the
// byte encoding of its secret key so that signing with that key skips decoding
// and preparing it again. Immutable once made; a signer holds its own
// reference, so sig_forget or a new sig_keygen never pulls it from under a
// signature in progress. Wiped, public matrix included, when the last
// reference goes.
struct CachedPair {
    core::PublicKey pub;
    core::SecretKey sec;
    SecretBuffer<unsigned char> secret_bytes;

    CachedPair() = default;
    CachedPair(const CachedPair&) = delete;
    CachedPair& operator=(const CachedPair&) = delete;
    ~CachedPair() {
        secure_zero(pub.a.data(), pub.a.size() * sizeof(std::int64_t));
        secure_zero(pub.a_ntt.data(), pub.a_ntt.size() * sizeof(std::int32_t));
    }
};

// The last key pair of a key-independent level (S128, S256), prepared through
// the C++ API, with its secret key's bytes for recognising it. Immutable once
// made and shared with signers like CachedPair.
struct CachedKiPair {
    SigningKey signer;
    Bytes public_key;
    SecretBuffer<unsigned char> secret_bytes;
};

// The byte interface's process-wide state, guarded by `mutex`: the selected
// level, the cached key pair and the record `_a` refers to. Held only for
// short sections, never while drawing.
//
// The process-wide parameters describe the original sets only. Selecting S128
// or S256 records the level here instead; it stays selected until a set is
// selected through parameter_init again (directly or by sig_select_level),
// which the generation count tells.
struct ByteState {
    std::mutex mutex;
    mat_poly_R record;                         // the public row `_a` points at after sig_keygen
    std::shared_ptr<const CachedPair> cached;  // null before the first sig_keygen and after sig_forget
    std::optional<Level> ki_level;             // S128 or S256 when selected last
    std::uint64_t ki_generation = 0;           // parameter_generation() when it was selected
    std::shared_ptr<const CachedKiPair> ki_cached;
};

ByteState& byte_state() {
    static ByteState state;
    return state;
}

// Signature coefficients between the scheme and the bytes, kept per thread
// so that signing does not allocate them each time.
std::vector<std::int64_t>& row_buffer() {
    thread_local std::vector<std::int64_t> x;
    return x;
}

// No C++ exception may cross the C boundary: an allocation failure or any other
// internal error becomes the function's failure result instead.
template <typename Fn>
std::int32_t guarded(std::int32_t on_error, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return on_error;
    }
}

// The key-independent level selected, if it is the latest selection; with the
// lock held.
std::optional<Level> ki_level_locked(const ByteState& st) {
    if (st.ki_level && st.ki_generation == parameter_generation()) return st.ki_level;
    return std::nullopt;
}

const ParamSet* selected_level() {
    ByteState& st = byte_state();
    const std::lock_guard<std::mutex> lock(st.mutex);
    return ki_level_locked(st) ? nullptr : current_param_set();
}

std::optional<Level> selected_ki_level() {
    ByteState& st = byte_state();
    const std::lock_guard<std::mutex> lock(st.mutex);
    return ki_level_locked(st);
}

// Drops the cached pairs and the record; with the lock held.
void forget_locked(ByteState& st) noexcept {
    st.cached.reset();
    st.ki_cached.reset();
    if (_a == &st.record) _a = nullptr;
    st.record = mat_poly_R{};
}

std::int32_t select_level(std::int32_t level) {
    ByteState& st = byte_state();
    const std::lock_guard<std::mutex> lock(st.mutex);
    const std::optional<Level> named = level_from_int(level);
    if (named && is_key_independent(*named)) {
        st.ki_level = named;
        st.ki_generation = parameter_generation();
        return 0;
    }
    return parameter_init(level) ? 0 : -1;
}

// ---- The key-independent levels, through the C++ API ----------------------

std::int32_t ki_keygen_bytes(Level level, unsigned char* pk, unsigned char* sk) {
    if (pk == nullptr || sk == nullptr) return -1;
    ByteState& st = byte_state();
    {
        const std::lock_guard<std::mutex> lock(st.mutex);
        forget_locked(st);  // two prepared trapdoors never coexist
    }
    KeyPair kp = generate_keypair(level);
    std::memcpy(pk, kp.public_key.data(), kp.public_key.size());
    std::memcpy(sk, kp.secret_key.data(), kp.secret_key.size());
    SecretBuffer<unsigned char> secret(kp.secret_key.size());
    std::memcpy(secret.data(), kp.secret_key.data(), secret.size());
    auto pair = std::make_shared<const CachedKiPair>(
        CachedKiPair{SigningKey::from_bytes(kp.secret_key, kp.public_key), std::move(kp.public_key), std::move(secret)});
    const std::lock_guard<std::mutex> lock(st.mutex);
    st.ki_cached = std::move(pair);
    return 0;
}

std::int32_t ki_sign_bytes(Level level, const unsigned char* sk, const unsigned char* m, std::uint64_t mlen,
                           unsigned char* sig, std::uint64_t* siglen) {
    if (sk == nullptr || sig == nullptr || siglen == nullptr || (m == nullptr && mlen != 0)) return -1;
    const Sizes size = sizes(level);
    std::shared_ptr<const CachedKiPair> cached;
    {
        ByteState& st = byte_state();
        const std::lock_guard<std::mutex> lock(st.mutex);
        cached = st.ki_cached;
    }
    if (!cached || cached->signer.level() != level) {
        std::memset(sig, 0, size.signature);
        return -1;
    }
    const std::span<const std::uint8_t> message(m, static_cast<std::size_t>(mlen));
    Bytes out;
    try {
        if (equal_bytes_ct(sk, cached->secret_bytes.data(), cached->secret_bytes.size())) {
            out = cached->signer.sign(message);
        } else {
            // Any other secret key is loaded against the kept public key and
            // refused unless it belongs to it.
            out = SigningKey::from_bytes(std::span(sk, size.secret_key), cached->public_key).sign(message);
        }
    } catch (const Error&) {
        std::memset(sig, 0, size.signature);
        return -2;
    }
    std::memcpy(sig, out.data(), out.size());
    *siglen = out.size();
    return 0;
}

std::int32_t ki_verf_bytes(Level level, const unsigned char* pk, const unsigned char* sig, std::uint64_t siglen,
                           const unsigned char* m, std::uint64_t mlen) {
    const Sizes size = sizes(level);
    // Any other length is not a signature of this level; nothing past siglen is read.
    if (pk == nullptr || sig == nullptr || (m == nullptr && mlen != 0) || siglen != size.signature) return 0;
    try {
        return verify(std::span(pk, size.public_key), std::span(sig, size.signature),
                      std::span(m, static_cast<std::size_t>(mlen)))
                   ? 1
                   : 0;
    } catch (const Error&) {
        return 0;
    }
}

std::int32_t keygen_bytes(unsigned char* pk, unsigned char* sk) {
    if (pk == nullptr || sk == nullptr) return -1;
    ByteState& st = byte_state();
    const ParamSet* p = nullptr;
    {
        // The kept trapdoor is about to be replaced: release it first, so that
        // two prepared trapdoors never coexist.
        const std::lock_guard<std::mutex> lock(st.mutex);
        p = current_param_set();
        if (p == nullptr) return -1;
        forget_locked(st);
    }
    auto pair = std::make_shared<CachedPair>();
    {
        DrawLock lock;
        core::keygen(*p, pair->pub, pair->sec);
    }
    core::encode_key_pair(*p, pair->pub, pair->sec, pk, sk);
    pair->secret_bytes = SecretBuffer<unsigned char>(p->secret_key_bytes());
    std::memcpy(pair->secret_bytes.data(), sk, pair->secret_bytes.size());
    mat_poly_R record = make_row(pair->pub.a.data(), p->k + 2, p->n);

    const std::lock_guard<std::mutex> lock(st.mutex);
    st.record = std::move(record);
    st.cached = std::move(pair);
    _a = &st.record;
    return 0;
}

std::int32_t sign_bytes(const unsigned char* sk, const unsigned char* m, std::uint64_t mlen, unsigned char* sig,
                        std::uint64_t* siglen) {
    if (sk == nullptr || sig == nullptr || siglen == nullptr || (m == nullptr && mlen != 0)) return -1;
    ByteState& st = byte_state();
    const ParamSet* p = nullptr;
    std::shared_ptr<const CachedPair> cached;
    core::PublicKey other;
    const core::PublicKey* pub = nullptr;
    {
        const std::lock_guard<std::mutex> lock(st.mutex);
        p = current_param_set();
        if (p == nullptr) return -1;
        cached = st.cached;
        // Without a key pair from this process there is no public matrix to sign
        // with; one of another level cannot be used either. The public matrix
        // is the one `_a` refers to: normally that of the last sig_keygen
        // (already prepared); a caller may point `_a` at another row.
        if (_a != nullptr && _a == &st.record && cached && cached->pub.params == p) {
            pub = &cached->pub;
        } else if (_a != nullptr && _a != &st.record && is_row(*_a, p->k + 2, p->n)) {
            other = core::make_public_key(*p, flatten_row(*_a));
            pub = &other;
        }
    }
    const std::size_t sig_bytes = p->signature_bytes();
    if (pub == nullptr) {
        std::memset(sig, 0, sig_bytes);
        return -1;
    }
    // The secret key of the last sig_keygen is already prepared; any other
    // is decoded and prepared here (and then fails the check below).
    const core::SecretKey* sec = nullptr;
    core::SecretKey other_secret;
    if (cached && cached->sec.params == p && cached->secret_bytes.size() == p->secret_key_bytes() &&
        equal_bytes_ct(sk, cached->secret_bytes.data(), cached->secret_bytes.size())) {
        sec = &cached->sec;
    } else {
        try {
            other_secret = core::decode_secret_key_ntt(*p, sk);
        } catch (const Error&) {
            // Not a key key generation can make, so not that of the key pair.
            std::memset(sig, 0, sig_bytes);
            return -2;
        }
        sec = &other_secret;
    }

    std::vector<std::int64_t>& x = row_buffer();
    x.resize(static_cast<std::size_t>((p->k + 2) * p->n));
    core::SignSession session(*pub, *sec);
    {
        DrawLock lock;
        session.draw(m, mlen);
    }
    // A secret key from another key pair yields a signature that verifies under
    // no key; so does a fault during signing. The session checks it before it
    // is handed out.
    if (!session.finish(x.data())) {
        std::memset(sig, 0, sig_bytes);
        return -2;
    }
    core::encode_row(x.data(), x.size(), sig);
    *siglen = sig_bytes;
    return 0;
}

std::int32_t verf_bytes(const unsigned char* pk, const unsigned char* sig, std::uint64_t siglen, const unsigned char* m,
                        std::uint64_t mlen) {
    const ParamSet* p = selected_level();
    if (p == nullptr || pk == nullptr || sig == nullptr || (m == nullptr && mlen != 0)) return 0;
    // Any other length is not a signature of this level; nothing past siglen is read.
    if (siglen != p->signature_bytes()) return 0;
    return core::verify_bytes(*p, pk, sig, m, mlen) == core::Verdict::valid ? 1 : 0;
}

std::uint64_t size_at_selected_level(std::size_t (ParamSet::*bytes)() const, std::size_t Sizes::*field) {
    if (const std::optional<Level> level = selected_ki_level()) return sizes(*level).*field;
    const ParamSet* p = selected_level();
    return p ? (p->*bytes)() : 0;
}

}  // namespace
}  // namespace ringtrap

int32_t sig_select_level(int32_t level) {
    return ringtrap::guarded(-1, [&] { return ringtrap::select_level(level); });
}

void sig_forget(void) {
    ringtrap::ByteState& st = ringtrap::byte_state();
    const std::lock_guard<std::mutex> lock(st.mutex);
    ringtrap::forget_locked(st);
}

int32_t sig_keygen(unsigned char* pk, unsigned char* sk) {
    return ringtrap::guarded(-1, [&] {
        if (const auto level = ringtrap::selected_ki_level()) return ringtrap::ki_keygen_bytes(*level, pk, sk);
        return ringtrap::keygen_bytes(pk, sk);
    });
}

int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen) {
    if (siglen != nullptr) *siglen = 0;
    const int32_t rc = ringtrap::guarded(-3, [&] {
        if (const auto level = ringtrap::selected_ki_level()) return ringtrap::ki_sign_bytes(*level, sk, m, mlen, sig, siglen);
        return ringtrap::sign_bytes(sk, m, mlen, sig, siglen);
    });
    if (rc == -3 && sig != nullptr) {
        // Leave no partial signature behind.
        std::uint64_t size = 0;
        static_cast<void>(ringtrap::guarded(0, [&] {
            size = sig_signature_bytes();
            return 0;
        }));
        std::memset(sig, 0, static_cast<std::size_t>(size));
    }
    return rc;
}

int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen, const unsigned char* m, uint64_t mlen) {
    return ringtrap::guarded(0, [&] {
        if (const auto level = ringtrap::selected_ki_level())
            return ringtrap::ki_verf_bytes(*level, pk, sig, siglen, m, mlen);
        return ringtrap::verf_bytes(pk, sig, siglen, m, mlen);
    });
}

uint64_t sig_public_key_bytes(void) {
    return ringtrap::size_at_selected_level(&ringtrap::ParamSet::public_key_bytes, &ringtrap::Sizes::public_key);
}
uint64_t sig_secret_key_bytes(void) {
    return ringtrap::size_at_selected_level(&ringtrap::ParamSet::secret_key_bytes, &ringtrap::Sizes::secret_key);
}
uint64_t sig_signature_bytes(void) {
    return ringtrap::size_at_selected_level(&ringtrap::ParamSet::signature_bytes, &ringtrap::Sizes::signature);
}
