#include "scheme_core.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Hash.h"
#include "RandomGenerator.h"
#include "SampleG.h"
#include "codec.h"
#include "common.h"
#include "ntt.h"
#include "util.h"

namespace ringtrap::core {
namespace {

std::size_t sz(std::int64_t v) { return static_cast<std::size_t>(v); }

template <typename T>
void wipe(std::vector<T>& v) noexcept {
    secure_zero(v.data(), v.size() * sizeof(T));
}

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
    std::vector<std::int64_t> pert, u, ap, z, t0z, t1z;
    std::vector<std::int32_t> p_ntt, scratch, z_ntt;

    void wipe() noexcept {
        core::wipe(pert), core::wipe(u), core::wipe(ap), core::wipe(z), core::wipe(t0z), core::wipe(t1z);
        core::wipe(p_ntt), core::wipe(scratch), core::wipe(z_ntt);
    }
    SignWorkspace() = default;
    SignWorkspace(const SignWorkspace&) = delete;
    SignWorkspace& operator=(const SignWorkspace&) = delete;
    ~SignWorkspace() { wipe(); }
};

struct VerifyWorkspace {
    std::vector<std::int32_t> row, acc;
    std::vector<std::int64_t> u;
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
T* sized(std::vector<T>& v, std::int64_t count) {
    if (v.size() != sz(count)) {
        wipe(v);
        std::vector<T>(sz(count)).swap(v);
    }
    return v.data();
}

}  // namespace

SecretKey::~SecretKey() {
    wipe(t0);
    wipe(t1);
}

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

SecretKey make_secret_key(const ParamSet& p, std::vector<std::int64_t> t0, std::vector<std::int64_t> t1) {
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
    const std::int64_t nn = p.n, kk = p.k;
    const double width = std::sqrt(static_cast<double>(nn)) + std::sqrt(static_cast<double>(nn));
    // Draw order: T0, then T1 (entry by entry, coefficient by coefficient), then a.
    // The rows are stored entry after entry, so filling them in index order
    // takes the draws of generate_Gaussian_mat_poly_R(n, 1, k, width).
    std::vector<std::int64_t> t0(sz(kk * nn)), t1(sz(kk * nn));
    fill_Oracle_1(t0.data(), t0.size(), 0.0, width);
    fill_Oracle_1(t1.data(), t1.size(), 0.0, width);
    const poly_R a = generate_random_poly_R_mod(nn, p.q);

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
    pk.a.assign(sz((kk + 2) * nn), 0);
    pk.a_ntt.assign(sz((kk + 2) * nn), 0);
    pk.a[0] = 1;
    std::fill(pk.a_ntt.begin(), pk.a_ntt.begin() + nn, 1);  // the constant 1 evaluates to 1 everywhere
    std::memcpy(pk.a.data() + nn, a.coeffs, sz(nn) * sizeof(std::int64_t));
    std::int32_t* a_ntt = pk.a_ntt.data() + nn;
    ntt_load(t, a_ntt, a.coeffs);
    ntt_forward(t, a_ntt);
    std::vector<std::int32_t> a_mont(sz(nn)), r2(sz(nn), t.r2);
    ntt_pointwise(t, a_mont.data(), a_ntt, r2.data());  // a R: montmul(a R, b) = a b
    std::vector<std::int32_t> buf(sz(nn));
    for (std::int64_t i = 0; i < kk; ++i) {
        std::int32_t* dst_ntt = pk.a_ntt.data() + (i + 2) * nn;
        std::memcpy(dst_ntt, sk.perturbation.t0_ntt.data() + i * nn, sz(nn) * sizeof(std::int32_t));
        ntt_pointwise_acc(t, dst_ntt, a_mont.data(), sk.perturbation.t1_ntt.data() + i * nn);
        // 2^i - (a T1_i + T0_i): from (-q, q) to (2^i - q, 2^i + q); one
        // subtraction of q brings it back to (-q, q) as 2^i < q.
        const std::int32_t gi = static_cast<std::int32_t>(std::int64_t{1} << i);
        for (std::int64_t j = 0; j < nn; ++j) {
            const std::int32_t v = gi - dst_ntt[j];
            dst_ntt[j] = v >= q ? v - q : v;
        }
        std::memcpy(buf.data(), dst_ntt, sz(nn) * sizeof(std::int32_t));
        ntt_inverse(t, buf.data(), false);
        ntt_store_centred(t, pk.a.data() + (i + 2) * nn, buf.data());
    }
    wipe(buf);
    wipe(a_mont);
}

bool key_pair_matches(const PublicKey& pk, const SecretKey& sk) {
    if (pk.params != sk.params || pk.params == nullptr) return false;
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t nn = p.n;
    std::vector<std::int32_t> acc(sz(nn));
    bool ok = true;
    for (std::int64_t i = 0; i < p.k; ++i) {
        // A_0 T0_i + A_1 T1_i + A_(i+2) must be the constant 2^i.
        for (std::int64_t j = 0; j < nn; ++j) acc[sz(j)] = 0;
        ntt_pointwise_acc(t, acc.data(), pk.a_ntt.data(), sk.perturbation.t0_ntt.data() + i * nn);
        ntt_pointwise_acc(t, acc.data(), pk.a_ntt.data() + nn, sk.perturbation.t1_ntt.data() + i * nn);
        ntt_inverse(t, acc.data(), true);
        for (std::int64_t j = 0; j < nn; ++j) {
            const std::int64_t v = centre(acc[sz(j)], t.q) + pk.a[sz((i + 2) * nn + j)];
            const std::int64_t want = j == 0 ? (std::int64_t{1} << i) : 0;
            if (centred_mod(v - want, p.q) != 0) ok = false;
        }
    }
    wipe(acc);
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
    const std::int64_t nn = p.n, kk = p.k, cols = kk + 2;

    SignWorkspace& w = sign_workspace();
    std::int64_t* pert = sized(w.pert, cols * nn);
    std::int32_t* p_ntt = sized(w.p_ntt, cols * nn);
    std::int64_t* u = sized(w.u, nn);
    std::int64_t* ap = sized(w.ap, nn);
    std::int32_t* scratch = sized(w.scratch, nn);
    std::int64_t* z = sized(w.z, kk * nn);
    std::int32_t* z_ntt = sized(w.z_ntt, kk * nn);
    std::int64_t* t0z = sized(w.t0z, nn);
    std::int64_t* t1z = sized(w.t1z, nn);
    // Wiped on every exit, the exceptional ones included.
    struct Wiper {
        SignWorkspace& w;
        ~Wiper() { w.wipe(); }
    } wiper{w};

    // 1. Perturbation p (drawn first) and its long part in the transform domain.
    if (!sample_perturbation(sk.perturbation, pert, p_ntt + 2 * nn)) throw std::logic_error("sign: unusable secret key");
    forward_rows(t, pert, 2, p_ntt);

    // 2. Syndrome y = H(m) - A p.
    hash_into(msg, len, p.q, u, nn);
    inner_product_ntt(t, pk.a_ntt.data(), p_ntt, cols, scratch, ap);

    // 3. Gadget solution z, coefficient by coefficient. Digits of eight
    // coefficients are collected before going to their k rows, so that each
    // row receives a whole cache line rather than k scattered stores per
    // coefficient (rows n * 8 bytes apart share cache sets).
    constexpr std::int64_t kBlock = 8;
    std::int64_t digits[kBlock][kMaxGadgetLength];
    for (std::int64_t j0 = 0; j0 < nn; j0 += kBlock) {
        const std::int64_t m = std::min(kBlock, nn - j0);
        for (std::int64_t jj = 0; jj < m; ++jj) {
            const std::int64_t y = centred_near(u[j0 + jj] - ap[j0 + jj], p.q);
            sample_gadget(digits[jj], p.q, y, p.r, kk);
        }
        for (std::int64_t i = 0; i < kk; ++i)
            for (std::int64_t jj = 0; jj < m; ++jj) z[i * nn + j0 + jj] = digits[jj][i];
    }
    secure_zero(digits, sizeof digits);

    // 4. x = p + [T0 z; T1 z; z].
    forward_rows(t, z, kk, z_ntt);
    inner_product_ntt(t, sk.perturbation.t0_ntt.data(), z_ntt, kk, scratch, t0z);
    inner_product_ntt(t, sk.perturbation.t1_ntt.data(), z_ntt, kk, scratch, t1z);
    for (std::int64_t j = 0; j < nn; ++j) {
        x[j] = centred_near(pert[j] + t0z[j], p.q);
        x[nn + j] = centred_near(pert[nn + j] + t1z[j], p.q);
    }
    for (std::int64_t i = 2 * nn; i < cols * nn; ++i) x[i] = centred_near(pert[i] + z[i - 2 * nn], p.q);
}

bool verify(const PublicKey& pk, const std::int64_t* x, const std::uint8_t* msg, std::uint64_t len) {
    if (pk.params == nullptr || x == nullptr || (msg == nullptr && len > 0)) return false;
    const ParamSet& p = *pk.params;
    const NttTables& t = ntt_tables(p);
    const std::int64_t nn = p.n, cols = p.k + 2;
    const std::int64_t bound = norm_bound_squared(p);

    // Entry by entry: reduce to centred residues (a coefficient plus a
    // multiple of q is the same signature), add to the norm, transform and
    // accumulate A_i x_i. The norm only grows, so checking it every 256
    // coefficients rejects exactly the signatures over the bound; each term is
    // below 2^54 and 256 of them on top of the bound stay below 2^63.
    VerifyWorkspace& w = verify_workspace();
    std::int32_t* row = sized(w.row, nn);
    std::int32_t* acc = sized(w.acc, nn);
    std::int64_t* u = sized(w.u, nn);
    std::fill(acc, acc + nn, 0);
    const std::int32_t h = t.q / 2;
    std::int64_t norm2 = 0;
    for (std::int64_t i = 0; i < cols; ++i) {
        ntt_load(t, row, x + i * nn);  // into (-q, q)
        for (std::int64_t j0 = 0; j0 < nn; j0 += 256) {
            const std::int64_t j1 = std::min(nn, j0 + 256);
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
        ntt_pointwise_acc(t, acc, pk.a_ntt.data() + i * nn, row);
    }
    ntt_inverse(t, acc, true);
    hash_into(msg, len, p.q, u, nn);
    for (std::int64_t j = 0; j < nn; ++j)
        if (centre(acc[j], t.q) != u[j]) return false;
    return true;
}

namespace {

inline std::uint32_t load_le32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

void encode_row(const std::int64_t* coeffs, std::size_t count, std::uint8_t* out) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<std::uint64_t>(coeffs[i]);
        const std::uint64_t neg = 0 - (c >> 63);  // all ones for a negative value
        const std::uint64_t m = (c ^ neg) - neg;  // magnitude
        const auto w = static_cast<std::uint32_t>((m & 0x7FFFFFFFu) | (neg & 0x80000000u));
        std::uint8_t* o = out + 4 * i;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(o, &w, sizeof w);  // the bytes are w least significant first
        } else {
            o[0] = static_cast<std::uint8_t>(w);
            o[1] = static_cast<std::uint8_t>(w >> 8);
            o[2] = static_cast<std::uint8_t>(w >> 16);
            o[3] = static_cast<std::uint8_t>(w >> 24);
        }
    }
}

