// Complex FFT over K_n = R[x]/(x^n + 1) for the key-independent sets.
//
// A real polynomial f of n coefficients (n a power of two, n >= 2) is held in
// the FFT domain as its n/2 values f(zeta_j) at the roots zeta of x^n + 1 with
// zeta^(n/2) = i; the other half of the roots are their conjugates and carry
// the conjugate values. The n doubles are stored split: re[0 .. n/2) followed
// by im[0 .. n/2).
//
// The roots are ordered so that the even/odd split of f is local:
// zeta_(2j+1) = -zeta_(2j) and zeta_(2j)^2 is root j of K_(n/2). Then
//   f0(z^2) = (f(z) + f(-z)) / 2,  f1(z^2) = (f(z) - f(-z)) / (2 z)
// for f(x) = f0(x^2) + x f1(x^2), on adjacent entries. The roots of every
// level live in one heap-shaped table: root j of K_m is root(m/2 + j).
//
// Products, sums and quotients are pointwise. The adjoint f*(x) = f(1/x) takes
// every value to its complex conjugate; a self-adjoint f has real values.
//
// Arithmetic is plain IEEE double (add, sub, mul, div, sqrt) in a fixed order,
// so results do not depend on the data's timing. Values below 2^-200 in
// magnitude are flushed to zero with a mask at the places documented below,
// which keeps subnormal numbers (slow on many processors) out of every
// computation on secret data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ringtrap::ki {

class FftPlan {
public:
    // Tables for K_n, n = 2^log_n with 1 <= log_n <= 16.
    explicit FftPlan(int log_n);

    int log_n() const noexcept { return log_n_; }
    std::size_t n() const noexcept { return n_; }

    // Root j of K_m (m a power of two, 2 <= m <= n, j < m/2), as cos/sin.
    double root_re(std::size_t m, std::size_t j) const noexcept { return root_re_[m / 2 + j]; }
    double root_im(std::size_t m, std::size_t j) const noexcept { return root_im_[m / 2 + j]; }

    // In place: n real coefficients -> n/2 values (split re/im), and back.
    // Outputs are flushed (see flush_tiny).
    void forward(double* f) const noexcept;
    void inverse(double* f) const noexcept;

    // The portable loops behind forward/inverse, which use AVX2 (same
    // operations in the same order, so bit-identical results) when the
    // processor has it.
    void forward_portable(double* f) const noexcept;
    void inverse_portable(double* f) const noexcept;
    static bool have_avx2() noexcept;

    // FFT-domain split of f in K_m (m >= 4, m/2 values in f_re/f_im) into f0
    // and f1 in K_(m/2) (m/4 values each), and the inverse. Outputs must not
    // alias inputs. For m = 2 the split is (re, im) of the single value.
    void split(std::size_t m, const double* f_re, const double* f_im, double* f0_re, double* f0_im, double* f1_re,
               double* f1_im) const noexcept;
    void merge(std::size_t m, const double* f0_re, const double* f0_im, const double* f1_re, const double* f1_im,
               double* f_re, double* f_im) const noexcept;

private:
    int log_n_;
    std::size_t n_;
    std::vector<double> root_re_, root_im_;  // heap order, index 1 .. n-1
    // Twiddles of the two layers with blocks of 4 and 2 values, in the lane
    // order of the vector loops: len 2 as t_b t_b t_(b+1) t_(b+1); len 1 as
    // t_(4c) t_(4c+2) t_(4c+1) t_(4c+3) (the order unpacklo/unpackhi give).
    std::vector<double> tw2_re_, tw2_im_, tw1_re_, tw1_im_;
};

// The plan for K_(2^log_n), built once per process and kept.
const FftPlan& fft_plan(int log_n);

// Sets to +0 every value whose magnitude is below 2^-200 (including
// subnormals), by masking the bits; no branch on the values.
void flush_tiny(double* v, std::size_t count) noexcept;

// Pointwise over count complex values (split arrays): out = a * b, out = a *
// conj(b), out += a * b, out += a * conj(b). out may alias a or b.
void fft_mul(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
             double* out_re, double* out_im) noexcept;
void fft_mul_acc(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                 double* out_re, double* out_im) noexcept;
void fft_mul_adj_acc(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                     double* out_re, double* out_im) noexcept;

}  // namespace ringtrap::ki
