// The byte-level interface: packs and unpacks keys and signatures and calls the
// scheme on the selected parameter set.
#include "sig_api.h"

#include <cstring>
#include <memory>
#include <vector>

#include "RandomGenerator.h"
#include "codec.h"
#include "common.h"
#include "scheme_core.h"
#include "util.h"

namespace ringtrap {
namespace {

// The most recent sig_keygen: the record `_a` refers to, its prepared form
// for signing, and the prepared trapdoor with its byte encoding, so that
// signing with that secret key skips decoding and preparing it again.
struct LastKeyPair {
    mat_poly_R record;
    std::unique_ptr<core::PublicKey> prepared;
    std::unique_ptr<core::SecretKey> secret;
    std::vector<unsigned char> secret_bytes;

    void forget_secret() noexcept {
        secure_zero(secret_bytes.data(), secret_bytes.size());
        secret_bytes.clear();
        secret.reset();  // wipes itself
    }
    LastKeyPair() = default;
    LastKeyPair(const LastKeyPair&) = delete;
    LastKeyPair& operator=(const LastKeyPair&) = delete;
    ~LastKeyPair() { forget_secret(); }
};

// Arrays of the byte calls, kept per thread so that signing and verifying
// do not allocate: signatures and public keys, nothing secret.
struct ByteBuffers {
    std::vector<std::int64_t> x;
    core::PublicKey public_key;
};

ByteBuffers& byte_buffers() {
    thread_local ByteBuffers b;
    return b;
}

// Equality of two secret byte strings in time that depends only on len (no
// early exit that would tell how much of a key an attacker has right).
bool equal_bytes_ct(const unsigned char* a, const unsigned char* b, std::size_t len) noexcept {
    std::uint64_t diff = 0;
    std::size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        diff |= x ^ y;
    }
    for (; i < len; ++i) diff |= static_cast<std::uint64_t>(a[i] ^ b[i]);
    return diff == 0;
}

LastKeyPair& last_key_pair() {
    static LastKeyPair state;
    return state;
}

}  // namespace

}  // namespace ringtrap

using namespace ringtrap;

namespace {

// No C++ exception may cross the C boundary: an allocation failure or any other
// internal error becomes the function's failure result instead.
template <typename Fn>
int32_t guarded(int32_t on_error, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return on_error;
    }
}

int32_t keygen_impl(unsigned char* pk, unsigned char* sk);
int32_t sign_impl(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen);
int32_t verf_impl(const unsigned char* pk, const unsigned char* sig, const unsigned char* m, uint64_t mlen);

}  // namespace

int32_t sig_select_level(int32_t level) {
    return guarded(-1, [&] { return parameter_init(level) ? 0 : -1; });
}

int32_t sig_keygen(unsigned char* pk, unsigned char* sk) {
    return guarded(-1, [&] { return keygen_impl(pk, sk); });
}

int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen) {
    if (siglen != nullptr) *siglen = 0;
    const int32_t rc = guarded(-3, [&] { return sign_impl(sk, m, mlen, sig, siglen); });
    if (rc == -3 && sig != nullptr) {
        // Leave no partial signature behind.
        if (const ParamSet* p = current_param_set()) std::memset(sig, 0, p->signature_bytes());
    }
    return rc;
}

int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen, const unsigned char* m, uint64_t mlen) {
    (void)siglen;  // the signature is always read at its full size
    return guarded(0, [&] { return verf_impl(pk, sig, m, mlen); });
}

uint64_t sig_public_key_bytes(void) {
    const ParamSet* p = current_param_set();
    return p ? p->public_key_bytes() : 0;
}

uint64_t sig_secret_key_bytes(void) {
    const ParamSet* p = current_param_set();
    return p ? p->secret_key_bytes() : 0;
}

uint64_t sig_signature_bytes(void) {
    const ParamSet* p = current_param_set();
    return p ? p->signature_bytes() : 0;
}

