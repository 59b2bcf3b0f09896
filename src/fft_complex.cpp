// Complex numbers and the negacyclic complex FFT over K = R[x]/(x^n + 1).
//
// Every value here is computed in a fixed order with one rounding per
// operation (the build disables floating-point contraction), so results are
// the same on every machine that has IEEE doubles and the same libm.
#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include "fft.h"
#include "ntt.h"

namespace ringtrap {

namespace {

// The transform's angle constant. It is deliberately the eight-digit value and
// not pi: results are fixed by it, and it costs a relative error near 1e-7
// against exact evaluation at the roots of x^n + 1.
constexpr double kAngle = 3.1415926;

bool is_power_of_two(std::int32_t len) { return len > 0 && (len & (len - 1)) == 0; }

}  // namespace

Complex add_Complex_Complex(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

Complex sub_Complex_Complex(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }

Complex mul_Complex_Complex(Complex a, Complex b) {
    const double rr = a.re * b.re;
    const double ii = a.im * b.im;
    const double ri = a.re * b.im;
    const double ir = a.im * b.re;
    return {rr - ii, ri + ir};
}

Complex div_Complex_Complex(Complex a, Complex b) {
    // Division by zero yields zero, so inversion in K is a pseudo-inverse where
    // an evaluation vanishes. == treats -0.0 as zero and never matches NaN.
    if (b.re == 0.0 && b.im == 0.0) return {0.0, 0.0};
    const double d = b.re * b.re + b.im * b.im;
    return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}

void print_Complex(Complex c) { std::printf("%f + %f i", c.re, c.im); }

void FFT_K(double* real, Complex* cplx, std::int32_t len, std::int32_t direction, const std::int32_t* bitrev) {
    if ((direction != 1 && direction != -1) || !is_power_of_two(len)) return;
    std::vector<std::int32_t> own_perm;
    if (bitrev == nullptr) {
        own_perm = bit_reversal_table(std::countr_zero(static_cast<std::uint32_t>(len)));
        bitrev = own_perm.data();
    }
    const bool forward = direction == 1;
    const auto count = static_cast<std::size_t>(len);

    SecretBuffer<Complex> S(count);  // the values may derive from secret polynomials
    for (std::size_t i = 0; i < count; ++i) {
        const auto src = static_cast<std::size_t>(bitrev[i]);
        S[i] = forward ? Complex{real[src], 0.0} : cplx[src];
    }

    // Every block of a stage starts from the same twiddle and steps by the
    // same factor, so the twiddle sequence is built once per stage; the values
    // are bit-for-bit those of stepping it afresh in every block.
    std::vector<Complex> twiddles(count / 2 > 0 ? count / 2 : 1);
    for (std::int32_t m = 1; m < len; m *= 2) {
        const double half_turn = kAngle / m;
        const Complex step{std::cos(half_turn), static_cast<double>(direction) * std::sin(half_turn)};
        Complex w = forward ? Complex{std::cos(kAngle / (2 * m)), std::sin(kAngle / (2 * m))} : Complex{1.0, 0.0};
        for (std::int32_t t = 0; t < m; ++t) {
            twiddles[static_cast<std::size_t>(t)] = w;
            w = mul_Complex_Complex(w, step);
        }
        for (std::int32_t start = 0; start < len; start += 2 * m) {
            Complex* lo = S.data() + start;
            Complex* hi = lo + m;
            for (std::int32_t t = 0; t < m; ++t) {
                const Complex u = lo[t];
                const Complex v = mul_Complex_Complex(twiddles[static_cast<std::size_t>(t)], hi[t]);
                lo[t] = add_Complex_Complex(u, v);
                hi[t] = sub_Complex_Complex(u, v);
            }
        }
    }

    if (forward) {
        for (std::size_t i = 0; i < count; ++i) cplx[i] = S[i];
    } else {
        // Untwist: multiply output i by e^(-i P i / len), keep the real part, scale.
        for (std::int32_t i = 0; i < len; ++i) {
            const double angle = (static_cast<double>(i) * kAngle) / len;
            const Complex z = mul_Complex_Complex(S[static_cast<std::size_t>(i)], Complex{std::cos(angle), -std::sin(angle)});
            real[i] = z.re / len;
        }
    }
}

void FFT_K(double* real, Complex* cplx, std::int32_t len, std::int32_t direction) {
    // The process-wide bit-reversal table is used when it was built for this
    // length; any other power-of-two length derives its own permutation (same
    // values), so a mismatched length can never index past the table.
    const NttTables* t = current_ntt_tables();
    const bool table_fits = rev != nullptr && t != nullptr && t->n == len;
    FFT_K(real, cplx, len, direction, table_fits ? rev : nullptr);
}

}  // namespace ringtrap
