#include "SampleP.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "fft.h"
#include "util.h"

namespace ringtrap {

namespace {

bool is_power_of_two(std::int64_t len) { return len > 0 && (len & (len - 1)) == 0; }

// A leaf draws with the square root of its variance, and with width 0 when the
// variance is negative or NaN (-0.0 passes the test; its root -0.0 is a zero
// width all the same).
double leaf_width(double variance) { return variance >= 0.0 ? std::sqrt(variance) : 0.0; }

// One node of the field sampler for lengths that are not a power of two,
// following the recursion step by step. Every node polynomial has length L;
// f and c hold its first `prefix` coefficients, the rest being +0.0, which the
// plain recursion would scan and copy without effect. Returns the node's
// result up to its last possibly non-zero coefficient. Total work and memory
// are O(L log L) and O(L) instead of the plain recursion's O(L^2).
SecretBuffer<std::int64_t> field_node(const double* f, const double* c, std::size_t prefix, std::size_t L) {
    bool constant = true;
    for (std::size_t i = prefix; i-- > 1;) {
        if (!(f[i] == 0.0)) {  // NaN is non-zero
            constant = false;
            break;
        }
    }
    if (constant) {
        SecretBuffer<std::int64_t> leaf(1);
        leaf[0] = Oracle_1(c[0], leaf_width(f[0]));
        return leaf;
    }

    // Halves keep only the first L/2 coefficients of the parent's split; the
    // last coefficient of an odd-length node belongs to neither half.
    const std::size_t half = L / 2;
    const std::size_t sub = std::min((prefix + 1) / 2, half);
    SecretBuffer<double> f_even(sub), c_even(sub), c_odd(sub);
    for (std::size_t j = 0; j < sub; ++j) {
        f_even[j] = f[2 * j];
        c_even[j] = c[2 * j];
        c_odd[j] = 2 * j + 1 < prefix ? c[2 * j + 1] : 0.0;
    }
    // The even half of f is both diagonal blocks; the odd half of f only ever
    // took part in the scan above. The odd half is drawn first.
    const SecretBuffer<std::int64_t> q_odd = field_node(f_even.data(), c_odd.data(), sub, L);
    const SecretBuffer<std::int64_t> q_even = field_node(f_even.data(), c_even.data(), sub, L);

    // Interleave; child coefficients at or beyond L/2 have no place and drop.
    const std::size_t keep = std::min(std::max(q_even.size(), q_odd.size()), half);
    SecretBuffer<std::int64_t> out(2 * keep);
    for (std::size_t j = 0; j < keep; ++j) {
        if (j < q_even.size()) out[2 * j] = q_even[j];
        if (j < q_odd.size()) out[2 * j + 1] = q_odd[j];
    }
    return out;
}

// Coefficient i of a record, 0 past its end.
std::int64_t coeff_or_zero(const poly_R& p, std::int64_t i) { return p.coeffs != nullptr && i < p.len ? p.coeffs[i] : 0; }

// A sum of `terms` pointwise products in the transform domain: in 64 bits with
// one reduction at the end where the modulus leaves room for that many
// products (always at the built-in sets), chained otherwise.
class RowSum {
public:
    RowSum(const NttTables& t, std::int64_t terms)
        : t_(t), wide_(terms <= ntt_wide_terms(t)), sum64_(wide_ ? static_cast<std::size_t>(t.n) : 0),
          sum32_(wide_ ? 0 : static_cast<std::size_t>(t.n)) {}
    void add(const std::int32_t* a, const std::int32_t* b) noexcept {
        if (wide_)
            ntt_mul_acc_wide(t_, sum64_.data(), a, b);
        else
            ntt_pointwise_acc(t_, sum32_.data(), a, b);
    }
    // The sum times 2^-32, in (-q, q) (for ntt_inverse(..., true)).
    void result(std::int32_t* out) noexcept {
        if (wide_)
            ntt_reduce_wide(t_, out, sum64_.data());
        else
            std::copy(sum32_.data(), sum32_.data() + t_.n, out);
    }

private:
    const NttTables& t_;
    bool wide_;
    SecretBuffer<std::int64_t> sum64_;  // zeroed on allocation: an empty wide sum
    SecretBuffer<std::int32_t> sum32_;
};

// One short block s^2 - zeta (T T) from a row in the transform domain, as the
// plain computation would produce it, reduced to its plan.
FieldSamplerPlan block_plan(const NttTables& t, std::int64_t gadget_len, const SecretBuffer<std::int32_t>& row_ntt,
                            double zeta, double s_) {
    const auto len = static_cast<std::size_t>(t.n);
    SecretBuffer<std::int32_t> acc(len);
    RowSum sum(t, gadget_len);
    for (std::int64_t j = 0; j < gadget_len; ++j) {
        const std::int32_t* e = row_ntt.data() + static_cast<std::size_t>(j) * len;
        sum.add(e, e);
    }
    sum.result(acc.data());
    ntt_inverse(t, acc.data(), true);
    SecretBuffer<double> block(len);
    for (std::size_t i = 0; i < len; ++i) block[i] = static_cast<double>(centre(acc[i], t.q)) * (-zeta);
    block[0] = block[0] + s_ * s_;
    return plan_field_sampler(block.data(), t.n);
}

// The perturbation sampler on record operations: the path for rows, lengths
// or tables that the transform-domain path does not cover.
mat_poly_R sample_p_records(std::int64_t n_, double s_, double r_, const mat_poly_R& T0, const mat_poly_R& T1,
                            std::int64_t gadget_len) {
    const std::int64_t len = n_ > 0 ? n_ : 0;
    const std::int64_t entries = gadget_len > 0 ? gadget_len : 0;
    const PerturbationWidths w = perturbation_widths(s_, r_);
    const double rho = w.rho, zeta = w.zeta;

    // T0 T1 is the off-diagonal block, which the field sampler never reads.
    const poly_R p11 = inner_product_mat_poly_R(T1, T1);
    const poly_R p00 = inner_product_mat_poly_R(T0, T0);
    poly_K a = create_poly_K(len), b = create_poly_K(len), d = create_poly_K(len);
    for (std::int64_t i = 0; i < len; ++i) {
        a.coeffs[i] = static_cast<double>(coeff_or_zero(p11, i)) * (-zeta);
        d.coeffs[i] = static_cast<double>(coeff_or_zero(p00, i)) * (-zeta);
    }
    if (len > 0) {
        a.coeffs[0] = a.coeffs[0] + s_ * s_;
        d.coeffs[0] = d.coeffs[0] + s_ * s_;
    }

    const mat_poly_R G = generate_Gaussian_mat_poly_R(len, 1, entries, w.long_width);

    const poly_R h1 = inner_product_mat_poly_R(T1, G);
    const poly_R h0 = inner_product_mat_poly_R(T0, G);
    mat_poly_K centres = create_mat_poly_K(len, 1, 2);
    for (std::int64_t i = 0; i < len; ++i) {
        centres.entries[0].coeffs[i] = ((-rho) * static_cast<double>(coeff_or_zero(h1, i))) * rho / w.centre_denom;
        centres.entries[1].coeffs[i] = ((-rho) * static_cast<double>(coeff_or_zero(h0, i))) * rho / w.centre_denom;
    }

    const mat_poly_R short_part = Sample_2Z(a, b, d, centres);

    mat_poly_R out = create_mat_poly_R(0, 1, entries + 2);
    out.entries[0] = short_part.entries[0];
    out.entries[1] = short_part.entries[1];
    for (std::int64_t j = 0; j < entries; ++j) out.entries[2 + j] = G.entries[j];
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Field sampler
// ---------------------------------------------------------------------------

FieldSamplerPlan plan_field_sampler(const double* f, std::int64_t L) {
    FieldSamplerPlan plan;
    if (f == nullptr || !is_power_of_two(L)) return plan;
    // All nodes at one depth share the covariance f[0], f[2^j], f[2 2^j], ...
    // A non-zero f[i] keeps the recursion going up to depth ctz(i), so the
    // leaves sit one level below the deepest such index.
    int depth = 0;
    for (std::int64_t i = 1; i < L; ++i)
        if (!(f[i] == 0.0)) depth = std::max(depth, std::countr_zero(static_cast<std::uint64_t>(i)) + 1);
    plan.depth = depth;
    plan.width = leaf_width(f[0]);
    return plan;
}

bool sample_field(const FieldSamplerPlan& plan, const double* centre, std::int64_t L, std::int64_t* out) {
    if (out == nullptr || centre == nullptr || !is_power_of_two(L)) return false;
    if (plan.depth < 0 || plan.depth > 62 || (std::int64_t{1} << plan.depth) > L) return false;
    std::fill(out, out + L, std::int64_t{0});
    // Odd half before even half at every level: leaves in decreasing order of
    // the bit-reversed index.
    const std::uint64_t leaves = std::uint64_t{1} << plan.depth;
    // The draws of a run of leaves can be taken ahead when no leaf can fail to
    // round (which would stop after fewer draws): |g| <= |c| + 4.5600828 w.
    bool bounded = std::fabs(plan.width) < 1.0e18;
    for (std::int64_t i = 0; i < L; ++i) bounded &= std::fabs(centre[i]) < 1.0e18;
    if (!bounded) {
        for (std::uint64_t m = leaves; m-- > 0;) {
            const std::uint64_t i = reverse_bits(m, plan.depth);  // from ntt.h
            out[i] = Oracle_1(centre[i], plan.width);
        }
        return true;
    }
    const gaussian_tables::BoxMuller& t = gaussian_tables::box_muller();
    constexpr std::uint64_t kRun = 256;
    std::uint32_t words[kRun];
    for (std::uint64_t top = leaves; top > 0;) {
        const std::uint64_t run = top < kRun ? top : kRun;
        detail::gaussian_words(words, run);
        for (std::uint64_t j = 0; j < run; ++j) {
            const std::uint64_t i = reverse_bits(--top, plan.depth);
            const std::uint32_t w = words[j];
            out[i] = detail::round_half_away(
                detail::gaussian_from(t.cos_theta[w & 0x7fff], t.radius[w >> 16], centre[i], plan.width));
        }
    }
    secure_zero(words, sizeof words);
    return true;
}

poly_R Sample_FZ(poly_K f, poly_K c) {
    const std::int64_t L = f.coeffs != nullptr && f.len > 0 ? f.len : 0;
    poly_R out = create_poly_R(L);
    if (L == 0) return out;
    const DrawLock lock;

    // Missing centre coefficients read as 0.0, like the zero upper halves of
    // the split polynomials.
    const std::int64_t clen = c.coeffs != nullptr && c.len > 0 ? c.len : 0;
    const double* centre = c.coeffs;
    SecretBuffer<double> padded(clen < L ? static_cast<std::size_t>(L) : 0);
    if (clen < L) {
        std::copy(c.coeffs, c.coeffs + clen, padded.data());
        centre = padded.data();
    }

    if (is_power_of_two(L)) {
        // A power-of-two length always has a usable plan.
        static_cast<void>(sample_field(plan_field_sampler(f.coeffs, L), centre, L, out.coeffs));
    } else {
        const SecretBuffer<std::int64_t> res =
            field_node(f.coeffs, centre, static_cast<std::size_t>(L), static_cast<std::size_t>(L));
        std::copy(res.begin(), res.end(), out.coeffs);
    }
    return out;
}

mat_poly_R Sample_2Z(poly_K a, poly_K b, poly_K d, mat_poly_K c) {
    static_cast<void>(b);  // the two halves are drawn independently
    poly_K c0, c1;
    if (c.entries != nullptr && c.rows > 0 && c.cols > 0) {
        const std::int64_t count = c.rows * c.cols;
        c0 = c.entries[0];
        if (count >= 2) c1 = c.entries[1];
    }
    const DrawLock lock;  // both halves as one run of draws
    const poly_R q1 = Sample_FZ(d, c1);
    const poly_R q0 = Sample_FZ(a, c0);
    mat_poly_R out = create_mat_poly_R(0, 1, 2);
    out.entries[0] = q0;
    out.entries[1] = q1;
    return out;
}

// ---------------------------------------------------------------------------
// Perturbation sampler
// ---------------------------------------------------------------------------

bool PerturbationKey::valid() const noexcept {
    if (tables == nullptr || degree != tables->n || gadget_len < 1 || plans.size() != 2) return false;
    const auto size = static_cast<std::size_t>(gadget_len * degree);
    return t0_ntt.size() == size && t1_ntt.size() == size && plan_a().depth >= 0 && plan_d().depth >= 0;
}

PerturbationWidths perturbation_widths(double s_, double r_) {
    PerturbationWidths w;
    w.rho = r_ * 3.0;
    w.zeta = 1.0 / (1.0 / (w.rho * w.rho) - 1.0 / (s_ * s_));
    w.centre_denom = s_ * s_ - w.rho * w.rho;
    w.long_width = std::sqrt(s_ * s_ - w.rho * w.rho);
    return w;
}

PerturbationKey prepare_perturbation_key(const NttTables& tables, std::int64_t gadget_len, double s_, double r_,
                                         const std::int64_t* t0, const std::int64_t* t1) {
    if (gadget_len < 1 || t0 == nullptr || t1 == nullptr) return PerturbationKey{};
    const std::int64_t len = tables.n;
    const auto total = static_cast<std::size_t>(gadget_len * len);
    SecretBuffer<std::int32_t> t0_ntt(total), t1_ntt(total);
    for (std::int64_t j = 0; j < gadget_len; ++j) {
        std::int32_t* e0 = t0_ntt.data() + j * len;
        std::int32_t* e1 = t1_ntt.data() + j * len;
        ntt_load(tables, e0, t0 + j * len);
        ntt_load(tables, e1, t1 + j * len);
        ntt_forward(tables, e0);
        ntt_forward(tables, e1);
    }
    return prepare_perturbation_key_ntt(tables, gadget_len, s_, r_, std::move(t0_ntt), std::move(t1_ntt));
}

PerturbationKey prepare_perturbation_key_ntt(const NttTables& tables, std::int64_t gadget_len, double s_, double r_,
                                             SecretBuffer<std::int32_t> t0_ntt, SecretBuffer<std::int32_t> t1_ntt) {
    PerturbationKey key;
    const auto total = static_cast<std::size_t>(gadget_len * tables.n);
    if (gadget_len < 1 || t0_ntt.size() != total || t1_ntt.size() != total) return key;
    key.t0_ntt = std::move(t0_ntt);
    key.t1_ntt = std::move(t1_ntt);
    const PerturbationWidths w = perturbation_widths(s_, r_);
    key.plans = SecretBuffer<FieldSamplerPlan>(2);
    key.plans[0] = block_plan(tables, gadget_len, key.t1_ntt, w.zeta, s_);
    key.plans[1] = block_plan(tables, gadget_len, key.t0_ntt, w.zeta, s_);
    key.rho = w.rho;
    key.centre_denom = w.centre_denom;
    key.long_width = w.long_width;
    key.degree = tables.n;
    key.gadget_len = gadget_len;
    key.tables = &tables;
    return key;
}

PerturbationKey prepare_perturbation_key(const ParamSet& p, const std::int64_t* t0, const std::int64_t* t1) {
    return prepare_perturbation_key(ntt_tables(p), p.k, p.s, p.r, t0, t1);
}

PerturbationKey prepare_perturbation_key(const ParamSet& p, const mat_poly_R& T0, const mat_poly_R& T1) {
    if (!is_row(T0, p.k, p.n) || !is_row(T1, p.k, p.n)) return PerturbationKey{};
    const auto total = static_cast<std::size_t>(p.k * p.n);
    SecretBuffer<std::int64_t> t0(total), t1(total);
    flatten_row(T0, t0.data());
    flatten_row(T1, t1.data());
    return prepare_perturbation_key(p, t0.data(), t1.data());
}

bool sample_perturbation(const PerturbationKey& key, std::int64_t* p_out, std::int32_t* g_ntt) {
    if (p_out == nullptr || !key.valid()) return false;
    const NttTables& t = *key.tables;
    const std::int64_t len = key.degree;
    const auto ulen = static_cast<std::size_t>(len);

    // Long part G, entry by entry, coefficient by coefficient.
    std::int64_t* G = p_out + 2 * len;
    fill_Oracle_1(G, static_cast<std::size_t>(key.gadget_len * len), 0.0, key.long_width);

    // T1 G and T0 G: each G entry is transformed once and both products are
    // accumulated in the transform domain, with one inverse each.
    SecretBuffer<std::int32_t> h1(ulen), h0(ulen), own(g_ntt == nullptr ? ulen : 0);
    RowSum sum1(t, key.gadget_len), sum0(t, key.gadget_len);
    for (std::int64_t j = 0; j < key.gadget_len; ++j) {
        std::int32_t* gj = g_ntt != nullptr ? g_ntt + j * len : own.data();
        ntt_load(t, gj, G + j * len);
        ntt_forward(t, gj);
        sum1.add(key.t1_ntt.data() + j * len, gj);
        sum0.add(key.t0_ntt.data() + j * len, gj);
    }
    sum1.result(h1.data());
    sum0.result(h0.data());
    ntt_inverse(t, h1.data(), true);
    ntt_inverse(t, h0.data(), true);

    // Centres, in the plain order of operations: ((-rho) h) rho / (s^2 - rho^2).
    SecretBuffer<double> c0(ulen), c1(ulen);
    const double rho = key.rho;
    for (std::size_t i = 0; i < ulen; ++i) {
        c0[i] = ((-rho) * static_cast<double>(centre(h1[i], t.q))) * rho / key.centre_denom;
        c1[i] = ((-rho) * static_cast<double>(centre(h0[i], t.q))) * rho / key.centre_denom;
    }

    // Short part: entry 1 (block d, centre from T0 G) is drawn before entry 0.
    // The key's plans fit its length (valid() above), so neither call can fail.
    static_cast<void>(sample_field(key.plan_d(), c1.data(), len, p_out + len));
    static_cast<void>(sample_field(key.plan_a(), c0.data(), len, p_out));
    return true;
}

mat_poly_R Sample_P(std::int64_t n_, std::int64_t q, double s_, double r_, const mat_poly_R& T0, const mat_poly_R& T1) {
    static_cast<void>(q);  // the products use the global modulus, which callers pass as q
    const DrawLock lock;
    const std::int64_t gadget_len = k;
    const NttTables* t = current_ntt_tables();
    if (t == nullptr || gadget_len < 1 || n_ != t->n || !is_row(T0, gadget_len, n_) || !is_row(T1, gadget_len, n_))
        return sample_p_records(n_, s_, r_, T0, T1, gadget_len);

    const auto row = static_cast<std::size_t>(gadget_len * n_);
    PerturbationKey key;
    {
        SecretBuffer<std::int64_t> t0(row), t1(row);
        flatten_row(T0, t0.data());
        flatten_row(T1, t1.data());
        key = prepare_perturbation_key(*t, gadget_len, s_, r_, t0.data(), t1.data());
    }
    SecretBuffer<std::int64_t> flat(static_cast<std::size_t>((gadget_len + 2) * n_));
    if (!sample_perturbation(key, flat.data(), nullptr)) throw std::logic_error("Sample_P: unusable trapdoor rows");
    mat_poly_R out = create_mat_poly_R(n_, 1, gadget_len + 2);
    for (std::int64_t j = 0; j < gadget_len + 2; ++j)
        std::copy(flat.data() + j * n_, flat.data() + (j + 1) * n_, out.entries[j].coeffs);
    return out;
}

}  // namespace ringtrap
