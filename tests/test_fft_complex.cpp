#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "fft.h"
#include "ntt.h"
#include "test_support.h"

namespace ringtrap {

namespace {

constexpr double kP = 3.1415926;  // the transform's angle constant, not pi

void expect_complex(Complex c, double re, double im) {
    EXPECT_EQ(c.re, re);
    EXPECT_EQ(c.im, im);
}

TEST(Complex, ArithmeticAndZeroDivisor) {
    expect_complex(add_Complex_Complex({1, 2}, {3, -5}), 4, -3);
    expect_complex(sub_Complex_Complex({1, 2}, {3, -5}), -2, 7);
    expect_complex(mul_Complex_Complex({1, 2}, {3, 4}), -5, 10);
    expect_complex(div_Complex_Complex({1, 0}, {0, 2}), 0, -0.5);
    expect_complex(div_Complex_Complex({-5, 10}, {3, 4}), 1, 2);
    // Products are rounded before the subtraction; a fused multiply-add would
    // keep the 2^-54 of (1 + 2^-27)^2 - 1.
    const double x = 1.0 + std::ldexp(1.0, -27);
    EXPECT_EQ(mul_Complex_Complex({x, 1}, {x, 1}).re, std::ldexp(1.0, -26));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Complex zero : {Complex{0.0, 0.0}, Complex{-0.0, 0.0}, Complex{0.0, -0.0}, Complex{-0.0, -0.0}}) {
        const Complex q = div_Complex_Complex({3, 4}, zero);
        expect_complex(q, 0, 0);
        EXPECT_FALSE(std::signbit(q.re) || std::signbit(q.im));
    }
    // NaN is not zero: the division goes ahead and propagates it.
    const Complex q = div_Complex_Complex({3, 4}, {nan, 0.0});
    EXPECT_TRUE(std::isnan(q.re) && std::isnan(q.im));
    EXPECT_TRUE(std::isnan(div_Complex_Complex({3, 4}, {0.0, nan}).re));
}

TEST(Complex, PrintFormat) {
    EXPECT_EQ(testing::capture_stdout([] { print_Complex({1.5, -2}); }), "1.500000 + -2.000000 i");
}

class FftKLevel : public testing::PerLevel {};

TEST_P(FftKLevel, OneAndX) {
    const auto len = static_cast<std::int32_t>(n);
    std::vector<double> one(static_cast<std::size_t>(len), 0.0), x = one;
    one[0] = 1.0;
    x[1] = 1.0;
    std::vector<Complex> out(static_cast<std::size_t>(len));
    FFT_K(one.data(), out.data(), len, 1);
    for (const Complex& c : out) expect_complex(c, 1, 0);
    FFT_K(x.data(), out.data(), len, 1);
    expect_complex(out[0], std::cos(kP / len), std::sin(kP / len));
    // Natural order: output j is x at the root e^(i pi (2j+1)/n), up to the angle constant.
    for (std::int32_t j = 0; j < len; ++j) {
        const double angle = std::numbers::pi * (2 * j + 1) / len;
        ASSERT_NEAR(out[static_cast<std::size_t>(j)].re, std::cos(angle), 2e-6) << j;
        ASSERT_NEAR(out[static_cast<std::size_t>(j)].im, std::sin(angle), 2e-6) << j;
    }
}

TEST_P(FftKLevel, RoundTripAndInputsUntouched) {
    const auto len = static_cast<std::int32_t>(n);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> d(-100, 100);
    std::vector<double> a(static_cast<std::size_t>(len)), back(a.size(), 0.0);
    for (double& v : a) v = d(rng);
    const std::vector<double> a0 = a;
    std::vector<Complex> A(a.size());
    FFT_K(a.data(), A.data(), len, 1);
    const std::vector<Complex> A0 = A;
    FFT_K(back.data(), A.data(), len, -1);
    EXPECT_EQ(a, a0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(A[i].re, A0[i].re);
        ASSERT_NEAR(back[i], a[i], 1e-11) << i;
    }
    // The table of a parameter set, a derived table and the global one agree bitwise.
    std::vector<Complex> B(a.size()), C(a.size());
    FFT_K(a.data(), B.data(), len, 1, ntt_tables(P()).brv.data());
    FFT_K(a.data(), C.data(), len, 1, nullptr);
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(B[i].re, A0[i].re);
        ASSERT_EQ(C[i].im, A0[i].im);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, FftKLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

// Lengths the global table does not cover: another power of two is still a
// correct transform; anything else, or a bad direction, writes nothing.
TEST(FftK, OtherLengthsAndDirections) {
    ASSERT_TRUE(parameter_init(128));
    std::vector<double> a{3, -1, 4, 1, -5, 9, 2, -6};
    std::vector<Complex> out(8, Complex{7, 7});
    FFT_K(a.data(), out.data(), 8, 1);
    const std::complex<double> root0 = std::polar(1.0, std::numbers::pi / 8);
    for (int j = 0; j < 8; ++j) {
        std::complex<double> root = std::pow(root0, 2 * j + 1), value = 0, power = 1;
        for (double c : a) {
            value += c * power;
            power *= root;
        }
        EXPECT_NEAR(out[static_cast<std::size_t>(j)].re, value.real(), 1e-5);
        EXPECT_NEAR(out[static_cast<std::size_t>(j)].im, value.imag(), 1e-5);
    }
    std::vector<double> real(12, 7.0);
    std::vector<Complex> cplx(12, Complex{7, 7});
    for (auto [len, dir] : {std::pair{12, 1}, std::pair{0, 1}, std::pair{-8, -1}, std::pair{8, 0}, std::pair{8, 2}}) {
        FFT_K(real.data(), cplx.data(), len, dir);
        for (std::size_t i = 0; i < 12; ++i) ASSERT_TRUE(real[i] == 7.0 && cplx[i].re == 7.0) << len << " " << dir;
    }
}

}  // namespace
}  // namespace ringtrap
