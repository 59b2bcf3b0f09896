#include "ki_scheme.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "RandomGenerator.h"
#include "secret.h"
#include "ct.h"
#include "gauss_ct.h"
#include "gauss_ct_detail.h"
#include "ki_hash.h"

namespace ringtrap::ki {

namespace {

std::size_t sz(std::int64_t v) { return static_cast<std::size_t>(v); }

// g_i = b^i.
inline std::int64_t gadget_entry(const KiParamSet& p, std::size_t i) noexcept {
    return std::int64_t{1} << (static_cast<std::size_t>(p.base_bits()) * i);
}

// x mod q in (-q, q) for |x| < 2^50: subtract q times the rounded quotient.
// Entirely in double arithmetic (every step exact: x and k q are integers
// below 2^51), with the vector conversions double -> int32 and the bit trick
// of gauss::detail::small_to_double for int64 -> double, so that loops of it
// vectorise; the value is that of the integer formula x - q round(x / q).
inline std::int32_t reduce_ct(std::int64_t x, std::int64_t q, double inv_q) noexcept {
    const double xd = gauss::detail::small_to_double(static_cast<std::uint64_t>(x));
    const double k = gauss::detail::round_nearest(xd * inv_q);
    return static_cast<std::int32_t>(xd - k * static_cast<double>(q));
}

// Centred representative of x in (-q, q), with masks.
inline std::int32_t centre_ct(std::int32_t x, std::int32_t q) noexcept {
    const std::int32_t h = q / 2;
    x -= q & ((h - x) >> 31);  // x > h
    x += q & ((x + h) >> 31);  // x < -h
    return x;
}

// Representative of x in (-q, q) in [0, q), with masks.
inline std::int64_t nonneg_ct(std::int64_t x, std::int64_t q) noexcept {
    x += q & (x >> 63);
    x -= q & ~((x - q) >> 63);
    return x;
}

// One entry (n coefficients, |x| < 2^50) into the NTT domain.
void to_ntt(const NttTables& t, const std::int64_t* src, std::int32_t* dst) noexcept {
    const double inv_q = 1.0 / static_cast<double>(t.q);
    for (std::int32_t j = 0; j < t.n; ++j) dst[j] = reduce_ct(src[j], t.q, inv_q);
    ntt_forward(t, dst);
}

// Back from the NTT domain after Montgomery products: centred coefficients.
void from_ntt_centred(const NttTables& t, std::int32_t* a, std::int64_t* out) noexcept {
    ntt_inverse(t, a, true);
    for (std::int32_t j = 0; j < t.n; ++j) out[j] = centre_ct(a[j], t.q);
}

template <typename T, typename Make>
const T& cached(const KiParamSet& p, Make make) {
    static std::mutex mu;
    static std::map<const KiParamSet*, std::unique_ptr<T>> cache;
    std::lock_guard<std::mutex> lock(mu);
    auto& slot = cache[&p];
    if (!slot) slot = make();
    return *slot;
}

// Largest eigenvalue of the Gram matrix [[a, b], [conj b, d]] per point,
// maximised over the points without branches (non-negative doubles order as
// their bit patterns).
double max_gram_eigenvalue(std::size_t h, const double* a, const double* d, const double* b_re,
                           const double* b_im) noexcept {
    std::uint64_t best = 0;
    for (std::size_t j = 0; j < h; ++j) {
        const double hd = 0.5 * (a[j] - d[j]);
        const double lam = 0.5 * (a[j] + d[j]) + sqrt_ct(hd * hd + b_re[j] * b_re[j] + b_im[j] * b_im[j]);
        const auto bits = std::bit_cast<std::uint64_t>(lam);
        best = ct::select(ct::mask_from_bit(ct::lt(best, bits)), bits, best);
    }
    return std::bit_cast<double>(best);
}

// Gram sums of T per FFT point: F0 = sum |T0_i|^2, F1 = sum |T1_i|^2, F01 =
// sum T0_i conj(T1_i). t_fft: 2 k entries of n doubles. gram: 4 h doubles
// (F0, F1, F01 re, F01 im).
void gram(const KiParamSet& p, const double* t_fft, double* g) noexcept {
    const std::size_t n = sz(p.n), h = n / 2, k = sz(p.k);
    std::memset(g, 0, 4 * h * sizeof(double));
    double* f0 = g;
    double* f1 = g + h;
    double* f01r = g + 2 * h;
    double* f01i = g + 3 * h;
    for (std::size_t i = 0; i < k; ++i) {
        const double* a = t_fft + i * n;
        const double* b = t_fft + (k + i) * n;
        for (std::size_t j = 0; j < h; ++j) {
            f0[j] += a[j] * a[j] + a[h + j] * a[h + j];
            f1[j] += b[j] * b[j] + b[h + j] * b[h + j];
        }
        fft_mul_adj_acc(h, a, a + h, b, b + h, f01r, f01i);
    }
}

// The exact conversion of small integers (|v| < 2^51) that vectorises (an
// int64 -> double conversion has no AVX2 instruction). Used on trapdoor
// coefficients, whose bound is checked separately: for a coefficient out of
// bound the value is wrong, but such a key is refused anyway.
inline double small_to_double(std::int64_t v) noexcept {
    return gauss::detail::small_to_double(static_cast<std::uint64_t>(v));
}

void trapdoor_fft(const KiParamSet& p, const std::int64_t* t, double* t_fft) noexcept {
    const std::size_t n = sz(p.n);
    const FftPlan& plan = fft_plan(p.log_n);
    for (std::size_t e = 0; e < 2 * sz(p.k); ++e) {
        for (std::size_t j = 0; j < n; ++j) t_fft[e * n + j] = small_to_double(t[e * n + j]);
        plan.forward(t_fft + e * n);
    }
}

double s1_squared_from_fft(const KiParamSet& p, const double* t_fft) {
    const std::size_t h = sz(p.n) / 2;
    SecretBuffer<double> g(4 * h);
    gram(p, t_fft, g.data());
    return max_gram_eigenvalue(h, g.data(), g.data() + h, g.data() + 2 * h, g.data() + 3 * h);
}

// Sigma' = s^2 I - zeta T T* per point, zeta = rho^2 s^2 / w^2 (the
// covariance of p1 given p2): a = s^2 - zeta F0 (entry 0), d = s^2 - zeta F1
// (entry 1), b = -zeta F01 (their cross term). g: the Gram sums of gram().
void short_covariance_values(const KiParamSet& p, const double* g, double* a, double* d, double* b_re,
                             double* b_im) noexcept {
    const std::size_t h = sz(p.n) / 2;
    const double s2 = p.s * p.s, rho2 = p.rho * p.rho, w2 = s2 - rho2;
    const double zeta = rho2 * s2 / w2;
    for (std::size_t j = 0; j < h; ++j) {
        a[j] = s2 - zeta * g[j];
        d[j] = s2 - zeta * g[h + j];
        b_re[j] = -zeta * g[2 * h + j];
        b_im[j] = -zeta * g[3 * h + j];
    }
}

// 1 when the non-negative double x is at most y, from the bit patterns.
inline std::uint64_t le_nonneg(double x, double y) noexcept {
    return 1 ^ ct::lt(std::bit_cast<std::uint64_t>(y), std::bit_cast<std::uint64_t>(x));
}

std::uint64_t coeffs_in_bound(const std::int64_t* t, std::size_t count, std::int64_t bound) noexcept {
    std::uint64_t bad = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t s = t[i] >> 63;
        const auto mag = static_cast<std::uint64_t>((t[i] ^ s) - s);
        bad |= ct::lt(static_cast<std::uint64_t>(bound), mag);
    }
    return 1 ^ bad;
}

}  // namespace

