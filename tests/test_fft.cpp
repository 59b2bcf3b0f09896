#include <gtest/gtest.h>

#include <vector>

#include "fft.h"
#include "ntt.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

class TransformLevel : public testing::PerLevel {};

// Straight transcription of the transform's definition: bit-reversed load,
// twiddles by repeated multiplication, truncating remainders. The oracle for the
// fast engine.
std::vector<std::int64_t> reference_fft(const std::vector<std::int64_t>& in, int direction) {
    const std::int64_t q = modulo;
    const auto len = static_cast<std::int32_t>(in.size());
    std::vector<std::int64_t> S(in.size()), out(in.size());
    for (std::int32_t i = 0; i < len; ++i) S[i] = in[rev[i]];
    std::int32_t j = 0;
    for (std::int32_t m = 1; m < len; m *= 2, ++j) {
        const std::int64_t b = direction == 1 ? roots[j] : inv_roots[j];
        const std::int64_t ws = b * b % q;
        for (std::int32_t st = 0; st < len; st += 2 * m) {
            std::int64_t w = direction == 1 ? roots[j] : 1;
            for (std::int32_t t = 0; t < m; ++t) {
                const std::int64_t u = S[st + t], v = S[st + t + m] * w % q;
                S[st + t] = (u + v) % q;
                S[st + t + m] = (u - v) % q;
                w = w * ws % q;
            }
        }
    }
    std::int64_t tw = 1;
    for (std::int32_t i = 0; i < len; ++i) {
        std::int64_t y = S[i];
        if (direction == -1) {
            y = y * tw % q;
            y = y * _n % q;
            tw = inv_roots[j - 1] * tw % q;
        }
        out[i] = centred_mod(y, q);
    }
    return out;
}

std::vector<std::int64_t> run_fft(const std::vector<std::int64_t>& in, int direction) {
    std::vector<std::int64_t> out(in.size(), 12345);
    FFT_R(in.data(), out.data(), static_cast<std::int32_t>(in.size()), direction);
    return out;
}

__extension__ typedef __int128 i128;

poly_R schoolbook(const poly_R& a, const poly_R& b) {
    const std::int64_t q = modulo, N = a.len;
    std::vector<i128> acc(static_cast<std::size_t>(N), 0);
    for (std::int64_t i = 0; i < N; ++i)
        for (std::int64_t j = 0; j < N; ++j) {
            const i128 prod = static_cast<i128>(a.coeffs[i]) * b.coeffs[j];
            if (i + j < N) acc[i + j] += prod;
            else acc[i + j - N] -= prod;
        }
    poly_R out = create_poly_R(N);
    for (std::int64_t i = 0; i < N; ++i) out.coeffs[i] = centred_mod(static_cast<std::int64_t>(acc[i] % q), q);
    return out;
}

void expect_same(const poly_R& x, const poly_R& y) {
    ASSERT_EQ(x.len, y.len);
    for (std::int64_t i = 0; i < x.len; ++i) ASSERT_EQ(x.coeffs[i], y.coeffs[i]) << "coefficient " << i;
}

TEST_P(TransformLevel, ConstantOneAndX) {
    const auto len = static_cast<std::size_t>(P().n);
    std::vector<std::int64_t> one(len, 0), x(len, 0);
    one[0] = 1;
    x[1] = 1;
    EXPECT_EQ(run_fft(one, 1), std::vector<std::int64_t>(len, 1));
    EXPECT_EQ(run_fft(std::vector<std::int64_t>(len, 1), -1), one);
    const auto fx = run_fft(x, 1);
    EXPECT_EQ(fx[0], P().psi);  // 88150 and 326097 are both below q/2
    // output[k] = psi^(2k+1)
    std::int64_t w = P().psi;
    const std::int64_t psi2 = P().psi * P().psi % P().q;
    for (std::size_t i = 0; i < len; ++i, w = w * psi2 % P().q) ASSERT_EQ(fx[i], centred_mod(w, P().q)) << i;
}

TEST_P(TransformLevel, MatchesTheDefinitionAndRoundTrips) {
    std::mt19937_64 rng(11 + P().level);
    const auto len = static_cast<std::size_t>(P().n);
    const std::int64_t h = (P().q - 1) / 2;
    for (int trial = 0; trial < 4; ++trial) {
        // Centred inputs, then unreduced ones as large as the contract allows.
        const std::int64_t bound = trial < 2 ? h : (INT64_C(1) << 62) / P().q;
        std::uniform_int_distribution<std::int64_t> d(-bound, bound);
        std::vector<std::int64_t> a(len);
        for (auto& c : a) c = d(rng);
        const auto fwd = run_fft(a, 1);
        ASSERT_EQ(fwd, reference_fft(a, 1));
        ASSERT_EQ(run_fft(a, -1), reference_fft(a, -1));
        const auto back = run_fft(fwd, -1);
        for (std::size_t i = 0; i < len; ++i) ASSERT_EQ(back[i], centred_mod(a[i], P().q)) << i;
    }
}