namespace {

int32_t keygen_impl(unsigned char* pk, unsigned char* sk) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sk == nullptr) return -1;
    // The kept trapdoor is about to be replaced: release it first, so that two
    // prepared trapdoors never coexist.
    last_key_pair().forget_secret();
    core::PublicKey pub;
    core::SecretKey sec;
    {
        DrawLock lock;
        core::keygen(*p, pub, sec);
    }
    const std::size_t kn = static_cast<std::size_t>(p->k * p->n);
    core::encode_row(pub.a.data(), pub.a.size(), pk);
    core::encode_row(sec.t0.data(), kn, sk);
    core::encode_row(sec.t1.data(), kn, sk + 4 * kn);

    LastKeyPair& last = last_key_pair();
    last.record = core::make_row(pub.a.data(), p->k + 2, p->n);
    last.prepared = std::make_unique<core::PublicKey>(std::move(pub));
    last.secret_bytes.assign(sk, sk + p->secret_key_bytes());
    last.secret = std::make_unique<core::SecretKey>(std::move(sec));
    _a = &last.record;
    return 0;
}

int32_t sign_impl(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || sk == nullptr || sig == nullptr || siglen == nullptr || (m == nullptr && mlen != 0)) return -1;
    const std::size_t sig_bytes = p->signature_bytes();
    LastKeyPair& last = last_key_pair();
    // Without a key pair from this process there is no public matrix to sign
    // with; one of another level cannot be used either.
    // The public matrix is the one `_a` refers to: normally that of the last
    // sig_keygen (already prepared); a caller may point `_a` at another row.
    const core::PublicKey* pub = nullptr;
    core::PublicKey other;
    if (_a != nullptr && _a == &last.record && last.prepared && last.prepared->params == p) {
        pub = last.prepared.get();
    } else if (_a != nullptr && core::is_row(*_a, p->k + 2, p->n)) {
        other = core::make_public_key(*p, core::flatten_row(*_a));
        pub = &other;
    } else {
        std::memset(sig, 0, sig_bytes);
        return -1;
    }
    // The secret key of the last sig_keygen is already prepared; any other
    // is decoded and prepared here (and then fails the check below).
    const core::SecretKey* sec = nullptr;
    core::SecretKey other_secret;
    if (last.secret && last.secret->params == p && last.secret_bytes.size() == p->secret_key_bytes() &&
        equal_bytes_ct(sk, last.secret_bytes.data(), last.secret_bytes.size())) {
        sec = last.secret.get();
    } else {
        const std::size_t kn = static_cast<std::size_t>(p->k * p->n);
        std::vector<std::int64_t> t0(kn), t1(kn);
        core::decode_row(sk, kn, t0.data());
        core::decode_row(sk + 4 * kn, kn, t1.data());
        other_secret = core::make_secret_key(*p, std::move(t0), std::move(t1));
        sec = &other_secret;
    }

    std::vector<std::int64_t>& x = byte_buffers().x;
    x.resize(static_cast<std::size_t>((p->k + 2) * p->n));
    {
        DrawLock lock;
        core::sign(*pub, *sec, m, mlen, x.data());
    }
    // A secret key from another key pair yields a signature that verifies under
    // no key; so does a fault during signing. Check before handing it out.
    if (!core::verify(*pub, x.data(), m, mlen)) {
        std::memset(sig, 0, sig_bytes);
        return -2;
    }
    core::encode_row(x.data(), x.size(), sig);
    *siglen = sig_bytes;
    return 0;
}

int32_t verf_impl(const unsigned char* pk, const unsigned char* sig, const unsigned char* m, uint64_t mlen) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sig == nullptr || (m == nullptr && mlen != 0)) return 0;
    ByteBuffers& b = byte_buffers();
    if (!core::decode_public_key_for_verify(*p, pk, b.public_key)) return 0;
    b.x.resize(static_cast<std::size_t>((p->k + 2) * p->n));
    core::decode_row(sig, b.x.size(), b.x.data());
    return core::verify(b.public_key, b.x.data(), m, mlen) ? 1 : 0;
}

}  // namespace