const NttTables& ntt_tables(const KiParamSet& p) {
    return cached<NttTables>(p, [&] { return std::make_unique<NttTables>(p.q, p.log_n, p.psi); });
}

const GadgetSampler& gadget_sampler(const KiParamSet& p) {
    return cached<GadgetSampler>(p, [&] { return std::make_unique<GadgetSampler>(p.q, p.base, p.k, p.r, p.rho); });
}

PublicKey make_public_key(const KiParamSet& p, std::vector<std::int64_t> coeffs) {
    const std::size_t n = sz(p.n);
    if (coeffs.size() != sz(p.m())) throw std::invalid_argument("public key: wrong number of coefficients");
    const NttTables& t = ntt_tables(p);
    PublicKey pk;
    pk.params = &p;
    pk.a = std::move(coeffs);
    for (auto& c : pk.a) c = centre_ct(static_cast<std::int32_t>(c % p.q), t.q);  // public: % is fine
    for (std::size_t j = 0; j < n; ++j)
        if (pk.a[j] != (j == 0 ? 1 : 0)) throw std::invalid_argument("public key: entry 0 is not 1");
    pk.a_ntt.resize(pk.a.size());
    for (std::size_t e = 0; e < sz(p.k + 2); ++e) to_ntt(t, pk.a.data() + e * n, pk.a_ntt.data() + e * n);
    return pk;
}

