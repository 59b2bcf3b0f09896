#include "scheme_core.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Hash.h"
#include "RandomGenerator.h"
#include "SampleG.h"
#include "gaussian_tables.h"
#include "ntt.h"
#include "ringtrap.h"
#include "secret.h"
#include "codec.h"
#include "util.h"

namespace ringtrap::core {
namespace {

std::size_t sz(std::int64_t v) { return static_cast<std::size_t>(v); }

// centred_mod(x, q) without a division for the usual case |x| < q.
inline std::int64_t centred_near(std::int64_t x, std::int64_t q) noexcept {
    if (x > -q && x < q) {
        const std::int64_t h = q / 2;
        return x > h ? x - q : (x < -h ? x + q : x);
    }
    return centred_mod(x, q);
}

// Transforms `count` entries of n coefficients each (any 64-bit values).
void forward_rows(const NttTables& t, const std::int64_t* src, std::int64_t count, std::int32_t* dst) {
    for (std::int64_t i = 0; i < count; ++i) {
        ntt_load(t, dst + i * t.n, src + i * t.n);
        ntt_forward(t, dst + i * t.n);
    }
}

// Inner products of rows (k + 2 entries at most) are summed in 64 bits and
// reduced once; the sets' moduli leave room for that many products.
static_assert(kParams128.k + 2 <= ntt_wide_capacity(kParams128.q) && kParams256.k + 2 <= ntt_wide_capacity(kParams256.q));

// Sum over i of a_i * b_i (both in the transform domain), back to centred
// coefficients in out. wide: n accumulator values.
void inner_product_ntt(const NttTables& t, const std::int32_t* a, const std::int32_t* b, std::int64_t count,
                       std::int64_t* wide, std::int32_t* scratch, std::int64_t* out) {
    ntt_wide_clear(t, wide);
    for (std::int64_t i = 0; i < count; ++i) ntt_mul_acc_wide(t, wide, a + i * t.n, b + i * t.n);
    ntt_reduce_wide(t, scratch, wide);
    ntt_inverse(t, scratch, true);
    ntt_store_centred(t, out, scratch);
}

// Working arrays of signing and verification, kept per thread so that the
// hot paths do not allocate. Signing's arrays hold secrets (the perturbation,
// the gadget solution and their products): they are wiped after every
// signature and when the thread ends.
struct SignWorkspace {
    SecretBuffer<std::int64_t> pert;   // (k+2) n: the perturbation p
    SecretBuffer<std::int64_t> hm;     // n: H(m), kept for the check
    SecretBuffer<std::int64_t> u;      // n: A p, then the syndrome
    SecretBuffer<std::int64_t> z;      // k n: the gadget solution, row by row
    SecretBuffer<std::int64_t> tz;     // n: T0 z, then T1 z
    SecretBuffer<std::int32_t> p_ntt;  // (k+2) n: p0 and p1 transformed, then G as the sampler left it
    SecretBuffer<std::int32_t> row;    // n
    SecretBuffer<std::int64_t> acc, acc0, acc1;  // n each: wide sums A x, T0 z, T1 z
    bool busy = false;

    void wipe() noexcept {
        pert.wipe(), hm.wipe(), u.wipe(), z.wipe(), tz.wipe();
        p_ntt.wipe(), row.wipe(), acc.wipe(), acc0.wipe(), acc1.wipe();
    }
};

// Public values only, but the same buffer type keeps one sizing rule.
struct VerifyWorkspace {
    SecretBuffer<std::int32_t> row, a_row;
    SecretBuffer<std::int64_t> acc, u;
};

SignWorkspace& sign_workspace() {
    thread_local SignWorkspace w;
    return w;
}

VerifyWorkspace& verify_workspace() {
    thread_local VerifyWorkspace w;
    return w;
}

// Exactly `count` elements of v. A change of level replaces the arrays, so a
// thread that moves to the smaller level does not keep the larger ones.
template <typename T>
T* sized(SecretBuffer<T>& v, std::int64_t count) {
    if (v.size() != sz(count)) v = SecretBuffer<T>(sz(count));
    return v.data();
}

// The verifier's running state: A x accumulated in the transform domain (a
// wide sum) and the squared norm so far, which stops growing once it passes
// the bound.
struct Check {
    const NttTables& t;
    std::int64_t* acc;  // n, cleared by the constructor
    std::uint64_t bound;
    std::uint64_t norm2 = 0;

    Check(const NttTables& tables, std::int64_t* wide, std::uint64_t b) noexcept : t(tables), acc(wide), bound(b) {
        ntt_wide_clear(t, acc);
    }

