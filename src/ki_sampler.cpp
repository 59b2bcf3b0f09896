#include "ki_sampler.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ringtrap::ki {

namespace {

std::size_t sz(std::int64_t v) { return static_cast<std::size_t>(v); }

}  // namespace

// ---------------------------------------------------------------------------
// Gadget sampler
//
// Why it works. Lambda_v(g) = {z : <g, z> = v mod q} is t + B Z^k with t the
// base-b digits of v and B = S D: S has b on the diagonal and -1 below it (its
// columns b e_i - e_(i+1) are orthogonal to g), D = [e_0 ... e_(k-2) | d] with
// S d = the digits of q, i.e. d_i = (q mod b^(i+1)) / b^(i+1). For a centre y,
// z = t + S D a is distributed as exp(-|S^-1 (z - y)|^2 / 2r^2) exactly when a
// is drawn with density exp(-|D a - c|^2 / 2r^2), c = S^-1 (y - t): c_i =
// (y_i - t_i + c_(i-1)) / b. D is the identity except for its last column, so
// Klein's sampler on D takes a_(k-1) around c_(k-1) / d_(k-1) at width
// r / d_(k-1), then every other a_i independently around c_i - d_i a_(k-1) at
// width r. The Gram-Schmidt lengths of D are 1 and d_(k-1) = q / b^k in
// [0.75, 1), so r >= eta(Z) makes each step's normalisation independent of
// its centre: z is a discrete Gaussian on the coset with covariance r^2 S S^T
// around y. Drawing y from the continuous N(0, rho^2 I - r^2 S S^T) first makes
// the sum spherical: convolving a discrete Gaussian of covariance r^2 S S^T
// (above smoothing, which is the only condition when the other part is
// continuous) with a continuous one of the complementary covariance leaves
// D_{Lambda_v(g), rho}.
//
// The margin. rho^2 = r^2 (lambda_max + 1/4) gives M = rho^2 I - r^2 S S^T >=
// r^2 / 4 I. The spectrum of S S^T lies in [(b - 1)^2, (b + 1)^2], so M's
// condition number is at most (4b + 1/4) / (1/4) = 16 b + 1 (65 for b = 4),
// and every Cholesky pivot is at least r^2 / 4. The computed bidiagonal factor
// is the exact factor of M + E with |E| within a few 2^-53 of |L| |L^T| (a
// tridiagonal matrix, so a handful of roundings per entry): far below r^2 / 4,
// so no rounding (nor the bisection's error in lambda_max, below 2^-40) can
// make the continuous covariance indefinite, and y's covariance is M to a
// relative 2^-50. A smaller margin would gain at most 0.5 % of s at b = 4.
// ---------------------------------------------------------------------------

double GadgetSampler::lambda_max_sst(std::int64_t base, std::int64_t k) {
    // Sturm count on the tridiagonal S S^T (diagonal b^2, b^2 + 1, ...,
    // b^2 + 1; off-diagonal -b): the number of eigenvalues below x is the
    // number of negative pivots of S S^T - x I. Bisection on [0, (b + 1)^2]
    // (Gershgorin).
    const double b = static_cast<double>(base), b2 = b * b;
    auto below = [k, b2](double x) {
        std::int64_t count = 0;
        double p = b2 - x;
        count += p < 0;
        for (std::int64_t i = 1; i < k; ++i) {
            if (p == 0.0) p = 1e-300;
            p = b2 + 1.0 - x - b2 / p;
            count += p < 0;
        }
        return count;
    };
    double lo = 0.0, hi = (b + 1) * (b + 1);
    for (int it = 0; it < 200; ++it) {
        const double mid = 0.5 * (lo + hi);
        if (below(mid) < k) lo = mid; else hi = mid;
    }
    return lo;
}