double trapdoor_s1_squared(const KiParamSet& p, const std::int64_t* t) {
    SecretBuffer<double> t_fft(2 * sz(p.k) * sz(p.n));
    trapdoor_fft(p, t, t_fft.data());
    return s1_squared_from_fft(p, t_fft.data());
}

bool check_secret_key(const KiParamSet& p, const std::int64_t* t) {
    const std::uint64_t in_bound = coeffs_in_bound(t, 2 * sz(p.k * p.n), trapdoor_coeff_bound(p));
    const std::uint64_t s1_ok = le_nonneg(trapdoor_s1_squared(p, t), p.s1_max * p.s1_max);
    // Whether a key may be loaded is public (a refused key is not used).
    return ct::declassified(in_bound & s1_ok) != 0;
}

KeyPair keygen(const KiParamSet& p, WordStream& ws) {
    const std::size_t n = sz(p.n), k = sz(p.k);
    const NttTables& nt = ntt_tables(p);
    KeyPair kp;
    kp.sk.params = &p;
    kp.sk.t = SecretBuffer<std::int64_t>(2 * k * n);
    std::int64_t* t = kp.sk.t.data();
    for (;;) {
        gauss::sample_centred_batch(ws, p.K_T, t, 2 * k * n);
        const std::uint64_t ok = le_nonneg(trapdoor_s1_squared(p, t), p.s1_max * p.s1_max);
        // A rejected trapdoor is discarded, so the decision reveals nothing about the kept one.
        if (ct::declassified(ok) != 0) break;
    }

    // a, uniform in [0, q): public, so its words may decide the rejection.
    std::vector<std::int64_t> coeffs(sz(p.m()), 0);
    coeffs[0] = 1;
    std::int64_t* a = coeffs.data() + n;
    const std::uint64_t mask = (std::uint64_t{1} << p.q_bits()) - 1;
    for (std::size_t filled = 0; filled < n;) {
        const std::uint64_t w = ct::declassified(ws.next());
        for (std::uint64_t half : {w & 0xFFFFFFFFu, w >> 32}) {
            const std::uint64_t v = half & mask;
            if (v < static_cast<std::uint64_t>(p.q) && filled < n) a[filled++] = static_cast<std::int64_t>(v);
        }
    }

    // A_(i+2) = b^i - (a T1_i + T0_i), with a in Montgomery form (a R) so that
    // one Montgomery product gives a T1_i.
    std::vector<std::int32_t> a_ntt(n), r2(n, nt.r2);
    SecretBuffer<std::int32_t> a_mont(n), row(n);
    to_ntt(nt, a, a_ntt.data());
    ntt_pointwise(nt, a_mont.data(), a_ntt.data(), r2.data());
    const double inv_q = 1.0 / static_cast<double>(p.q);
    for (std::size_t i = 0; i < k; ++i) {
        to_ntt(nt, t + (k + i) * n, row.data());
        ntt_pointwise(nt, row.data(), a_mont.data(), row.data());
        ntt_inverse(nt, row.data(), false);
        std::int64_t* dst = coeffs.data() + (i + 2) * n;
        for (std::size_t j = 0; j < n; ++j) {
            const std::int64_t v = (j == 0 ? gadget_entry(p, i) : 0) - row[j] - t[i * n + j];
            dst[j] = centre_ct(reduce_ct(v, p.q, inv_q), nt.q);
        }
    }
    // The public row is public.
    ct::declassify(coeffs.data(), coeffs.size() * sizeof(std::int64_t));
    kp.pk = make_public_key(p, std::move(coeffs));
    return kp;
}

KeyPair keygen(const KiParamSet& p) {
    WordStream ws = [] {
        DrawLock lock;
        return WordStream::from_draws();
    }();
    return keygen(p, ws);
}