TEST_P(TransformLevel, OutputMayAliasInputAndBadDirectionWritesNothing) {
    std::mt19937_64 rng(3);
    poly_R a = testing::random_poly(rng, P().n, -1000, 1000);
    std::vector<std::int64_t> v(a.coeffs, a.coeffs + a.len);
    const auto want = run_fft(v, 1);
    FFT_R(v.data(), v.data(), static_cast<std::int32_t>(v.size()), 1);
    EXPECT_EQ(v, want);
    std::vector<std::int64_t> out(v.size(), 7);
    FFT_R(v.data(), out.data(), static_cast<std::int32_t>(v.size()), 0);
    EXPECT_EQ(out, std::vector<std::int64_t>(v.size(), 7));
}

TEST_P(TransformLevel, RingProductMatchesSchoolbook) {
    std::mt19937_64 rng(5 + P().level);
    const std::int64_t h = (P().q - 1) / 2;
    for (int trial = 0; trial < 3; ++trial) {
        const poly_R a = testing::random_poly(rng, P().n, -h, h);
        const poly_R b = trial == 0 ? testing::random_poly(rng, P().n, -200, 200) : testing::random_poly(rng, P().n, -h, h);
        expect_same(mod_mul_poly_R(a, b), schoolbook(a, b));
    }
}

TEST_P(TransformLevel, NegacyclicWrapAndIdentity) {
    poly_R xn1 = create_poly_R(P().n), x = create_poly_R(P().n), one = create_poly_R(P().n);
    xn1.coeffs[P().n - 1] = 1;
    x.coeffs[1] = 1;
    one.coeffs[0] = 1;
    const poly_R prod = mod_mul_poly_R(xn1, x);
    EXPECT_EQ(prod.coeffs[0], -1);
    for (std::int64_t i = 1; i < P().n; ++i) ASSERT_EQ(prod.coeffs[i], 0);
    std::mt19937_64 rng(9);
    const poly_R a = testing::random_poly(rng, P().n, -3 * P().q, 3 * P().q);
    const poly_R a1 = mod_mul_poly_R(a, one);
    for (std::int64_t i = 0; i < P().n; ++i) ASSERT_EQ(a1.coeffs[i], centred_mod(a.coeffs[i], P().q));
}

TEST_P(TransformLevel, InnerProductAgreesWithSumOfProducts) {
    std::mt19937_64 rng(21);
    const std::int64_t cols = P().k + 2, h = (P().q - 1) / 2;
    mat_poly_R A = create_mat_poly_R(P().n, 1, cols), B = create_mat_poly_R(P().n, 1, cols);
    for (std::int64_t j = 0; j < cols; ++j) {
        A.entries[j] = testing::random_poly(rng, P().n, -h, h);
        B.entries[j] = testing::random_poly(rng, P().n, -50, 50);
    }
    poly_R want = create_poly_R(P().n);
    for (std::int64_t j = 0; j < cols; ++j) want = mod_add_poly_R(want, schoolbook(A.entries[j], B.entries[j]));
    expect_same(inner_product_mat_poly_R(A, B), want);

    mat_poly_R a1 = create_mat_poly_R(P().n, 1, 1), b1 = create_mat_poly_R(P().n, 1, 1);
    a1.entries[0] = A.entries[0];
    b1.entries[0] = B.entries[0];
    expect_same(inner_product_mat_poly_R(a1, b1), mod_mul_poly_R(A.entries[0], B.entries[0]));
}

TEST_P(TransformLevel, InnerProductShapeMismatchGivesTheEmptyRecord) {
    const mat_poly_R r3 = create_mat_poly_R(P().n, 1, 3), r2 = create_mat_poly_R(P().n, 1, 2);
    const mat_poly_R two_rows = create_mat_poly_R(P().n, 2, 3), none = create_mat_poly_R(P().n, 1, 0);
    for (const auto& [x, y] : {std::pair{r3, r2}, std::pair{r2, r3}, std::pair{two_rows, r3}, std::pair{r3, two_rows},
                               std::pair{two_rows, two_rows}, std::pair{none, none}}) {
        const poly_R p = inner_product_mat_poly_R(x, y);
        EXPECT_EQ(p.len, 0);
        EXPECT_EQ(p.coeffs, nullptr);
    }
}

TEST(Transform, NoParameterSetMeansAClearErrorNotADivisionByZero) {
    ASSERT_TRUE(parameter_init(128));
    const std::int64_t saved = modulo;
    modulo = 0;
    EXPECT_THROW(mod_add_R(1, 2), std::logic_error);
    const poly_R a = create_poly_R(512);
    EXPECT_THROW(mod_mul_poly_R(a, a), std::logic_error);
    modulo = saved;
}

TEST(Transform, NonStandardTablesFollowTheirDefinition) {
    // A small negacyclic setting outside the built-in sets: q = 17, n = 8,
    // psi = 3 (order 16), psi^-1 = 6, n^-1 = 15 = -2.
    ASSERT_TRUE(parameter_init(128));
    const std::int64_t saved = modulo;
    modulo = 17;
    FFT_init(3, 3, 6, -2);
    std::vector<std::int64_t> a = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(run_fft(a, 1), reference_fft(a, 1));
    const auto back = run_fft(run_fft(a, 1), -1);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(back[i], centred_mod(a[i], 17));
    // Inconsistent tables (wrong n^-1) take the plain path and reproduce its values.
    FFT_init(3, 3, 6, 5);
    EXPECT_EQ(run_fft(a, -1), reference_fft(a, -1));
    modulo = saved;
    ASSERT_TRUE(parameter_init(128));
}

INSTANTIATE_TEST_SUITE_P(Levels, TransformLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