GadgetSampler::GadgetSampler(std::int64_t q, std::int64_t base, std::int64_t k, double r, double rho)
    : base_(base), k_(k), log_b_(0), inv_b_(0), r_(r), rho_(rho) {
    if (base < 2 || (base & (base - 1)) != 0) throw std::invalid_argument("GadgetSampler: base must be a power of two");
    while ((std::int64_t{1} << (log_b_ + 1)) <= base) ++log_b_;
    if (k < 2 || static_cast<std::int64_t>(log_b_) * k > 40)
        throw std::invalid_argument("GadgetSampler: k out of range");
    const std::int64_t top = std::int64_t{1} << (static_cast<std::int64_t>(log_b_) * k);  // b^k
    if (q >= top || 4 * q < 3 * top) throw std::invalid_argument("GadgetSampler: q must lie in [0.75 b^k, b^k)");
    inv_b_ = 1.0 / static_cast<double>(base);  // exact: b is a power of two
    d_.resize(sz(k));
    qdigit_.resize(sz(k));
    for (std::int64_t i = 0; i < k; ++i) {
        const std::int64_t mod = std::int64_t{1} << (static_cast<std::int64_t>(log_b_) * (i + 1));
        d_[sz(i)] = static_cast<double>(q % mod) / static_cast<double>(mod);
        qdigit_[sz(i)] = (q >> (log_b_ * static_cast<unsigned>(i))) & (base - 1);
    }
    last_sigma_ = r / d_[sz(k - 1)];
    const gauss::NarrowTable& tr = gauss::narrow_table_r();
    const gauss::NarrowTable& tw = gauss::narrow_table_r_wide();
    if (!(r >= 0.5 * gauss::narrow_base_sigma(tr) && r <= gauss::narrow_base_sigma(tr)) ||
        !(last_sigma_ >= 0.5 * gauss::narrow_base_sigma(tw) && last_sigma_ <= gauss::narrow_base_sigma(tw)))
        throw std::invalid_argument("GadgetSampler: widths outside the narrow tables");
    // Cholesky factor of the tridiagonal M = rho^2 I - r^2 S S^T:
    // M_00 = rho^2 - b^2 r^2, M_ii = rho^2 - (b^2 + 1) r^2, M_(i,i-1) = b r^2.
    chol_diag_.resize(sz(k));
    chol_sub_.assign(sz(k), 0.0);
    const double r2 = r * r, rho2 = rho * rho, b = static_cast<double>(base);
    const double m00 = rho2 - b * b * r2;
    if (!(m00 > 0)) throw std::invalid_argument("GadgetSampler: rho too small");
    chol_diag_[0] = std::sqrt(m00);
    for (std::int64_t i = 1; i < k; ++i) {
        const double sub = b * r2 / chol_diag_[sz(i - 1)];
        const double rest = rho2 - (b * b + 1) * r2 - sub * sub;
        if (!(rest > 0)) throw std::invalid_argument("GadgetSampler: rho too small");
        chol_sub_[sz(i)] = sub;
        chol_diag_[sz(i)] = std::sqrt(rest);
    }
}

void GadgetSampler::sample(WordStream& ws, const std::int64_t* v, std::size_t count, std::int64_t* z,
                           std::size_t stride, SecretBuffer<double>& scratch,
                           SecretBuffer<std::int64_t>& iscratch) const {
    const std::size_t k = sz(k_), km1 = k - 1;
    // Every entry is written before it is read: old contents need not move.
    if (scratch.size() < count * k + count) scratch = SecretBuffer<double>(count * k + count);
    if (iscratch.size() < count * k) iscratch = SecretBuffer<std::int64_t>(count * k);
    double* normals = scratch.data();        // count * k; becomes c, then the centres
    double* last_centre = normals + count * k;  // count
    std::int64_t* a = iscratch.data();       // count * k: a_0 .. a_(k-2), then a_(k-1)
    const auto digit_mask = static_cast<std::uint64_t>(base_ - 1);
    const double b = static_cast<double>(base_);

    // a. y = L g with g standard normal; b. c = S^-1 (y - t).
    gauss::sample_normals(ws, normals, count * k);
    const double inv_d_last = 1.0 / d_[km1];
    for (std::size_t j = 0; j < count; ++j) {
        double* g = normals + j * k;
        const auto vj = static_cast<std::uint64_t>(v[j]);
        double prev_g = 0.0, c = 0.0;
        for (std::size_t i = 0; i < k; ++i) {
            const double y = chol_sub_[i] * prev_g + chol_diag_[i] * g[i];
            prev_g = g[i];
            const auto t = static_cast<double>(static_cast<std::int64_t>((vj >> (log_b_ * i)) & digit_mask));
            c = inv_b_ * (y - t + c);
            g[i] = c;  // g now holds c
        }
        last_centre[j] = g[km1] * inv_d_last;
    }
    // c. a_(k-1) around c_(k-1) / d_(k-1), then the others around c_i - d_i a_(k-1).
    std::int64_t* a_last = a + count * km1;
    gauss::sample_narrow_batch(ws, gauss::narrow_table_r_wide(), last_centre, last_sigma_, a_last, count);
    double* centres = normals;  // in place: coefficient j's k-1 centres at j * (k - 1)
    for (std::size_t j = 0; j < count; ++j) {
        const double al = static_cast<double>(a_last[j]);
        const double* c = normals + j * k;
        double* out = centres + j * km1;
        for (std::size_t i = 0; i < km1; ++i) out[i] = c[i] - d_[i] * al;  // out <= c: forward copy is safe
    }
    gauss::sample_narrow_batch(ws, gauss::narrow_table_r(), centres, r_, a, count * km1);
    // d. z = t + B a: z_i = t_i + b a_i - a_(i-1) + q_i a_(k-1) (a_(k-1) enters through d only).
    const auto bi = static_cast<std::int64_t>(b);
    for (std::size_t j = 0; j < count; ++j) {
        const auto vj = static_cast<std::uint64_t>(v[j]);
        const std::int64_t* aj = a + j * km1;
        const std::int64_t al = a_last[j];
        std::int64_t prev = 0;
        for (std::size_t i = 0; i < k; ++i) {
            const auto t = static_cast<std::int64_t>((vj >> (log_b_ * i)) & digit_mask);
            const std::int64_t ai = i < km1 ? aj[i] : 0;
            z[i * stride + j] = t + bi * ai - prev + qdigit_[i] * al;
            prev = ai;
        }
    }
}