bool key_pair_matches(const PublicKey& pk, const SecretKey& sk) {
    if (pk.params == nullptr || pk.params != sk.params) return false;
    const KiParamSet& p = *pk.params;
    const std::size_t n = sz(p.n), k = sz(p.k);
    if (sk.t.size() != 2 * k * n || pk.a_ntt.size() != sz(p.m())) return false;
    const NttTables& nt = ntt_tables(p);
    SecretBuffer<std::int32_t> acc(n), row(n);
    SecretBuffer<std::int64_t> out(n);
    std::uint64_t bad = 0;
    for (std::size_t i = 0; i < k; ++i) {
        // A_0 T0_i + A_1 T1_i + A_(i+2) must be the constant b^i.
        std::fill(acc.begin(), acc.end(), 0);
        to_ntt(nt, sk.t.data() + i * n, row.data());
        ntt_pointwise_acc(nt, acc.data(), pk.a_ntt.data(), row.data());
        to_ntt(nt, sk.t.data() + (k + i) * n, row.data());
        ntt_pointwise_acc(nt, acc.data(), pk.a_ntt.data() + n, row.data());
        from_ntt_centred(nt, acc.data(), out.data());
        const double inv_q = 1.0 / static_cast<double>(p.q);
        for (std::size_t j = 0; j < n; ++j) {
            const std::int64_t v = out[j] + pk.a[(i + 2) * n + j] - (j == 0 ? gadget_entry(p, i) : 0);
            bad |= static_cast<std::uint64_t>(reduce_ct(v, p.q, inv_q) != 0);
        }
    }
    // Whether the keys match is the answer asked for.
    return ct::declassified(bad) == 0;
}

// ---------------------------------------------------------------------------
// Prepared signing key

SigningKey::SigningKey(const PublicKey& pk, const SecretKey& sk) {
    if (pk.params == nullptr || pk.params != sk.params) throw std::invalid_argument("SigningKey: keys of different sets");
    const KiParamSet& p = *pk.params;
    const std::size_t n = sz(p.n), h = n / 2, k = sz(p.k);
    if (sk.t.size() != 2 * k * n || pk.a_ntt.size() != sz(p.m()))
        throw std::invalid_argument("SigningKey: wrong key sizes");
    p_ = &p;
    ntt_ = &ntt_tables(p);
    fft_ = &fft_plan(p.log_n);
    gadget_ = &gadget_sampler(p);
    a_ntt_ = SecretBuffer<std::int32_t>(pk.a_ntt.size());
    std::copy(pk.a_ntt.begin(), pk.a_ntt.end(), a_ntt_.begin());

    t_fft_ = SecretBuffer<double>(2 * k * n);
    trapdoor_fft(p, sk.t.data(), t_fft_.data());
    const std::uint64_t in_bound = coeffs_in_bound(sk.t.data(), 2 * k * n, trapdoor_coeff_bound(p));
    SecretBuffer<double> g(4 * h);
    gram(p, t_fft_.data(), g.data());
    const double lam = max_gram_eigenvalue(h, g.data(), g.data() + h, g.data() + 2 * h, g.data() + 3 * h);
    // A key that fails the check is refused and never used.
    if (ct::declassified(in_bound & le_nonneg(lam, p.s1_max * p.s1_max)) == 0)
        throw std::invalid_argument("SigningKey: trapdoor out of range");

    // Checked above: every |t| <= 10 K_T - 1 < q / 2 is already a valid NTT input.
    t_ntt_ = SecretBuffer<std::int32_t>(2 * k * n);
    for (std::size_t e = 0; e < 2 * k; ++e) {
        std::int32_t* dst = t_ntt_.data() + e * n;
        for (std::size_t j = 0; j < n; ++j) dst[j] = static_cast<std::int32_t>(sk.t[e * n + j]);
        ntt_forward(*ntt_, dst);
    }

    const double s2 = p.s * p.s, rho2 = p.rho * p.rho, w2 = s2 - rho2;
    centre_scale_ = -rho2 / w2;
    SecretBuffer<double> av(h), dv(h), bv(n), schur(h), scratch(FieldTree::scratch_size(n));
    short_covariance_values(p, g.data(), av.data(), dv.data(), bv.data(), bv.data() + h);
    l_top_ = SecretBuffer<double>(n);
    for (std::size_t j = 0; j < h; ++j) {
        const double br = bv[j], bi = bv[h + j], d = dv[j];
        l_top_[j] = br / d;
        l_top_[h + j] = bi / d;
        schur[j] = av[j] - (br * br + bi * bi) / d;
    }
    flush_tiny(l_top_.data(), n);
    tree_d_.build(*fft_, dv.data(), scratch.data());
    tree_schur_.build(*fft_, schur.data(), scratch.data());
}

