// Transforms: the negacyclic number-theoretic transform over Z_q (with its
// tables) and complex numbers with the negacyclic complex FFT over K.
#pragma once

#include <cstdint>

#include "common.h"
#include "ntt.h"

namespace ringtrap {

// Transform tables of the process-wide parameters, built by FFT_init.
extern std::int32_t* rev;        // rev[i]: i with its log2(n) low bits reversed
extern std::int64_t* roots;      // roots[L-1] = psi, roots[j-1] = roots[j]^2 mod q
extern std::int64_t* inv_roots;  // the same chain from psi^-1
extern std::int64_t _n;          // n^-1 mod q, centred

// Builds the transform tables for length 2^L from a primitive 2^(L+1)-th root
// of unity psi modulo the current `modulo`, its inverse psi_inv, and n^-1 mod q
// (stored in `_n`). Replaces any earlier tables. `modulo` must be set first.
void FFT_init(std::int32_t L, std::int64_t psi, std::int64_t psi_inv, std::int64_t n_inv);

// Forward (direction 1): output[k] = a(psi^(2k+1)) mod q, centred, k = 0..len-1.
// Inverse (direction -1): undoes the forward transform. len must be the length
// of the last FFT_init. Input values times q must stay below 2^63 in magnitude.
// The input is only read; output may alias it. Any other direction writes
// nothing.
void FFT_R(const std::int64_t* input, std::int64_t* output, std::int32_t len, std::int32_t direction);

// Fast tables built by the last FFT_init for the current `modulo`, or nullptr
// when those tables do not describe a valid negacyclic transform.
[[nodiscard]] const NttTables* current_ntt_tables();

// Complex numbers (fft_complex.cpp).
struct Complex {
    double re = 0.0;
    double im = 0.0;
};

Complex add_Complex_Complex(Complex a, Complex b);
Complex sub_Complex_Complex(Complex a, Complex b);
// (a.re b.re - a.im b.im, a.re b.im + a.im b.re), one rounding per operation.
Complex mul_Complex_Complex(Complex a, Complex b);
// a / b; (0, 0) when both parts of b compare equal to 0.0 (-0.0 included).
Complex div_Complex_Complex(Complex a, Complex b);
// "%f + %f i", no line feed.
void print_Complex(Complex c);

// Negacyclic complex FFT of length len (the n of the last FFT_init), with the
// angle constant 3.1415926. Forward (1) reads `real` and writes `cplx`; inverse
// (-1) reads `cplx` and writes `real`. Any other direction writes nothing.
void FFT_K(double* real, Complex* cplx, std::int32_t len, std::int32_t direction);
// As FFT_K for any power-of-two len without reading globals; bitrev is the bit
// reversal of 0..len-1, or nullptr to derive it.
void FFT_K(double* real, Complex* cplx, std::int32_t len, std::int32_t direction, const std::int32_t* bitrev);

}  // namespace ringtrap