void decode_row(const std::uint8_t* in, std::size_t count, std::int64_t* coeffs) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t w = load_le32(in + 4 * i);
        const std::int64_t m = w & 0x7FFFFFFFu;
        const std::int64_t neg = -static_cast<std::int64_t>(w >> 31);
        coeffs[i] = (m ^ neg) - neg;  // a negative zero decodes to 0
    }
}

namespace {

// Decodes (k+2) n public-key coefficients into out (64- or 32-bit) and checks
// that they form a key the generator can have written: every coefficient
// canonical (magnitude at most (q-1)/2, no negative zero) and entry 0 the
// constant 1. One flag for the whole key, so the loop has no data-dependent
// branch.
template <typename T>
bool decode_public_key_into(const ParamSet& p, const std::uint8_t* bytes, T* out) {
    const std::int64_t count = (p.k + 2) * p.n;
    const std::uint32_t h = static_cast<std::uint32_t>((p.q - 1) / 2);
    std::uint32_t bad = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint32_t w = load_le32(bytes + 4 * i);
        const std::uint32_t m = w & 0x7FFFFFFFu;
        bad |= static_cast<std::uint32_t>(m > h) | (static_cast<std::uint32_t>(m == 0) & (w >> 31));
        const T neg = -static_cast<T>(w >> 31);
        out[i] = (static_cast<T>(m) ^ neg) - neg;
    }
    if (bad != 0 || out[0] != 1) return false;
    for (std::int64_t j = 1; j < p.n; ++j)
        if (out[j] != 0) return false;
    return true;
}

}  // namespace