void SigningKey::require_key() const {
    if (t_ntt_.empty()) throw std::logic_error("SigningKey: moved-from key");
}

namespace {

// Per-thread working arrays of signing, sized for the last set used and wiped
// after every preimage (they hold the perturbation, the syndrome and z).
struct Workspace {
    SecretBuffer<std::int64_t> p, v, z, tz;
    SecretBuffer<std::int64_t> acc0, acc1;  // wide sums in the transform domain
    SecretBuffer<std::int32_t> row;
    SecretBuffer<double> c0, c1, buf, q1_fft, field_scratch, gadget_scratch;
    SecretBuffer<std::int64_t> gadget_iscratch;

    void wipe_all() noexcept {
        p.wipe(), v.wipe(), z.wipe(), tz.wipe(), acc0.wipe(), acc1.wipe(), row.wipe();
        c0.wipe(), c1.wipe(), buf.wipe(), q1_fft.wipe(), field_scratch.wipe(), gadget_scratch.wipe();
        gadget_iscratch.wipe();
    }
};

Workspace& workspace() {
    thread_local Workspace w;
    return w;
}

template <typename T>
T* sized(SecretBuffer<T>& b, std::size_t count) {
    if (b.size() != count) b = SecretBuffer<T>(count);
    return b.data();
}

}  // namespace

void SigningKey::sample_perturbation(std::int64_t* pert, WordStream& ws) const {
    require_key();
    struct Wiper {
        ~Wiper() { workspace().wipe_all(); }
    } wiper;
    perturb(pert, ws);
}

void SigningKey::perturb(std::int64_t* pert, WordStream& ws) const {
    const KiParamSet& p = *p_;
    const std::size_t n = sz(p.n), h = n / 2, k = sz(p.k);
    Workspace& w = workspace();
    double* c0 = sized(w.c0, n);
    double* c1 = sized(w.c1, n);
    double* buf = sized(w.buf, n);
    double* q1_fft = sized(w.q1_fft, n);
    double* fscratch = sized(w.field_scratch, FieldTree::scratch_size(n));

    // 1. Long part p2 ~ D_{Z, w}, k n coefficients.
    std::int64_t* p2 = pert + 2 * n;
    gauss::sample_centred_batch(ws, p.K_w, p2, k * n);

    // 2. Centre of the short part: -(rho^2 / w^2) T p2, in the FFT domain.
    centre_fft(p2, c0, c1, buf);

    // 3. Short part by the 2 x 2 step: entry 1 with covariance d, then entry 0
    // around c0 + (b / d)(q1 - c1) with covariance a - b b* / d.
    tree_d_.sample(ws, *fft_, c1, pert + n, q1_fft, fscratch);
    for (std::size_t j = 0; j < h; ++j) {
        const double dr = q1_fft[j] - c1[j], di = q1_fft[h + j] - c1[h + j];
        c0[j] += l_top_[j] * dr - l_top_[h + j] * di;
        c0[h + j] += l_top_[j] * di + l_top_[h + j] * dr;
    }
    flush_tiny(c0, n);
    tree_schur_.sample(ws, *fft_, c0, pert, buf, fscratch);
}

void SigningKey::centre_fft(const std::int64_t* p2, double* c0, double* c1, double* buf) const {
    const std::size_t n = sz(p_->n), h = n / 2, k = sz(p_->k);
    std::memset(c0, 0, n * sizeof(double));
    std::memset(c1, 0, n * sizeof(double));
    for (std::size_t i = 0; i < k; ++i) {
        for (std::size_t j = 0; j < n; ++j) buf[j] = small_to_double(p2[i * n + j]);
        fft_->forward(buf);
        const double* t0 = t_fft_.data() + i * n;
        const double* t1 = t_fft_.data() + (k + i) * n;
        fft_mul_acc(h, t0, t0 + h, buf, buf + h, c0, c0 + h);
        fft_mul_acc(h, t1, t1 + h, buf, buf + h, c1, c1 + h);
    }
    for (std::size_t j = 0; j < n; ++j) c0[j] *= centre_scale_, c1[j] *= centre_scale_;
    flush_tiny(c0, n);
    flush_tiny(c1, n);
}

