#include "scheme_core.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Hash.h"
#include "RandomGenerator.h"
#include "SampleG.h"
#include "ntt.h"
#include "secret.h"
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

// Sum over i of a_i * b_i (both in the transform domain), back to centred
// coefficients in out.
void inner_product_ntt(const NttTables& t, const std::int32_t* a, const std::int32_t* b, std::int64_t count,
                       std::int32_t* scratch, std::int64_t* out) {
    std::memset(scratch, 0, sz(t.n) * sizeof(std::int32_t));
    for (std::int64_t i = 0; i < count; ++i) ntt_pointwise_acc(t, scratch, a + i * t.n, b + i * t.n);
    ntt_inverse(t, scratch, true);
    ntt_store_centred(t, out, scratch);
}

// Working arrays of signing and verification, kept per thread so that the
// hot paths do not allocate. Signing's arrays hold secrets (the perturbation,
// the gadget solution and their products): they are wiped after every
// signature and when the thread ends.
struct SignWorkspace {
    SecretBuffer<std::int64_t> pert, u, ap, z, t0z, t1z;
    SecretBuffer<std::int32_t> p_ntt, scratch, z_ntt;

    void wipe() noexcept {
        pert.wipe(), u.wipe(), ap.wipe(), z.wipe(), t0z.wipe(), t1z.wipe();
        p_ntt.wipe(), scratch.wipe(), z_ntt.wipe();
    }
};

// Public values only, but the same buffer type keeps one sizing rule.
struct VerifyWorkspace {
    SecretBuffer<std::int32_t> row, acc;
    SecretBuffer<std::int64_t> u;
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
    SecretBuffer<std::int32_t> acc(sz(n));
    bool ok = true;
    for (std::int64_t i = 0; i < p.k; ++i) {
        // A_0 T0_i + A_1 T1_i + A_(i+2) must be the constant 2^i.
        for (std::int64_t j = 0; j < n; ++j) acc[sz(j)] = 0;
        ntt_pointwise_acc(t, acc.data(), pk.a_ntt.data(), sk.perturbation.t0_ntt.data() + i * n);
        ntt_pointwise_acc(t, acc.data(), pk.a_ntt.data() + n, sk.perturbation.t1_ntt.data() + i * n);
        ntt_inverse(t, acc.data(), true);
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int64_t v = centre(acc[sz(j)], t.q) + pk.a[sz((i + 2) * n + j)];
            const std::int64_t want = j == 0 ? (std::int64_t{1} << i) : 0;
            if (centred_mod(v - want, p.q) != 0) ok = false;
        }
    }
    return ok;
}

std::int64_t norm_bound_squared(const ParamSet& p) {
    // (1.5 s)^2 (k+2) n is an integer below 2^53 for both sets, so the double
    // product is exact.
    const double b2 = 2.25 * p.s * p.s * static_cast<double>((p.k + 2) * p.n);
    return static_cast<std::int64_t>(std::floor(b2));
}

void sign(const PublicKey& pk, const SecretKey& sk, const std::uint8_t* msg, std::uint64_t len, std::int64_t* x) {
    if (pk.params == nullptr || pk.params != sk.params) throw std::invalid_argument("sign: keys of different parameter sets");
    if (msg == nullptr && len > 0) throw std::invalid_argument("sign: null message with non-zero length");
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n, k = p.k, cols = k + 2;

    SignWorkspace& w = sign_workspace();
    std::int64_t* pert = sized(w.pert, cols * n);
    std::int32_t* p_ntt = sized(w.p_ntt, cols * n);
    std::int64_t* u = sized(w.u, n);
    std::int64_t* ap = sized(w.ap, n);
    std::int32_t* scratch = sized(w.scratch, n);
    std::int64_t* z = sized(w.z, k * n);
    std::int32_t* z_ntt = sized(w.z_ntt, k * n);
    std::int64_t* t0z = sized(w.t0z, n);
    std::int64_t* t1z = sized(w.t1z, n);
    // Wiped on every exit, the exceptional ones included.
    struct Wiper {
        SignWorkspace& w;
        ~Wiper() { w.wipe(); }
    } wiper{w};

    // 1. Perturbation p (drawn first) and its long part in the transform domain.
    if (!sample_perturbation(sk.perturbation, pert, p_ntt + 2 * n)) throw std::logic_error("sign: unusable secret key");
    forward_rows(t, pert, 2, p_ntt);

    // 2. Syndrome y = H(m) - A p.
    Hash(msg, len, n, p.q, u);
    inner_product_ntt(t, pk.a_ntt.data(), p_ntt, cols, scratch, ap);

    // 3. Gadget solution z, coefficient by coefficient, straight into its k rows.
    for (std::int64_t j = 0; j < n; ++j) u[j] = centred_near(u[j] - ap[j], p.q);
    if (!sample_gadget_batch(p.q, p.r, k, u, n, z, n)) throw std::logic_error("sign: gadget sampler refused the parameters");

    // 4. x = p + [T0 z; T1 z; z].
    forward_rows(t, z, k, z_ntt);
    inner_product_ntt(t, sk.perturbation.t0_ntt.data(), z_ntt, k, scratch, t0z);
    inner_product_ntt(t, sk.perturbation.t1_ntt.data(), z_ntt, k, scratch, t1z);
    for (std::int64_t j = 0; j < n; ++j) {
        x[j] = centred_near(pert[j] + t0z[j], p.q);
        x[n + j] = centred_near(pert[n + j] + t1z[j], p.q);
    }
    for (std::int64_t i = 2 * n; i < cols * n; ++i) x[i] = centred_near(pert[i] + z[i - 2 * n], p.q);
}

bool verify(const PublicKey& pk, const std::int64_t* x, const std::uint8_t* msg, std::uint64_t len) {
    if (pk.params == nullptr || x == nullptr || (msg == nullptr && len > 0)) return false;
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n, cols = p.k + 2;
    const std::int64_t bound = norm_bound_squared(p);

    // Entry by entry: reduce to centred residues (a coefficient plus a
    // multiple of q is the same signature), add to the norm, transform and
    // accumulate A_i x_i. The norm only grows, so checking it every 256
    // coefficients rejects exactly the signatures over the bound; each term is
    // below 2^54 and 256 of them on top of the bound stay below 2^63.
    VerifyWorkspace& w = verify_workspace();
    std::int32_t* row = sized(w.row, n);
    std::int32_t* acc = sized(w.acc, n);
    std::int64_t* u = sized(w.u, n);
    std::fill(acc, acc + n, 0);
    const std::int32_t h = t.q / 2;
    std::int64_t norm2 = 0;
    for (std::int64_t i = 0; i < cols; ++i) {
        ntt_load(t, row, x + i * n);  // into (-q, q)
        for (std::int64_t j0 = 0; j0 < n; j0 += 256) {
            const std::int64_t j1 = std::min(n, j0 + 256);
            for (std::int64_t j = j0; j < j1; ++j) {
                std::int32_t c = row[j];
                c -= t.q & -static_cast<std::int32_t>(c > h);
                c += t.q & -static_cast<std::int32_t>(c < -h);
                row[j] = c;
                norm2 += static_cast<std::int64_t>(c) * c;
            }
            if (norm2 > bound) return false;
        }
        ntt_forward(t, row);
        ntt_pointwise_acc(t, acc, pk.a_ntt.data() + i * n, row);
    }
    ntt_inverse(t, acc, true);
    Hash(msg, len, n, p.q, u);
    for (std::int64_t j = 0; j < n; ++j)
        if (centre(acc[j], t.q) != u[j]) return false;
    return true;
}

}  // namespace ringtrap::core