    // One entry of x, loaded into `row` (values in (-q, q)): centred, counted,
    // transformed and multiplied by A's entry a_ntt. Leaves x's transform in row.
    void entry(std::int32_t* row, const std::int32_t* a_ntt) noexcept {
        if (norm2 <= bound) norm2 += ntt_centre_norm(t, row, bound - norm2);
        ntt_forward(t, row);
        ntt_mul_acc_wide(t, acc, a_ntt, row);
    }

    // Norm within the bound and A x = H(m) (hm: n centred coefficients).
    // scratch: n values.
    bool passes(const std::int64_t* hm, std::int32_t* scratch) noexcept {
        if (norm2 > bound) return false;
        ntt_reduce_wide(t, scratch, acc);
        ntt_inverse(t, scratch, true);
        for (std::int32_t j = 0; j < t.n; ++j)
            if (centre(scratch[j], t.q) != hm[j]) return false;
        return true;
    }
};

}  // namespace

void prepare_public_key(const ParamSet& p, PublicKey& pk) {
    if (pk.a.size() != sz((p.k + 2) * p.n)) throw std::invalid_argument("public key: wrong number of coefficients");
    const NttTables& t = ntt_tables(p);
    pk.params = &p;
    for (auto& c : pk.a) c = centred_near(c, p.q);
    pk.a_ntt.resize(pk.a.size());
    forward_rows(t, pk.a.data(), p.k + 2, pk.a_ntt.data());
}

PublicKey make_public_key(const ParamSet& p, std::vector<std::int64_t> coeffs) {
    PublicKey pk;
    pk.a = std::move(coeffs);
    prepare_public_key(p, pk);
    return pk;
}

SecretKey make_secret_key(const ParamSet& p, SecretBuffer<std::int64_t> t0, SecretBuffer<std::int64_t> t1) {
    if (t0.size() != sz(p.k * p.n) || t1.size() != sz(p.k * p.n))
        throw std::invalid_argument("secret key: wrong number of coefficients");
    SecretKey sk;
    sk.params = &p;
    sk.t0 = std::move(t0);
    sk.t1 = std::move(t1);
    sk.perturbation = prepare_perturbation_key(p, sk.t0.data(), sk.t1.data());
    if (!sk.perturbation.valid()) throw std::invalid_argument("secret key: unusable trapdoor rows");
    return sk;
}

std::int64_t trapdoor_coeff_bound(const ParamSet& p) {
    // Key generation draws Oracle_1(0, 2 sqrt(n)): cos(theta) * (width * radius)
    // rounded half away from zero. |cos| peaks at 1 (first draw 0) and the
    // radius at its smallest non-zero second draw, so this is the largest
    // magnitude it can return, computed with the very operations it uses.
    const double width = std::sqrt(static_cast<double>(p.n)) + std::sqrt(static_cast<double>(p.n));
    const gaussian_tables::BoxMuller& t = gaussian_tables::box_muller();
    return static_cast<std::int64_t>(std::floor(t.cos_theta[0] * (width * t.radius[1]) + 0.5));
}

bool trapdoor_is_short(const ParamSet& p, const std::int64_t* t0, const std::int64_t* t1) {
    const std::int64_t bound = trapdoor_coeff_bound(p);
    const auto kn = static_cast<std::size_t>(p.k * p.n);
    std::int64_t over = 0;
    for (std::size_t i = 0; i < kn; ++i) {
        over |= static_cast<std::int64_t>(t0[i] > bound || t0[i] < -bound);
        over |= static_cast<std::int64_t>(t1[i] > bound || t1[i] < -bound);
    }
    return over == 0;
}

SecretKey make_secret_key_ntt(const ParamSet& p, SecretBuffer<std::int32_t> t0_ntt, SecretBuffer<std::int32_t> t1_ntt) {
    SecretKey sk;
    sk.params = &p;
    sk.perturbation = prepare_perturbation_key_ntt(ntt_tables(p), p.k, p.s, p.r, std::move(t0_ntt), std::move(t1_ntt));
    if (!sk.perturbation.valid()) throw std::invalid_argument("secret key: unusable trapdoor rows");
    return sk;
}

void keygen(const ParamSet& p, PublicKey& pk, SecretKey& sk) {
    const std::int64_t n = p.n, k = p.k;
    const double width = std::sqrt(static_cast<double>(n)) + std::sqrt(static_cast<double>(n));
    // Draw order: T0, then T1 (entry by entry, coefficient by coefficient), then a.
    // The rows are stored entry after entry, so filling them in index order
    // takes the draws of generate_Gaussian_mat_poly_R(n, 1, k, width).
    SecretBuffer<std::int64_t> t0(sz(k * n)), t1(sz(k * n));
    fill_Oracle_1(t0.data(), t0.size(), 0.0, width);
    fill_Oracle_1(t1.data(), t1.size(), 0.0, width);
    const poly_R a = generate_random_poly_R(n, p.q);
    if (!trapdoor_is_short(p, t0.data(), t1.data()))
        throw Error(Errc::malformed_secret_key, "key generation produced a trapdoor coefficient out of range");

    // The secret key transforms T0 and T1 once; the public row is formed in
    // the transform domain from those transforms:
    //   A_(i+2) = 2^i - (a T1_i + T0_i)  pointwise,
    // with a taken to Montgomery form once so that each product is plain.
    // Only the k entries A_(i+2) go back to coefficients.
    sk = make_secret_key(p, std::move(t0), std::move(t1));
    const NttTables& t = ntt_tables(p);
    const std::int32_t q = t.q;
    pk = PublicKey{};
    pk.params = &p;
    pk.a.assign(sz((k + 2) * n), 0);
    pk.a_ntt.assign(sz((k + 2) * n), 0);
    pk.a[0] = 1;
    std::fill(pk.a_ntt.begin(), pk.a_ntt.begin() + n, 1);  // the constant 1 evaluates to 1 everywhere
    std::memcpy(pk.a.data() + n, a.coeffs, sz(n) * sizeof(std::int64_t));
    std::int32_t* a_ntt = pk.a_ntt.data() + n;
    ntt_load(t, a_ntt, a.coeffs);
    ntt_forward(t, a_ntt);
    SecretBuffer<std::int32_t> a_mont(sz(n)), buf(sz(n));
    std::vector<std::int32_t> r2(sz(n), t.r2);
    ntt_pointwise(t, a_mont.data(), a_ntt, r2.data());  // a R: montmul(a R, b) = a b
    for (std::int64_t i = 0; i < k; ++i) {
        std::int32_t* dst_ntt = pk.a_ntt.data() + (i + 2) * n;
        std::memcpy(dst_ntt, sk.perturbation.t0_ntt.data() + i * n, sz(n) * sizeof(std::int32_t));
        ntt_pointwise_acc(t, dst_ntt, a_mont.data(), sk.perturbation.t1_ntt.data() + i * n);
        // 2^i - (a T1_i + T0_i): from (-q, q) to (2^i - q, 2^i + q); one
        // subtraction of q brings it back to (-q, q) as 2^i < q.
        const std::int32_t gi = static_cast<std::int32_t>(std::int64_t{1} << i);
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int32_t v = gi - dst_ntt[j];
            dst_ntt[j] = v >= q ? v - q : v;
        }
        std::memcpy(buf.data(), dst_ntt, sz(n) * sizeof(std::int32_t));
        ntt_inverse(t, buf.data(), false);
        ntt_store_centred(t, pk.a.data() + (i + 2) * n, buf.data());
    }
}