void SigningKey::perturbation_centre(const std::int64_t* p2, double* c) const {
    require_key();
    SecretBuffer<double> buf(sz(p_->n));
    centre_fft(p2, c, c + p_->n, buf.data());
    fft_->inverse(c);
    fft_->inverse(c + p_->n);
}

void SigningKey::short_covariance(double* a, double* b, double* d) const {
    require_key();
    const KiParamSet& p = *p_;
    const std::size_t n = sz(p.n), h = n / 2;
    SecretBuffer<double> g(4 * h);
    gram(p, t_fft_.data(), g.data());
    short_covariance_values(p, g.data(), a, d, b, b + h);
    std::memset(a + h, 0, h * sizeof(double));  // self-adjoint: real values
    std::memset(d + h, 0, h * sizeof(double));
    fft_->inverse(a);
    fft_->inverse(b);
    fft_->inverse(d);
}

void SigningKey::sample_preimage(const std::int64_t* u, std::int64_t* x, WordStream& ws) const {
    require_key();
    const KiParamSet& p = *p_;
    const std::size_t n = sz(p.n), k = sz(p.k);
    const NttTables& nt = *ntt_;
    Workspace& w = workspace();
    struct Wiper {
        Workspace& w;
        ~Wiper() { w.wipe_all(); }
    } wiper{w};
    std::int64_t* pert = sized(w.p, (k + 2) * n);
    std::int64_t* v = sized(w.v, n);
    std::int64_t* z = sized(w.z, k * n);
    std::int64_t* tz = sized(w.tz, 2 * n);
    std::int64_t* acc0 = sized(w.acc0, n);
    std::int64_t* acc1 = sized(w.acc1, n);
    std::int32_t* row = sized(w.row, n);
    const std::int64_t* p2 = pert + 2 * n;

    perturb(pert, ws);

    // 4. Syndrome v = u - A p mod q, in [0, q). The products are summed in
    // 64 bits and reduced once (the moduli leave room for k + 2 of them).
    ntt_wide_clear(nt, acc0);
    for (std::size_t e = 0; e < k + 2; ++e) {
        to_ntt(nt, pert + e * n, row);
        ntt_mul_acc_wide(nt, acc0, a_ntt_.data() + e * n, row);
    }
    ntt_reduce_wide(nt, row, acc0);
    ntt_inverse(nt, row, true);
    const double inv_q = 1.0 / static_cast<double>(p.q);
    for (std::size_t j = 0; j < n; ++j) {
        // u is public: any integer, reduced here with a plain remainder.
        const std::int64_t uj = u[j] % p.q;
        v[j] = nonneg_ct(reduce_ct(uj - row[j], p.q, inv_q), p.q);
    }

    // 5. Gadget solutions z_j, digit i of coefficient j at z[i n + j].
    gadget_->sample(ws, v, n, z, n, w.gadget_scratch, w.gadget_iscratch);

    // 6. x = (p1 + T z, p2 + z).
    ntt_wide_clear(nt, acc0);
    ntt_wide_clear(nt, acc1);
    for (std::size_t i = 0; i < k; ++i) {
        to_ntt(nt, z + i * n, row);
        ntt_mul_acc_wide(nt, acc0, t_ntt_.data() + i * n, row);
        ntt_mul_acc_wide(nt, acc1, t_ntt_.data() + (k + i) * n, row);
    }
    ntt_reduce_wide(nt, row, acc0);
    from_ntt_centred(nt, row, tz);
    ntt_reduce_wide(nt, row, acc1);
    from_ntt_centred(nt, row, tz + n);
    for (std::size_t j = 0; j < 2 * n; ++j) x[j] = pert[j] + tz[j];
    for (std::size_t j = 0; j < k * n; ++j) x[2 * n + j] = p2[j] + z[j];
}

