#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "test_support.h"
#include "util.h"

namespace ringtrap {

namespace {

poly_K make(std::vector<double> c) {
    poly_K p = create_poly_K(static_cast<std::int64_t>(c.size()));
    std::copy(c.begin(), c.end(), p.coeffs);
    return p;
}

std::vector<double> values(const poly_K& p) { return std::vector<double>(p.coeffs, p.coeffs + p.len); }

TEST(PolyK, CompareLengthsThenDegrees) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(compare_poly_K(make({0, 0, 0}), make({9, 9})), 1);
    EXPECT_EQ(compare_poly_K(make({9, 9}), make({0, 0, 0})), -1);
    EXPECT_EQ(compare_poly_K(make({1, 2, 0}), make({5, 0, 0})), 1);
    EXPECT_EQ(compare_poly_K(make({0, 0, 0}), make({0, 3, 0})), -1);
    EXPECT_EQ(compare_poly_K(make({1, 0}), make({2, 0})), 0);  // values are never compared
    EXPECT_EQ(compare_poly_K(make({0, 0}), make({0, 0})), 0);
    EXPECT_EQ(compare_poly_K(make({}), make({})), 0);
    // -0.0 is zero, NaN is not.
    EXPECT_EQ(compare_poly_K(make({1, -0.0}), make({1, 0})), 0);
    EXPECT_EQ(compare_poly_K(make({1, -0.0}), make({0, 1})), -1);
    EXPECT_EQ(compare_poly_K(make({0, nan}), make({1, 0})), 1);
    EXPECT_EQ(compare_poly_K(make({0, 0}), make({0, nan})), -1);
}

TEST(PolyK, AdjointAndSums) {
    const poly_K t = transpose_poly_K(make({1, 2, 0, 4}));
    EXPECT_EQ(values(t), (std::vector<double>{1, -4, 0, -2}));
    EXPECT_TRUE(std::signbit(t.coeffs[2]));  // the flipped zero is -0.0
    EXPECT_EQ(values(transpose_poly_K(make({-3}))), std::vector<double>{-3});
    EXPECT_EQ(transpose_poly_K(make({})).len, 0);

    // Result length is the first operand's; a shorter second operand counts as zero-padded.
    EXPECT_EQ(values(add_poly_K(make({1, 2}), make({10, 20, 30}))), (std::vector<double>{11, 22}));
    EXPECT_EQ(values(sub_poly_K(make({1, 2, 3}), make({10}))), (std::vector<double>{-9, 2, 3}));
}

class PolyKLevel : public testing::PerLevel {
protected:
    poly_K random_poly(std::uint64_t seed, double constant = 0) const {
        std::mt19937_64 rng(seed);
        std::uniform_int_distribution<int> d(-100, 100);
        poly_K p = create_poly_K(n);
        for (std::int64_t i = 0; i < n; ++i) p.coeffs[i] = d(rng);
        p.coeffs[0] += constant;
        return p;
    }
    // max |x - y| relative to max |y|.
    static double rel_error(const std::vector<double>& x, const std::vector<double>& y) {
        double err = 0, scale = 0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            err = std::max(err, std::abs(x[i] - y[i]));
            scale = std::max(scale, std::abs(y[i]));
        }
        return err / scale;
    }
};

// Integer inputs keep the schoolbook product exact in doubles.
std::vector<double> schoolbook(const poly_K& a, const poly_K& b) {
    const std::int64_t N = a.len;
    std::vector<double> out(static_cast<std::size_t>(N), 0.0);
    for (std::int64_t i = 0; i < N; ++i)
        for (std::int64_t j = 0; j < N; ++j) {
            const double prod = a.coeffs[i] * b.coeffs[j];
            if (i + j < N) out[static_cast<std::size_t>(i + j)] += prod;
            else out[static_cast<std::size_t>(i + j - N)] -= prod;
        }
    return out;
}

TEST_P(PolyKLevel, ProductQuotientAgainstSchoolbook) {
    const poly_K a = random_poly(1), b = random_poly(2, 1000);
    const poly_K ab = mul_poly_K(a, b);
    ASSERT_EQ(ab.len, n);
    EXPECT_LT(rel_error(values(ab), schoolbook(a, b)), 2e-7);
    EXPECT_LT(rel_error(values(div_poly_K(ab, b)), values(a)), 2e-7);

    poly_K xn1 = create_poly_K(n), x = create_poly_K(n);
    xn1.coeffs[n - 1] = 1;
    x.coeffs[1] = 1;
    std::vector<double> minus_one(static_cast<std::size_t>(n), 0.0);
    minus_one[0] = -1;
    EXPECT_LT(rel_error(values(mul_poly_K(xn1, x)), minus_one), 2e-7);

    // The variants reading no globals give the same bits.
    EXPECT_EQ(values(mul_poly_K(a, b, P())), values(ab));
    EXPECT_EQ(values(div_poly_K(ab, b, P())), values(div_poly_K(ab, b)));
    // A shorter second operand is the zero-padded one.
    poly_K b_short = create_poly_K(n / 2);
    std::copy(b.coeffs, b.coeffs + n / 2, b_short.coeffs);
    poly_K b_padded = create_poly_K(n);
    std::copy(b.coeffs, b.coeffs + n / 2, b_padded.coeffs);
    EXPECT_EQ(values(mul_poly_K(a, b_short)), values(mul_poly_K(a, b_padded)));
}

TEST_P(PolyKLevel, Inversion) {
    const poly_K zero = create_poly_K(n);
    EXPECT_EQ(values(inv_poly_K(zero)), values(zero));
    std::vector<double> one(static_cast<std::size_t>(n), 0.0);
    one[0] = 1;
    EXPECT_LT(rel_error(values(inv_poly_K(make(one))), one), 1e-9);
    const poly_K a = random_poly(3, 1000);  // dominant constant term: invertible
    const poly_K inv = inv_poly_K(a);
    EXPECT_LT(rel_error(values(mul_poly_K(a, inv)), one), 1e-6);
    EXPECT_EQ(values(inv_poly_K(a, P())), values(inv));
}

INSTANTIATE_TEST_SUITE_P(Levels, PolyKLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

TEST(PolyK, LengthsWithoutTransform) {
    ASSERT_TRUE(parameter_init(128));
    const poly_K three = make({1, 2, 3});
    for (const poly_K& res : {mul_poly_K(three, three), div_poly_K(three, three), inv_poly_K(three)})
        EXPECT_EQ(values(res), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(mul_poly_K(make({}), make({})).len, 0);
    // x * x = -1 in R[x]/(x^2 + 1), a length the global table does not cover.
    const std::vector<double> sq = values(mul_poly_K(make({0, 1}), make({0, 1})));
    EXPECT_NEAR(sq[0], -1, 1e-7);
    EXPECT_NEAR(sq[1], 0, 1e-7);
}

}  // namespace
}  // namespace ringtrap