bool decode_public_key(const ParamSet& p, const std::uint8_t* bytes, std::vector<std::int64_t>& out) {
    out.resize(sz((p.k + 2) * p.n));
    return decode_public_key_into(p, bytes, out.data());
}

bool decode_public_key_for_verify(const ParamSet& p, const std::uint8_t* bytes, PublicKey& pk) {
    const std::int64_t nn = p.n, count = (p.k + 2) * p.n;
    pk.params = nullptr;
    pk.a.clear();
    pk.a_ntt.resize(sz(count));
    std::int32_t* out = pk.a_ntt.data();
    if (!decode_public_key_into(p, bytes, out)) return false;
    const NttTables& t = ntt_tables(p);
    for (std::int64_t i = 0; i < p.k + 2; ++i) ntt_forward(t, out + i * nn);
    pk.params = &p;
    return true;
}

bool is_row(const mat_poly_R& m, std::int64_t cols, std::int64_t len) {
    if (m.rows != 1 || m.cols != cols || m.entries == nullptr) return false;
    for (std::int64_t j = 0; j < cols; ++j)
        if (m.entries[j].len != len || m.entries[j].coeffs == nullptr) return false;
    return true;
}

std::vector<std::int64_t> flatten_row(const mat_poly_R& m) {
    const std::int64_t len = m.cols > 0 ? m.entries[0].len : 0;
    std::vector<std::int64_t> out(sz(m.cols * len));
    for (std::int64_t j = 0; j < m.cols; ++j)
        std::memcpy(out.data() + j * len, m.entries[j].coeffs, sz(len) * sizeof(std::int64_t));
    return out;
}

mat_poly_R make_row(const std::int64_t* data, std::int64_t cols, std::int64_t len) {
    mat_poly_R m = create_mat_poly_R(len, 1, cols);
    for (std::int64_t j = 0; j < cols; ++j)
        std::memcpy(m.entries[j].coeffs, data + j * len, sz(len) * sizeof(std::int64_t));
    return m;
}

}  // namespace ringtrap::core
