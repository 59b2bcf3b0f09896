// Arithmetic in K = R[x]/(x^n + 1): degree comparison, adjoint, sums, and
// products, quotients and inverses through the complex transform.
//
// Lengths: the result always has the first operand's length N. A second
// operand of another length is read as its first N coefficients, missing ones
// being zero. Products, quotients and inverses need N to be a power of two (the
// transform length); for any other N > 0 they return N zeros. N = 0 gives the
// empty record.
#include "fft.h"
#include "ntt.h"
#include "util.h"

namespace ringtrap {

namespace {

bool is_zero(double c) { return c == 0.0; }  // true for -0.0, false for NaN

bool transform_length(std::int64_t len) { return len > 0 && len <= (std::int64_t{1} << 30) && (len & (len - 1)) == 0; }

// Where the transform's bit-reversal permutation comes from.
struct Permutation {
    bool use_globals;                 // the process-wide table via FFT_K's 4-argument form
    const std::int32_t* table;        // otherwise this table (nullptr: derive it)
};

void transform(const Permutation& perm, double* real, Complex* cplx, std::int64_t len, std::int32_t direction) {
    const auto len32 = static_cast<std::int32_t>(len);
    if (perm.use_globals) FFT_K(real, cplx, len32, direction);
    else FFT_K(real, cplx, len32, direction, perm.table);
}

// a op b pointwise in the evaluation domain (op = mul or div).
poly_K pointwise(const poly_K& a, const poly_K& b, Complex (*op)(Complex, Complex), const Permutation& perm) {
    const std::int64_t N = a.len;
    poly_K out = create_poly_K(N);
    if (!transform_length(N)) return out;
    const auto count = static_cast<std::size_t>(N);
    // b as an element of the same K: its first N coefficients, zero-padded.
    // Scratch values may derive from secret polynomials, hence secret buffers.
    SecretBuffer<double> bb;
    double* b_coeffs = b.coeffs;
    if (b.len != N) {
        bb = SecretBuffer<double>(count);
        for (std::int64_t i = 0; i < N && i < b.len; ++i) bb[static_cast<std::size_t>(i)] = b.coeffs[i];
        b_coeffs = bb.data();
    }
    SecretBuffer<Complex> A(count), B(count), P(count);
    transform(perm, a.coeffs, A.data(), N, 1);
    transform(perm, b_coeffs, B.data(), N, 1);
    for (std::size_t i = 0; i < count; ++i) P[i] = op(A[i], B[i]);
    transform(perm, out.coeffs, P.data(), N, -1);
    return out;
}

poly_K inverse(const poly_K& a, const Permutation& perm) {
    const std::int64_t N = a.len;
    poly_K out = create_poly_K(N);
    if (!transform_length(N)) return out;
    SecretBuffer<Complex> A(static_cast<std::size_t>(N));
    transform(perm, a.coeffs, A.data(), N, 1);
    // Zero evaluations stay zero: a pseudo-inverse for non-invertible a.
    for (Complex& v : A) v = div_Complex_Complex(Complex{1.0, 0.0}, v);
    transform(perm, out.coeffs, A.data(), N, -1);
    return out;
}

Permutation tables_of(const ParamSet& p, std::int64_t len) {
    const NttTables& t = ntt_tables(p);
    return {false, t.n == len ? t.brv.data() : nullptr};
}

constexpr Permutation kGlobalTables{true, nullptr};

}  // namespace

std::int32_t compare_poly_K(const poly_K& a, const poly_K& b) {
    if (a.len != b.len) return a.len > b.len ? 1 : -1;
    for (std::int64_t i = a.len - 1; i >= 0; --i) {
        const bool za = is_zero(a.coeffs[i]), zb = is_zero(b.coeffs[i]);
        if (za && !zb) return -1;
        if (!za && zb) return 1;
        if (!za && !zb) return 0;
    }
    return 0;
}

poly_K transpose_poly_K(const poly_K& a) {
    const std::int64_t N = a.len;
    poly_K out = create_poly_K(N);
    if (N <= 0) return out;
    out.coeffs[0] = a.coeffs[0];
    // x^-1 = -x^(N-1): the sign flips, so a zero coefficient becomes -0.0.
    for (std::int64_t i = 1; i < N; ++i) out.coeffs[i] = -a.coeffs[N - i];
    return out;
}

poly_K add_poly_K(const poly_K& a, const poly_K& b) {
    poly_K out = create_poly_K(a.len);
    for (std::int64_t i = 0; i < out.len; ++i) out.coeffs[i] = i < b.len ? a.coeffs[i] + b.coeffs[i] : a.coeffs[i];
    return out;
}

poly_K sub_poly_K(const poly_K& a, const poly_K& b) {
    poly_K out = create_poly_K(a.len);
    for (std::int64_t i = 0; i < out.len; ++i) out.coeffs[i] = i < b.len ? a.coeffs[i] - b.coeffs[i] : a.coeffs[i];
    return out;
}

poly_K mul_poly_K(const poly_K& a, const poly_K& b) { return pointwise(a, b, mul_Complex_Complex, kGlobalTables); }
poly_K div_poly_K(const poly_K& a, const poly_K& b) { return pointwise(a, b, div_Complex_Complex, kGlobalTables); }
poly_K inv_poly_K(const poly_K& a) { return inverse(a, kGlobalTables); }

poly_K mul_poly_K(const poly_K& a, const poly_K& b, const ParamSet& p) {
    return pointwise(a, b, mul_Complex_Complex, tables_of(p, a.len));
}
poly_K div_poly_K(const poly_K& a, const poly_K& b, const ParamSet& p) {
    return pointwise(a, b, div_Complex_Complex, tables_of(p, a.len));
}
poly_K inv_poly_K(const poly_K& a, const ParamSet& p) { return inverse(a, tables_of(p, a.len)); }

}  // namespace ringtrap
