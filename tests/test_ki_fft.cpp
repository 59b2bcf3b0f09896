// The complex FFT of the key-independent engine against exact integer
// arithmetic: round trips, negacyclic products, adjoints, even/odd split.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "ki_fft.h"

namespace ringtrap::ki {
namespace {

std::vector<double> random_poly(std::mt19937_64& rng, std::size_t n, int bound) {
    std::uniform_int_distribution<int> d(-bound, bound);
    std::vector<double> f(n);
    for (auto& c : f) c = d(rng);
    return f;
}

// Exact negacyclic product of integer-valued polynomials (values < 2^53).
std::vector<double> schoolbook(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = a.size();
    std::vector<std::int64_t> acc(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const auto p = static_cast<std::int64_t>(a[i]) * static_cast<std::int64_t>(b[j]);
            if (i + j < n) acc[i + j] += p; else acc[i + j - n] -= p;
        }
    return {acc.begin(), acc.end()};
}

class KiFft : public ::testing::TestWithParam<int> {};

TEST_P(KiFft, RoundTripAndKnownValues) {
    const int log_n = GetParam();
    const FftPlan& plan = fft_plan(log_n);
    const std::size_t n = plan.n(), h = n / 2;
    std::mt19937_64 rng(7 + static_cast<unsigned>(log_n));
    const auto f = random_poly(rng, n, 1 << 20);
    auto g = f;
    plan.forward(g.data());
    // Each value is f at its root: check against direct evaluation for a few
    // roots of the top level (zeta^(n/2) = i, zeta^n = -1).
    for (std::size_t j = 0; j < h; j += 1 + h / 4) {
        const double zr = plan.root_re(n, j), zi = plan.root_im(n, j);
        long double er = 0, ei = 0, pr = 1, pi = 0;  // power of zeta
        for (std::size_t c = 0; c < n; ++c) {
            er += f[c] * pr;
            ei += f[c] * pi;
            const long double t = pr * zr - pi * zi;
            pi = pr * zi + pi * zr;
            pr = t;
        }
        EXPECT_NEAR(static_cast<double>(pr), -1.0, 1e-12);  // zeta^n
        EXPECT_NEAR(g[j], static_cast<double>(er), 1e-6 * (1 << 20) * static_cast<double>(n));
        EXPECT_NEAR(g[h + j], static_cast<double>(ei), 1e-6 * (1 << 20) * static_cast<double>(n));
    }
    // The vector path gives the portable loops' bits.
    auto p = f;
    plan.forward_portable(p.data());
    for (std::size_t c = 0; c < n; ++c) ASSERT_EQ(std::bit_cast<std::uint64_t>(p[c]), std::bit_cast<std::uint64_t>(g[c]));
    plan.inverse(g.data());
    plan.inverse_portable(p.data());
    for (std::size_t c = 0; c < n; ++c) {
        EXPECT_NEAR(g[c], f[c], 1e-6) << c;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(p[c]), std::bit_cast<std::uint64_t>(g[c]));
    }
}

TEST_P(KiFft, ProductsAndAdjointsMatchIntegerArithmetic) {
    const int log_n = GetParam();
    const FftPlan& plan = fft_plan(log_n);
    const std::size_t n = plan.n(), h = n / 2;
    std::mt19937_64 rng(11 + static_cast<unsigned>(log_n));
    for (int rep = 0; rep < 3; ++rep) {
        const auto a = random_poly(rng, n, 1000), b = random_poly(rng, n, 30000);
        const auto want = schoolbook(a, b);
        // b* = b(1/x): b*_0 = b_0, b*_j = -b_(n-j).
        std::vector<double> b_adj(n);
        b_adj[0] = b[0];
        for (std::size_t j = 1; j < n; ++j) b_adj[j] = -b[n - j];
        const auto want_adj = schoolbook(a, b_adj);

        auto fa = a, fb = b;
        plan.forward(fa.data());
        plan.forward(fb.data());
        std::vector<double> prod(n), prod_adj(n, 0.0);
        fft_mul(h, fa.data(), fa.data() + h, fb.data(), fb.data() + h, prod.data(), prod.data() + h);
        fft_mul_adj_acc(h, fa.data(), fa.data() + h, fb.data(), fb.data() + h, prod_adj.data(), prod_adj.data() + h);
        plan.inverse(prod.data());
        plan.inverse(prod_adj.data());
        for (std::size_t j = 0; j < n; ++j) {
            // Values up to 2^40: one rounding to the integer must recover them.
            EXPECT_EQ(std::nearbyint(prod[j]), want[j]) << j;
            EXPECT_EQ(std::nearbyint(prod_adj[j]), want_adj[j]) << j;
        }
        // out += a b on top of a b gives 2 a b (accumulation form).
        fft_mul_acc(h, fa.data(), fa.data() + h, fb.data(), fb.data() + h, fa.data(), fa.data() + h);
    }
}

TEST_P(KiFft, SplitIsEvenOddAndMergeInvertsIt) {
    const int log_n = GetParam();
    if (log_n == 1) {  // K_2 -> K_1: the halves are the real numbers f_0 and f_1
        const FftPlan& two = fft_plan(1);
        double F[2] = {3.0, -7.0}, f0[2], f1[2], back[2];
        two.forward(F);
        two.split(2, F, F + 1, f0, f0 + 1, f1, f1 + 1);
        EXPECT_EQ(f0[0], 3.0);
        EXPECT_EQ(f1[0], -7.0);
        two.merge(2, f0, f0 + 1, f1, f1 + 1, back, back + 1);
        EXPECT_EQ(back[0], F[0]);
        EXPECT_EQ(back[1], F[1]);
        return;
    }
    const FftPlan& plan = fft_plan(log_n);
    const FftPlan& half = fft_plan(log_n - 1);
    const std::size_t n = plan.n(), h = n / 2, q = n / 4;
    std::mt19937_64 rng(13 + static_cast<unsigned>(log_n));
    const auto f = random_poly(rng, n, 5000);
    std::vector<double> f0(n / 2), f1(n / 2);
    for (std::size_t j = 0; j < n / 2; ++j) f0[j] = f[2 * j], f1[j] = f[2 * j + 1];
    auto F = f;
    plan.forward(F.data());
    half.forward(f0.data());
    half.forward(f1.data());
    std::vector<double> s0(n / 2), s1(n / 2);
    plan.split(n, F.data(), F.data() + h, s0.data(), s0.data() + q, s1.data(), s1.data() + q);
    for (std::size_t j = 0; j < n / 2; ++j) {
        EXPECT_NEAR(s0[j], f0[j], 1e-7) << j;
        EXPECT_NEAR(s1[j], f1[j], 1e-7) << j;
    }
    std::vector<double> back(n);
    plan.merge(n, s0.data(), s0.data() + q, s1.data(), s1.data() + q, back.data(), back.data() + h);
    for (std::size_t j = 0; j < n; ++j) EXPECT_NEAR(back[j], F[j], 1e-7) << j;
    // The split and the roots of the next level agree: root j of K_(n/2) is
    // the square of root 2j of K_n.
    for (std::size_t j = 0; j < q; ++j) {
        const double zr = plan.root_re(n, 2 * j), zi = plan.root_im(n, 2 * j);
        EXPECT_NEAR(zr * zr - zi * zi, plan.root_re(n / 2, j), 1e-15);
        EXPECT_NEAR(2 * zr * zi, plan.root_im(n / 2, j), 1e-15);
        EXPECT_EQ(plan.root_re(n, 2 * j + 1), -zr);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, KiFft, ::testing::Values(1, 2, 3, 4, 7, 10, 11));

TEST(KiFft, FlushTinyClearsOnlyTinyValues) {
    const double sub = std::numeric_limits<double>::denorm_min();
    std::vector<double> v{0.0, -0.0, sub, -sub, std::ldexp(1.0, -201), -std::ldexp(1.0, -201), std::ldexp(1.0, -200),
                          -3.5, 1e300};
    const auto kept = v;
    flush_tiny(v.data(), v.size());
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(std::bit_cast<std::uint64_t>(v[i]), 0u) << i;
    for (std::size_t i = 6; i < v.size(); ++i) EXPECT_EQ(v[i], kept[i]);
}

}  // namespace
}  // namespace ringtrap::ki
