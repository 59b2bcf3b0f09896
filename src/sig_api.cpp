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

// The public key of the most recent sig_keygen: the record `_a` refers to, and
// its prepared form for signing.
struct LastKeyPair {
    mat_poly_R record;
    std::unique_ptr<core::PublicKey> prepared;
};

LastKeyPair& last_key_pair() {
    static LastKeyPair state;
    return state;
}

}  // namespace

}  // namespace ringtrap

using namespace ringtrap;

int32_t sig_select_level(int32_t level) { return parameter_init(level) ? 0 : -1; }

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

int32_t sig_keygen(unsigned char* pk, unsigned char* sk) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sk == nullptr) return -1;
    core::PublicKey pub;
    core::SecretKey sec;
    {
        DrawLock lock;
        core::keygen(*p, pub, sec);
    }
    const std::size_t kn = static_cast<std::size_t>(p->k * p->n);
    encode_coeffs(pub.a.data(), pub.a.size(), pk);
    encode_coeffs(sec.t0.data(), kn, sk);
    encode_coeffs(sec.t1.data(), kn, sk + 4 * kn);

    LastKeyPair& last = last_key_pair();
    last.record = core::make_row(pub.a.data(), p->k + 2, p->n);
    last.prepared = std::make_unique<core::PublicKey>(std::move(pub));
    _a = &last.record;
    return 0;
}

int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig, uint64_t* siglen) {
    const ParamSet* p = current_param_set();
    if (siglen != nullptr) *siglen = 0;
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
    const std::size_t kn = static_cast<std::size_t>(p->k * p->n);
    std::vector<std::int64_t> t0(kn), t1(kn);
    decode_coeffs(sk, kn, t0.data());
    decode_coeffs(sk + 4 * kn, kn, t1.data());
    const core::SecretKey sec = core::make_secret_key(*p, std::move(t0), std::move(t1));

    std::vector<std::int64_t> x(static_cast<std::size_t>((p->k + 2) * p->n));
    {
        DrawLock lock;
        core::sign(*pub, sec, m, mlen, x.data());
    }
    // A secret key from another key pair yields a signature that verifies under
    // no key; so does a fault during signing. Check before handing it out.
    if (!core::verify(*pub, x.data(), m, mlen)) {
        std::memset(sig, 0, sig_bytes);
        return -2;
    }
    encode_coeffs(x.data(), x.size(), sig);
    *siglen = sig_bytes;
    return 0;
}

int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen, const unsigned char* m, uint64_t mlen) {
    (void)siglen;  // the signature is always read at its full size
    const ParamSet* p = current_param_set();
    if (p == nullptr || pk == nullptr || sig == nullptr || (m == nullptr && mlen != 0)) return 0;
    std::vector<std::int64_t> a;
    if (!core::decode_public_key(*p, pk, a)) return 0;
    const core::PublicKey pub = core::make_public_key(*p, std::move(a));
    std::vector<std::int64_t> x(static_cast<std::size_t>((p->k + 2) * p->n));
    decode_coeffs(sig, x.size(), x.data());
    return core::verify(pub, x.data(), m, mlen) ? 1 : 0;
}
