// Ring elements modulo q, polynomials with real coefficients, and matrices of
// them: creation, modular arithmetic, products, arithmetic in K and printing.
//
// Operations that reduce modulo q use the process-wide `modulo` and return
// centred coefficients in [-(q-1)/2, (q-1)/2]. Two-operand operations take the
// result length from the first operand; the second must be at least as long.
// No operation writes into its arguments; results own fresh arrays.
#pragma once

#include <cstdint>
#include <vector>

#include "common.h"

namespace ringtrap {

// Centred representative of x modulo q (q > 0): t = x rem q, then t - q when
// t > q/2, t + q when t < -(q/2). For even q, q/2 keeps the sign of x.
constexpr std::int64_t centred_mod(std::int64_t x, std::int64_t q) noexcept {
    const std::int64_t h = q / 2;
    const std::int64_t t = x % q;
    if (t >= 0) return t > h ? t - q : t;
    return t < -h ? t + q : t;
}

// Centred representative of a + b (resp. a - b) modulo the current q. The sum
// or difference must fit in 64 bits.
std::int64_t mod_add_R(std::int64_t a, std::int64_t b);
std::int64_t mod_sub_R(std::int64_t a, std::int64_t b);

// A polynomial of `length` zero coefficients (empty for length <= 0).
poly_R create_poly_R(std::int64_t length);
// A rows x cols matrix whose entries are separate zero polynomials of `length`
// coefficients. Note the argument order: length first.
mat_poly_R create_mat_poly_R(std::int64_t length, std::int64_t rows, std::int64_t cols);

// Coefficient-wise a + b and a - b modulo q; result length a.len.
poly_R mod_add_poly_R(const poly_R& a, const poly_R& b);
poly_R mod_sub_poly_R(const poly_R& a, const poly_R& b);

// a * b in R_q = Z_q[x]/(x^n + 1); both operands must have length n (the
// degree of the last FFT_init). Result length a.len, centred.
poly_R mod_mul_poly_R(const poly_R& a, const poly_R& b);

// sum_j A(0, j) * B(0, j) in R_q, centred. Returns the empty record (len 0, no
// array) unless both are single rows with the same number of columns; for two
// 1 x 0 rows it also returns the empty record (there is no first entry to take
// the length from).
poly_R inner_product_mat_poly_R(const mat_poly_R& A, const mat_poly_R& B);

// True when m is a single row of `cols` entries of `len` coefficients each.
bool is_row(const mat_poly_R& m, std::int64_t cols, std::int64_t len);
// The entries of a row one after the other (entry j at j * len, len being the
// length of entry 0), into out or a fresh vector.
void flatten_row(const mat_poly_R& m, std::int64_t* out);
std::vector<std::int64_t> flatten_row(const mat_poly_R& m);
// A 1 x cols row from cols * len coefficients.
mat_poly_R make_row(const std::int64_t* data, std::int64_t cols, std::int64_t len);

// "[c0 c1 ... ]" on standard output, each coefficient in decimal and followed by
// one blank; no line feed.
void print_poly_R(const poly_R& p);
// "[" then one line per coefficient index c (up to the length of entry (0, 0))
// and row i: coefficient c of entries (i, 0) .. (i, cols-1), each as a 32-bit
// decimal followed by a blank; then "]".
void print_mat_poly_R(const mat_poly_R& m);

// Polynomials with real coefficients (never reduced or rounded).
poly_K create_poly_K(std::int64_t length);
mat_poly_K create_mat_poly_K(std::int64_t length, std::int64_t rows, std::int64_t cols);
// As print_poly_R / print_mat_poly_R, with "%f " per coefficient.
void print_poly_K(const poly_K& p);
void print_mat_poly_K(const mat_poly_K& m);

// Arithmetic in K = R[x]/(x^n + 1) (util_K.cpp).
//
// Compares lengths, then degrees (a coefficient equal to 0.0 or -0.0 counts as
// zero, NaN does not): 1 when a is longer / of higher degree, -1 when b is, 0
// otherwise. Never compares coefficient values.
std::int32_t compare_poly_K(const poly_K& a, const poly_K& b);
// The adjoint a(x^-1): result[0] = a[0], result[i] = -a[N-i]. Empty in, empty out.
poly_K transpose_poly_K(const poly_K& a);
poly_K add_poly_K(const poly_K& a, const poly_K& b);
poly_K sub_poly_K(const poly_K& a, const poly_K& b);
// Product, quotient and inverse in K through the complex transform; operands
// of length n. Evaluations of the divisor equal to zero give zero.
poly_K mul_poly_K(const poly_K& a, const poly_K& b);
poly_K div_poly_K(const poly_K& a, const poly_K& b);
poly_K inv_poly_K(const poly_K& a);
// The same on a parameter set's own tables (no global read), for any
// power-of-two length. A shorter second operand counts as zero-padded.
poly_K mul_poly_K(const poly_K& a, const poly_K& b, const ParamSet& p);
poly_K div_poly_K(const poly_K& a, const poly_K& b, const ParamSet& p);
poly_K inv_poly_K(const poly_K& a, const ParamSet& p);

}  // namespace ringtrap
