// The byte-level interface: packs and unpacks keys and signatures and calls the
// scheme on the selected parameter set.
#include "sig_api.h"

#include <cstring>
#include <memory>
#include <vector>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "codec.h"
#include "scheme_core.h"
#include "secret.h"
#include "util.h"

namespace ringtrap {
namespace {

// The most recent sig_keygen: the record `_a` refers to, its prepared form
// for signing, and the prepared trapdoor with its byte encoding, so that
// signing with that secret key skips decoding and preparing it again. The
// secret parts wipe themselves when replaced or released.
struct LastKeyPair {
    mat_poly_R record;
    std::unique_ptr<core::PublicKey> prepared;
    std::unique_ptr<core::SecretKey> secret;
    SecretBuffer<unsigned char> secret_bytes;

    void forget_secret() noexcept {
        secret_bytes.reset();
        secret.reset();
    }
};

// Signature coefficients between the scheme and the bytes, kept per thread
// so that signing does not allocate them each time.
std::vector<std::int64_t>& row_buffer() {
    thread_local std::vector<std::int64_t> x;
    return x;
}

LastKeyPair& last_key_pair() {
    static LastKeyPair state;
    return state;
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

std::int32_t keygen_bytes(unsigned char* pk, unsigned char* sk) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sk == nullptr) return -1;
    // The kept trapdoor is about to be replaced: release it first, so that two
    // prepared trapdoors never coexist.
    LastKeyPair& last = last_key_pair();
    last.forget_secret();
    core::PublicKey pub;
    core::SecretKey sec;
    {
        DrawLock lock;
        core::keygen(*p, pub, sec);
    }
    core::encode_key_pair(*p, pub, sec, pk, sk);

    last.record = make_row(pub.a.data(), p->k + 2, p->n);
    last.prepared = std::make_unique<core::PublicKey>(std::move(pub));
    last.secret_bytes = SecretBuffer<unsigned char>(p->secret_key_bytes());
    std::memcpy(last.secret_bytes.data(), sk, last.secret_bytes.size());
    last.secret = std::make_unique<core::SecretKey>(std::move(sec));
    _a = &last.record;
    return 0;
}

std::int32_t sign_bytes(const unsigned char* sk, const unsigned char* m, std::uint64_t mlen, unsigned char* sig,
                        std::uint64_t* siglen) {
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
    } else if (_a != nullptr && is_row(*_a, p->k + 2, p->n)) {
        other = core::make_public_key(*p, flatten_row(*_a));
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
        other_secret = core::decode_secret_key_ntt(*p, sk);
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

std::int32_t verf_bytes(const unsigned char* pk, const unsigned char* sig, const unsigned char* m, std::uint64_t mlen) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sig == nullptr || (m == nullptr && mlen != 0)) return 0;
    return core::verify_bytes(*p, pk, sig, m, mlen) == core::Verdict::valid ? 1 : 0;
}

std::uint64_t size_at_selected_level(std::size_t (ParamSet::*bytes)() const) {
    const ParamSet* p = current_param_set();
    return p ? (p->*bytes)() : 0;
}

}  // namespace
}  // namespace ringtrap

int32_t sig_select_level(int32_t level) {
    return ringtrap::guarded(-1, [&] { return ringtrap::parameter_init(level) ? 0 : -1; });
}

int32_t sig_keygen(unsigned char* pk, unsigned char* sk) {
    return ringtrap::guarded(-1, [&] { return ringtrap::keygen_bytes(pk, sk); });
}

int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen) {
    if (siglen != nullptr) *siglen = 0;
    const int32_t rc = ringtrap::guarded(-3, [&] { return ringtrap::sign_bytes(sk, m, mlen, sig, siglen); });
    if (rc == -3 && sig != nullptr) {
        // Leave no partial signature behind.
        if (const ringtrap::ParamSet* p = ringtrap::current_param_set()) std::memset(sig, 0, p->signature_bytes());
    }
    return rc;
}

int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen, const unsigned char* m, uint64_t mlen) {
    (void)siglen;  // the signature is always read at its full size
    return ringtrap::guarded(0, [&] { return ringtrap::verf_bytes(pk, sig, m, mlen); });
}

uint64_t sig_public_key_bytes(void) { return ringtrap::size_at_selected_level(&ringtrap::ParamSet::public_key_bytes); }
uint64_t sig_secret_key_bytes(void) { return ringtrap::size_at_selected_level(&ringtrap::ParamSet::secret_key_bytes); }
uint64_t sig_signature_bytes(void) { return ringtrap::size_at_selected_level(&ringtrap::ParamSet::signature_bytes); }