bool key_pair_matches(const PublicKey& pk, const SecretKey& sk) {
    if (pk.params != sk.params || pk.params == nullptr) return false;
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n;
    if (pk.a_ntt.size() != sz((p.k + 2) * n) || !sk.perturbation.valid()) return false;
    // A_0 and A_1 times R, so that each Montgomery product below is plain.
    SecretBuffer<std::int32_t> a0(sz(n)), a1(sz(n)), acc(sz(n));
    for (std::int64_t j = 0; j < n; ++j) acc[sz(j)] = t.r2;
    ntt_pointwise(t, a0.data(), pk.a_ntt.data(), acc.data());
    ntt_pointwise(t, a1.data(), pk.a_ntt.data() + n, acc.data());
    bool ok = true;
    for (std::int64_t i = 0; i < p.k; ++i) {
        // A_0 T0_i + A_1 T1_i + A_(i+2) must be the constant 2^i, which takes
        // the value 2^i at every point.
        ntt_pointwise(t, acc.data(), a0.data(), sk.perturbation.t0_ntt.data() + i * n);
        ntt_pointwise_acc(t, acc.data(), a1.data(), sk.perturbation.t1_ntt.data() + i * n);
        const std::int64_t want = (std::int64_t{1} << i) % p.q;
        const std::int32_t* ai = pk.a_ntt.data() + (i + 2) * n;
        for (std::int64_t j = 0; j < n; ++j)
            if ((std::int64_t{acc[sz(j)]} + ai[j] - want) % p.q != 0) ok = false;
    }
    return ok;
}