Signature SigningKey::sign(const std::uint8_t* msg, std::size_t len, WordStream& ws) const {
    require_key();
    const KiParamSet& p = *p_;
    const std::size_t m = sz(p.m());
    Signature sig;
    for (std::size_t i = 0; i < kSaltBytes / 8; ++i) {
        const std::uint64_t word = ws.next();
        for (std::size_t b = 0; b < 8; ++b) sig.salt[8 * i + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
    // The salt is published with the signature.
    ct::declassify(sig.salt.data(), sig.salt.size());
    std::vector<std::int64_t>& u = sig.target;
    u.resize(sz(p.n));
    hash_to_ring(p, sig.salt.data(), msg, len, u.data());

    sig.x.assign(m, 0);
    const auto beta2 = static_cast<std::uint64_t>(p.beta_squared);
    const auto floor2 = static_cast<std::uint64_t>(0.81 * p.s * p.s * static_cast<double>(m));
    std::uint64_t norm2 = 0;
    for (;;) {
        sample_preimage(u.data(), sig.x.data(), ws);
        norm2 = 0;
        for (std::size_t i = 0; i < m; ++i) norm2 += static_cast<std::uint64_t>(sig.x[i] * sig.x[i]);
        // The preimage's distribution does not depend on the key, so neither
        // does the chance of redrawing it.
        if (ct::declassified(ct::lt(beta2, norm2)) == 0) break;
    }
    // Refusing is public; it only happens when the perturbation was skipped.
    if (ct::declassified(ct::lt(norm2, floor2)) != 0) {
        secure_zero(sig.x.data(), m * sizeof(std::int64_t));
        throw std::runtime_error("sign: signature implausibly short");
    }
    // The signature is released.
    ct::declassify(sig.x.data(), m * sizeof(std::int64_t));
    return sig;
}

Signature SigningKey::sign(const std::uint8_t* msg, std::size_t len) const {
    WordStream ws = [] {
        DrawLock lock;
        return WordStream::from_draws();
    }();
    return sign(msg, len, ws);
}

// ---------------------------------------------------------------------------
// Verification (public data: variable time is fine)

bool verify_target(const PublicKey& pk, const std::int64_t* x, const std::int64_t* target) {
    if (pk.params == nullptr || x == nullptr || target == nullptr) return false;
    const KiParamSet& p = *pk.params;
    const std::size_t n = sz(p.n), m = sz(p.m());
    if (pk.a_ntt.size() != m) return false;
    const NttTables& nt = ntt_tables(p);
    const std::int64_t half = p.q / 2;  // |x_i| < q/2 means |x_i| <= (q-1)/2
    std::int64_t norm2 = 0;
    for (std::size_t i = 0; i < m; ++i) {
        if (x[i] > half || x[i] < -half) return false;
        norm2 += x[i] * x[i];
        if (norm2 > p.beta_squared) return false;
    }
    std::vector<std::int64_t> acc(n, 0);  // a cleared wide sum
    std::vector<std::int32_t> row(n);
    for (std::size_t e = 0; e < sz(p.k + 2); ++e) {
        for (std::size_t j = 0; j < n; ++j) row[j] = static_cast<std::int32_t>(x[e * n + j]);
        ntt_forward(nt, row.data());
        ntt_mul_acc_wide(nt, acc.data(), pk.a_ntt.data() + e * n, row.data());
    }
    ntt_reduce_wide(nt, row.data(), acc.data());
    ntt_inverse(nt, row.data(), true);
    for (std::size_t j = 0; j < n; ++j)
        if ((target[j] - row[j]) % p.q != 0) return false;
    return true;
}

bool verify(const PublicKey& pk, const std::uint8_t* salt, const std::int64_t* x, const std::uint8_t* msg,
            std::size_t len) {
    if (pk.params == nullptr || salt == nullptr || x == nullptr || (msg == nullptr && len > 0)) return false;
    std::vector<std::int64_t> u(sz(pk.params->n));
    hash_to_ring(*pk.params, salt, msg, len, u.data());
    return verify_target(pk, x, u.data());
}

bool verify(const PublicKey& pk, const Signature& sig, const std::uint8_t* msg, std::size_t len) {
    if (pk.params == nullptr || sig.x.size() != sz(pk.params->m())) return false;
    return verify(pk, sig.salt.data(), sig.x.data(), msg, len);
}

}  // namespace ringtrap::ki