// ---------------------------------------------------------------------------
// Field sampler
//
// For f = f0(x^2) + x f1(x^2) self-adjoint, multiplication by f in the
// (even, odd) coordinates is [[f0, y f1], [f1, f0]] over K_(n/2), y = x^2; it
// is symmetric because f1* = y f1. The odd half is drawn first with
// covariance f0; the even half then has centre c0 + (y f1 / f0)(z1 - c1) and
// covariance f0 - y f1 f1* / f0. At a pair of points (z, -z) with values
// A = f(z), B = f(-z) (real, positive): f0 = (A + B)/2, y f1 / f0 =
// z (A - B)/(A + B), and f0 - y f1 f1* / f0 = 2AB / (A + B).
// ---------------------------------------------------------------------------

void FieldTree::build(const FftPlan& plan, const double* f_values, double* scratch) {
    const std::size_t n = plan.n();
    if (this->n() != n) {
        ratio_ = SecretBuffer<double>(field_tree_ratios(n));  // every entry is written below
        leaves_ = SecretBuffer<gauss::WideWidth>(n / 2);
    }
    double* f = scratch;  // n / 2 values, consumed by the recursion
    std::memcpy(f, f_values, n / 2 * sizeof(double));
    build_rec(plan, n, f, 0, 0, scratch + n / 2);
}

void FieldTree::build_rec(const FftPlan& plan, std::size_t m, double* f, std::size_t pos, std::size_t lpos,
                          double* scratch) {
    if (m == 2) {
        // A self-adjoint element of K_2 is a real constant: two independent
        // coordinates of variance f.
        leaves_[lpos / 2] = gauss::prepare_wide(sqrt_ct(f[0]));
        return;
    }
    const std::size_t h = m / 4;
    double* odd = scratch;       // f0: covariance of the odd half
    double* even = scratch + h;  // 2AB / (A + B): conditional covariance of the even half
    for (std::size_t i = 0; i < h; ++i) {
        const double A = f[2 * i], B = f[2 * i + 1];
        const double sum = A + B;
        ratio_[pos + i] = (A - B) / sum;
        odd[i] = 0.5 * sum;
        even[i] = 2.0 * (A * B) / sum;
    }
    flush_tiny(ratio_.data() + pos, h);
    build_rec(plan, m / 2, odd, pos + h, lpos, scratch + 2 * h);
    build_rec(plan, m / 2, even, pos + h + field_tree_ratios(m / 2), lpos + m / 2, scratch + 2 * h);
}

void FieldTree::sample(WordStream& ws, const FftPlan& plan, const double* c_fft, std::int64_t* out, double* z_fft,
                       double* scratch) const {
    const std::size_t n = this->n();
    double* c = scratch;
    std::memcpy(c, c_fft, n * sizeof(double));
    sample_rec(ws, plan, n, c, z_fft, out, 0, 1, 0, 0, scratch + n);
}

void FieldTree::sample_rec(WordStream& ws, const FftPlan& plan, std::size_t m, double* c, double* z,
                           std::int64_t* out, std::size_t offset, std::size_t stride, std::size_t pos,
                           std::size_t lpos, double* scratch) const {
    if (m == 2) {
        // c = c0 + i c1 (c[0], c[1]); the odd coordinate and the even one
        // together (their covariance is diagonal, with one width).
        const double centres[2] = {c[1], c[0]};
        std::int64_t zz[2];
        gauss::sample_wide_batch(ws, leaves_[lpos / 2], centres, zz, 2);
        const std::int64_t z1 = zz[0], z0 = zz[1];
        out[offset + stride] = z1;
        out[offset] = z0;
        z[0] = static_cast<double>(z0);
        z[1] = static_cast<double>(z1);
        return;
    }
    const std::size_t h = m / 4, half = m / 2;  // half = doubles of one K_(m/2) element
    double* c0 = scratch;
    double* c1 = c0 + half;
    double* z0 = c1 + half;
    double* z1 = z0 + half;
    double* next = z1 + half;
    plan.split(m, c, c + half, c0, c0 + h, c1, c1 + h);
    flush_tiny(c0, 2 * half);
    sample_rec(ws, plan, m / 2, c1, z1, out, offset + stride, 2 * stride, pos + h, lpos, next);
    // c0 += zeta * ratio * (z1 - c1)
    const double* ratio = ratio_.data() + pos;
    for (std::size_t i = 0; i < h; ++i) {
        const double lr = ratio[i] * plan.root_re(m, 2 * i), li = ratio[i] * plan.root_im(m, 2 * i);
        const double dr = z1[i] - c1[i], di = z1[h + i] - c1[h + i];
        c0[i] += lr * dr - li * di;
        c0[h + i] += lr * di + li * dr;
    }
    flush_tiny(c0, half);
    sample_rec(ws, plan, m / 2, c0, z0, out, offset, 2 * stride, pos + h + field_tree_ratios(m / 2), lpos + m / 2,
               next);
    plan.merge(m, z0, z0 + h, z1, z1 + h, z, z + half);
    flush_tiny(z, m);  // rounding residues of the integer sample's transform
}

}  // namespace ringtrap::ki