std::int64_t norm_bound_squared(const ParamSet& p) {
    // (1.5 s)^2 (k+2) n is an integer below 2^53 for both sets, so the double
    // product is exact.
    const double b2 = 2.25 * p.s * p.s * static_cast<double>((p.k + 2) * p.n);
    return static_cast<std::int64_t>(std::floor(b2));
}

SignSession::SignSession(const PublicKey& pk, const SecretKey& sk) : pk_(pk), sk_(sk) {
    if (pk.params == nullptr || pk.params != sk.params) throw std::invalid_argument("sign: keys of different parameter sets");
    SignWorkspace& w = sign_workspace();
    if (w.busy) throw std::logic_error("sign: the thread already has a signing session");
    w.busy = true;
}

SignSession::~SignSession() {
    SignWorkspace& w = sign_workspace();
    w.wipe();
    w.busy = false;
}

void SignSession::draw(const std::uint8_t* msg, std::uint64_t len) {
    if (msg == nullptr && len > 0) throw std::invalid_argument("sign: null message with non-zero length");
    const ParamSet& p = *pk_.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n, k = p.k, cols = k + 2;
    SignWorkspace& w = sign_workspace();
    std::int64_t* pert = sized(w.pert, cols * n);
    std::int32_t* p_ntt = sized(w.p_ntt, cols * n);
    std::int64_t* hm = sized(w.hm, n);
    std::int64_t* u = sized(w.u, n);
    std::int64_t* z = sized(w.z, k * n);
    std::int32_t* scratch = sized(w.row, n);
    std::int64_t* wide = sized(w.acc, n);

    // 1. Perturbation p (drawn first) and its short part in the transform
    // domain; the sampler leaves the long part's transform in p_ntt.
    if (!sample_perturbation(sk_.perturbation, pert, p_ntt + 2 * n)) throw std::logic_error("sign: unusable secret key");
    forward_rows(t, pert, 2, p_ntt);

    // 2. Syndrome H(m) - A p.
    Hash(msg, len, n, p.q, hm);
    inner_product_ntt(t, pk_.a_ntt.data(), p_ntt, cols, wide, scratch, u);
    for (std::int64_t j = 0; j < n; ++j) u[j] = centred_near(hm[j] - u[j], p.q);

    // 3. Gadget solution z, coefficient by coefficient, straight into its k rows.
    if (!sample_gadget_batch(p.q, p.r, k, u, n, z, n)) throw std::logic_error("sign: gadget sampler refused the parameters");
    drawn_ = true;
}

bool SignSession::finish(std::int64_t* x) {
    if (!drawn_) throw std::logic_error("sign: finish before draw");
    drawn_ = false;
    const ParamSet& p = *pk_.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n, k = p.k;
    SignWorkspace& w = sign_workspace();
    const std::int64_t* pert = w.pert.data();
    const std::int64_t* z = w.z.data();
    std::int32_t* p_ntt = w.p_ntt.data();
    std::int32_t* row = w.row.data();
    std::int64_t* acc0 = sized(w.acc0, n);
    std::int64_t* acc1 = sized(w.acc1, n);
    std::int64_t* tz = sized(w.tz, n);
    Check check(t, sized(w.acc, n), static_cast<std::uint64_t>(norm_bound_squared(p)));
    ntt_wide_clear(t, acc0);
    ntt_wide_clear(t, acc1);
    const std::int32_t* a_ntt = pk_.a_ntt.data();
    const std::int32_t* t0_ntt = sk_.perturbation.t0_ntt.data();
    const std::int32_t* t1_ntt = sk_.perturbation.t1_ntt.data();

    // 4. The long entries x_(i+2) = G_i + z_i, checked as they are formed. Their
    // transform, less that of G_i, is z_i's: T0 z and T1 z need no transform
    // of their own.
    for (std::int64_t i = 0; i < k; ++i) {
        std::int64_t* xi = x + (i + 2) * n;
        const std::int64_t* gi = pert + (i + 2) * n;
        const std::int64_t* zi = z + i * n;
        ntt_load_sum(t, row, xi, gi, zi);
        check.entry(row, a_ntt + (i + 2) * n);
        ntt_sub(t, row, p_ntt + (i + 2) * n);
        ntt_mul_acc_wide(t, acc0, t0_ntt + i * n, row);
        ntt_mul_acc_wide(t, acc1, t1_ntt + i * n, row);
    }

    // 5. x_0 = p_0 + T0 z and x_1 = p_1 + T1 z, then the check.
    std::int64_t* accs[2] = {acc0, acc1};
    for (std::int64_t e = 0; e < 2; ++e) {
        ntt_reduce_wide(t, row, accs[e]);
        ntt_inverse(t, row, true);
        ntt_store_centred(t, tz, row);
        ntt_load_sum(t, row, x + e * n, pert + e * n, tz);
        check.entry(row, a_ntt + e * n);
    }
    return check.passes(w.hm.data(), row);
}

void sign(const PublicKey& pk, const SecretKey& sk, const std::uint8_t* msg, std::uint64_t len, std::int64_t* x) {
    SignSession session(pk, sk);
    session.draw(msg, len);
    static_cast<void>(session.finish(x));
}

namespace {

// Verification against a prepared public key, whatever the signature's form:
// load_row(t, row, i) puts entry i into row (values in (-q, q)) and says
// whether it was in the signer's form.
template <typename LoadRow>
bool verify_rows(const PublicKey& pk, const std::uint8_t* msg, std::uint64_t len, LoadRow load_row) {
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n;
    VerifyWorkspace& w = verify_workspace();
    std::int32_t* row = sized(w.row, n);
    Check check(t, sized(w.acc, n), static_cast<std::uint64_t>(norm_bound_squared(p)));
    bool canonical = true;
    for (std::int64_t i = 0; i < p.k + 2 && check.norm2 <= check.bound; ++i) {
        canonical &= load_row(t, row, i);
        check.entry(row, pk.a_ntt.data() + i * n);
    }
    if (!canonical || check.norm2 > check.bound) return false;
    std::int64_t* u = sized(w.u, n);
    Hash(msg, len, n, p.q, u);
    return check.passes(u, row);
}

}  // namespace

bool verify(const PublicKey& pk, const std::int64_t* x, const std::uint8_t* msg, std::uint64_t len) {
    if (pk.params == nullptr || x == nullptr || (msg == nullptr && len > 0)) return false;
    const std::int64_t n = pk.params->n;
    return verify_rows(pk, msg, len, [&](const NttTables& t, std::int32_t* row, std::int64_t i) {
        ntt_load(t, row, x + i * n);
        return true;
    });
}

bool verify_signature_bytes(const PublicKey& pk, const std::uint8_t* sig, const std::uint8_t* msg, std::uint64_t len) {
    if (pk.params == nullptr || sig == nullptr || (msg == nullptr && len > 0)) return false;
    const std::int64_t n = pk.params->n;
    // Only the signer's form is accepted (centred residues, no negative zero):
    // one encoding per signature, so a valid one cannot be turned into another.
    return verify_rows(pk, msg, len, [&](const NttTables& t, std::int32_t* row, std::int64_t i) {
        return ntt_load_bytes(t, row, sig + 4 * i * n);
    });
}

Verdict verify_bytes(const ParamSet& p, const std::uint8_t* pk_bytes, const std::uint8_t* sig, const std::uint8_t* msg,
                     std::uint64_t len) {
    if (pk_bytes == nullptr) return Verdict::malformed_key;
    if (sig == nullptr || (msg == nullptr && len > 0)) return public_key_bytes_ok(p, pk_bytes) ? Verdict::invalid : Verdict::malformed_key;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n;
    VerifyWorkspace& w = verify_workspace();
    std::int32_t* row = sized(w.row, n);
    std::int32_t* a_row = sized(w.a_row, n);
    Check check(t, sized(w.acc, n), static_cast<std::uint64_t>(norm_bound_squared(p)));
    // Every entry is read, so that a malformed key is reported whatever the
    // signature; the key's checks are those of decode_public_key.
    bool key_ok = true, canonical = true;
    for (std::int64_t i = 0; i < p.k + 2; ++i) {
        key_ok &= load_public_entry_ntt(p, pk_bytes, i, a_row);
        canonical &= ntt_load_bytes(t, row, sig + 4 * i * n);  // the signer's form only
        check.entry(row, a_row);
    }
    if (!key_ok) return Verdict::malformed_key;
    if (!canonical || check.norm2 > check.bound) return Verdict::invalid;
    std::int64_t* u = sized(w.u, n);
    Hash(msg, len, n, p.q, u);
    return check.passes(u, row) ? Verdict::valid : Verdict::invalid;
}

}  // namespace ringtrap::core
