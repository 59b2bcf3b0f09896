#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "RandomGenerator.h"
#include "SampleP.h"
#include "ntt.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

using Draws = testing::ScriptedDraws;

// ---------------------------------------------------------------------------
// The field sampler exactly as its rules read: full-length records at every
// node, quadratic work. The oracle for the library's implementation.
// ---------------------------------------------------------------------------

poly_R literal_FZ(const poly_K& f, const poly_K& c);

mat_poly_R literal_2Z(const poly_K& a, const poly_K& /*b*/, const poly_K& d, const mat_poly_K& c) {
    const poly_R q1 = literal_FZ(d, c.entries[1]);
    const poly_R q0 = literal_FZ(a, c.entries[0]);
    mat_poly_R out = create_mat_poly_R(0, 1, 2);
    out.entries[0] = q0;
    out.entries[1] = q1;
    return out;
}

poly_R literal_FZ(const poly_K& f, const poly_K& c) {
    const std::int64_t L = f.len;
    std::int64_t e = -1;
    for (std::int64_t i = L - 1; i >= 0; --i) {
        if (f.coeffs[i] != 0.0) {  // true for NaN
            e = i;
            break;
        }
    }
    if (e <= 0) {
        poly_R leaf = create_poly_R(L);
        leaf.coeffs[0] = f.coeffs[0] >= 0.0 ? Oracle_1(c.coeffs[0], std::sqrt(f.coeffs[0])) : Oracle_1(c.coeffs[0], 0.0);
        return leaf;
    }
    poly_K f_even = create_poly_K(L), f_odd = create_poly_K(L), c_even = create_poly_K(L), c_odd = create_poly_K(L);
    for (std::int64_t j = 0; j < L / 2; ++j) {
        f_even.coeffs[j] = f.coeffs[2 * j];
        f_odd.coeffs[j] = f.coeffs[2 * j + 1];
        c_even.coeffs[j] = c.coeffs[2 * j];
        c_odd.coeffs[j] = c.coeffs[2 * j + 1];
    }
    mat_poly_K pair = create_mat_poly_K(0, 1, 2);
    pair.entries[0] = c_even;
    pair.entries[1] = c_odd;
    const mat_poly_R halves = literal_2Z(f_even, f_odd, f_even, pair);
    poly_R out = create_poly_R(L);  // zeroed: an odd length leaves the last coefficient 0
    for (std::int64_t j = 0; j < L / 2; ++j) {
        out.coeffs[2 * j] = halves.entries[0].coeffs[j];
        out.coeffs[2 * j + 1] = halves.entries[1].coeffs[j];
    }
    return out;
}

std::vector<std::int64_t> coeffs(const poly_R& p) { return {p.coeffs, p.coeffs + p.len}; }

poly_K poly_K_of(const std::vector<double>& v) {
    poly_K p = create_poly_K(static_cast<std::int64_t>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) p.coeffs[i] = v[i];
    return p;
}

// Result and draw count of fn under the engine source with this seed.
template <typename Fn>
std::pair<std::vector<std::int64_t>, std::int64_t> drawn(std::uint64_t seed, Fn fn) {
    Draws draws(seed);
    std::vector<std::int64_t> out = fn();
    return {out, draws.count()};
}

// A random covariance of length L whose non-zero coefficients (beyond index 0)
// all sit at indices with fewer than `levels` trailing zero bits, so the
// leaves come at depth `levels` or earlier. Zeros come with either sign;
// f[0] is positive, zero, -0.0, negative or NaN.
std::vector<double> random_covariance(std::mt19937_64& rng, std::int64_t L, int levels) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<double> f(static_cast<std::size_t>(L));
    for (std::int64_t i = 1; i < L; ++i) {
        const int tz = std::countr_zero(static_cast<std::uint64_t>(i));
        const int roll = pick(rng);
        double v = roll < 3 ? 0.0 : roll < 4 ? -0.0 : roll < 5 ? nan : value(rng);
        if (tz >= levels) v = roll % 2 ? 0.0 : -0.0;
        f[static_cast<std::size_t>(i)] = v;
    }
    const double heads[] = {9.0, 0.0, -0.0, -4.0, nan, 2.25, 400.0};
    f[0] = heads[std::uniform_int_distribution<int>(0, 6)(rng)];
    return f;
}

std::vector<double> random_centre(std::mt19937_64& rng, std::int64_t L) {
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    std::vector<double> c(static_cast<std::size_t>(L));
    for (auto& v : c) v = value(rng);
    return c;
}

TEST(FieldSampler, MatchesTheStepByStepRecursionDrawForDraw) {
    std::mt19937_64 rng(21);
    const std::int64_t lengths[] = {1, 2, 4, 8, 16, 64, 512, 3, 5, 6, 7, 12, 13, 24, 100};
    std::uint64_t seed = 100;
    for (const std::int64_t L : lengths) {
        const int log_l = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(L)));
        for (int trial = 0; trial < 12; ++trial) {
            const int levels = trial % (log_l + 1);
            const poly_K f = poly_K_of(random_covariance(rng, L, levels));
            const poly_K c = poly_K_of(random_centre(rng, L));
            ++seed;
            const auto want = drawn(seed, [&] { return coeffs(literal_FZ(f, c)); });
            const auto got = drawn(seed, [&] { return coeffs(Sample_FZ(f, c)); });
            ASSERT_EQ(got, want) << "L = " << L << ", trial " << trial;

            const poly_K a = poly_K_of(random_covariance(rng, L, levels + 1));
            mat_poly_K centres = create_mat_poly_K(0, 1, 2);
            centres.entries[0] = c;
            centres.entries[1] = poly_K_of(random_centre(rng, L));
            const auto both = [](const mat_poly_R& m) {
                std::vector<std::int64_t> v = coeffs(m.entries[0]);
                const std::vector<std::int64_t> w = coeffs(m.entries[1]);
                v.insert(v.end(), w.begin(), w.end());
                return v;
            };
            const auto want2 = drawn(seed, [&] { return both(literal_2Z(a, f, f, centres)); });
            const auto got2 = drawn(seed, [&] { return both(Sample_2Z(a, f, f, centres)); });
            ASSERT_EQ(got2, want2) << "L = " << L << ", trial " << trial;
        }
    }
}

// The position of the t-th leaf: every sample equals its centre (radius 0)
// except sample t, which is pushed far off.
std::vector<std::int64_t> leaf_order(std::int64_t L) {
    const poly_K f = poly_K_of(std::vector<double>(static_cast<std::size_t>(L), 1.0));
    const poly_K c = create_poly_K(L);
    std::vector<std::int64_t> order;
    for (std::int64_t t = 0; t < L; ++t) {
        std::vector<int> script;
        for (std::int64_t i = 0; i < t; ++i) script.insert(script.end(), {0, 32767});
        script.insert(script.end(), {0, 1});
        Draws draws(0, script, 32767);
        const poly_R x = Sample_FZ(f, c);
        EXPECT_EQ(draws.count(), 2 * L);
        for (std::int64_t i = 0; i < L; ++i)
            if (x.coeffs[i] != 0) order.push_back(i);
    }
    return order;
}

TEST(FieldSampler, OddHalfIsDrawnBeforeEvenHalfAtEveryLevel) {
    EXPECT_EQ(leaf_order(4), (std::vector<std::int64_t>{3, 1, 2, 0}));
    EXPECT_EQ(leaf_order(8), (std::vector<std::int64_t>{7, 3, 5, 1, 6, 2, 4, 0}));
}

// Width 0 rounds each centre half away from zero; negative, NaN and -0.0
// variances give width 0 too. One sample per leaf all the same.
TEST(FieldSampler, ZeroNegativeAndNaNVariancesRoundTheCentres) {
    {
        Draws draws(7);
        const poly_R x = Sample_FZ(poly_K_of({0.0, 1.0, 1.0, 1.0}), poly_K_of({0.5, -1.5, 2.4, -0.49}));
        EXPECT_EQ(coeffs(x), (std::vector<std::int64_t>{1, -2, 2, 0}));
        EXPECT_EQ(draws.count(), 8);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double head : {-3.0, nan, -0.0}) {
        Draws draws(8);
        const poly_R x = Sample_FZ(poly_K_of({head, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, nan}),
                                   poly_K_of({0.5, -1.5, 2.4, -0.49, 3.5, -3.5, 0.2, 7.7}));
        EXPECT_EQ(coeffs(x), (std::vector<std::int64_t>{1, -2, 2, 0, 4, -4, 0, 8})) << head;
        EXPECT_EQ(draws.count(), 16);
    }
}

TEST(FieldSampler, EarlyLeavesDrawOnlyTheLowCoefficients) {
    const std::vector<double> centre = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0};
    struct Case {
        std::vector<double> f;
        std::int64_t drawn;
    };
    const Case cases[] = {
        {{4.0, 0.0, -0.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 1},  // constant: depth 0
        {{4.0, 1.0, 0.0, 1.0, 0.0, -2.0, 0.0, 1.0}, 2},  // only odd terms: depth 1
        {{4.0, 1.0, 1.0, 1.0, 0.0, 1.0, 1.0, 1.0}, 4},   // f[L/2] = 0: one level early
        {{4.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}, 8},   // f[L/2] alone reaches the bottom
    };
    for (const Case& c : cases) {
        Draws draws(0, {}, 32767);  // radius 0: every drawn coefficient is its centre
        const poly_R x = Sample_FZ(poly_K_of(c.f), poly_K_of(centre));
        EXPECT_EQ(draws.count(), 2 * c.drawn);
        for (std::int64_t i = 0; i < 8; ++i)
            EXPECT_EQ(x.coeffs[i], i < c.drawn ? static_cast<std::int64_t>(centre[static_cast<std::size_t>(i)]) : 0);
    }
}

TEST(FieldSampler, DegenerateInputsAreSafe) {
    Draws draws(9);
    EXPECT_EQ(Sample_FZ(create_poly_K(0), create_poly_K(0)).len, 0);
    // A short centre reads as zero-padded.
    const poly_R x = Sample_FZ(poly_K_of({0.0, 1.0, 1.0, 1.0}), poly_K_of({2.6}));
    EXPECT_EQ(coeffs(x), (std::vector<std::int64_t>{3, 0, 0, 0}));
    // A centre pair with one entry: the second centre is zero.
    mat_poly_K one = create_mat_poly_K(0, 1, 1);
    one.entries[0] = poly_K_of({1.6, 0.0});
    const mat_poly_R pair = Sample_2Z(poly_K_of({0.0, 1.0}), poly_K(), poly_K_of({0.0, 1.0}), one);
    EXPECT_EQ(coeffs(pair.entries[0]), (std::vector<std::int64_t>{2, 0}));
    EXPECT_EQ(coeffs(pair.entries[1]), (std::vector<std::int64_t>{0, 0}));
    // Plans: only powers of two, and never deeper than the length allows.
    const std::vector<double> f(6, 1.0);
    EXPECT_EQ(plan_field_sampler(f.data(), 6).depth, -1);
    EXPECT_EQ(plan_field_sampler(nullptr, 4).depth, -1);
    std::vector<std::int64_t> out(4, 5);
    EXPECT_FALSE(sample_field(FieldSamplerPlan{3, 1.0}, f.data(), 4, out.data()));
    EXPECT_FALSE(sample_field(FieldSamplerPlan{}, f.data(), 4, out.data()));
    EXPECT_EQ(out, (std::vector<std::int64_t>(4, 5)));
    EXPECT_EQ(draws.count(), 4 * 2 + 2 * 2 * 2);
}

// ---------------------------------------------------------------------------
// Perturbation sampler
// ---------------------------------------------------------------------------

// The perturbation sampler as its steps read, on the record operations and
// the literal field sampler.
mat_poly_R literal_P(std::int64_t len, double s_, double r_, const mat_poly_R& T0, const mat_poly_R& T1) {
    const std::int64_t kk = k;
    const double rho = r_ * 3.0;
    const double zeta = 1.0 / (1.0 / (rho * rho) - 1.0 / (s_ * s_));
    const poly_R p11 = inner_product_mat_poly_R(T1, T1);
    const poly_R p01 = inner_product_mat_poly_R(T0, T1);
    const poly_R p00 = inner_product_mat_poly_R(T0, T0);
    poly_K a = create_poly_K(len), b = create_poly_K(len), d = create_poly_K(len);
    for (std::int64_t i = 0; i < len; ++i) {
        a.coeffs[i] = static_cast<double>(p11.coeffs[i]) * (-zeta);
        b.coeffs[i] = static_cast<double>(p01.coeffs[i]) * (-zeta);
        d.coeffs[i] = static_cast<double>(p00.coeffs[i]) * (-zeta);
    }
    a.coeffs[0] += s_ * s_;
    d.coeffs[0] += s_ * s_;
    const double w = std::sqrt(s_ * s_ - rho * rho);
    const mat_poly_R G = generate_Gaussian_mat_poly_R(len, 1, kk, w);
    const poly_R h1 = inner_product_mat_poly_R(T1, G);
    const poly_R h0 = inner_product_mat_poly_R(T0, G);
    mat_poly_K c = create_mat_poly_K(len, 1, 2);
    for (std::int64_t i = 0; i < len; ++i) {
        c.entries[0].coeffs[i] = ((-rho) * static_cast<double>(h1.coeffs[i])) * rho / (s_ * s_ - rho * rho);
        c.entries[1].coeffs[i] = ((-rho) * static_cast<double>(h0.coeffs[i])) * rho / (s_ * s_ - rho * rho);
    }
    const mat_poly_R q = literal_2Z(a, b, d, c);
    mat_poly_R out = create_mat_poly_R(0, 1, kk + 2);
    out.entries[0] = q.entries[0];
    out.entries[1] = q.entries[1];
    for (std::int64_t j = 0; j < kk; ++j) out.entries[2 + j] = G.entries[j];
    return out;
}

mat_poly_R random_row(std::mt19937_64& rng, std::int64_t cols, std::int64_t len, std::int64_t bound) {
    mat_poly_R m = create_mat_poly_R(len, 1, cols);
    for (std::int64_t j = 0; j < cols; ++j) m.entries[j] = testing::random_poly(rng, len, -bound, bound);
    return m;
}

std::vector<std::int64_t> flat(const mat_poly_R& m) {
    std::vector<std::int64_t> v;
    for (std::int64_t j = 0; j < m.rows * m.cols; ++j) v.insert(v.end(), m.entries[j].coeffs, m.entries[j].coeffs + m.entries[j].len);
    return v;
}

std::vector<std::int64_t> entry(const mat_poly_R& m, std::int64_t j) { return coeffs(m.entries[j]); }

class PerturbationLevel : public testing::PerLevel {
protected:
    mat_poly_R sample(const mat_poly_R& T0, const mat_poly_R& T1) { return Sample_P(n, modulo, s, r, T0, T1); }
};

TEST_P(PerturbationLevel, MatchesTheStepByStepSamplerDrawForDraw) {
    std::mt19937_64 rng(31);
    const mat_poly_R T0 = random_row(rng, k, n, 60), T1 = random_row(rng, k, n, 60);
    mat_poly_R got, want;
    const auto a = drawn(41, [&] { got = sample(T0, T1); return flat(got); });
    const auto b = drawn(41, [&] { want = literal_P(n, s, r, T0, T1); return flat(want); });
    ASSERT_EQ(got.rows, 1);
    ASSERT_EQ(got.cols, k + 2);
    for (std::int64_t j = 0; j < k + 2; ++j) ASSERT_EQ(got.entries[j].len, n);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.second, b.second);
    EXPECT_EQ(a.second, 2 * (k * n + 2 * n));
}

TEST_P(PerturbationLevel, ZeroTrapdoorDrawsOnlyCoefficientZeroOfTheShortEntries) {
    const mat_poly_R zero = create_mat_poly_R(n, 1, k);
    const auto p = drawn(43, [&] { return flat(sample(zero, zero)); });
    EXPECT_EQ(p.second, 2 * (k * n + 2));
    // Replay: the long part, then one sample of width s for entry 1, then entry 0.
    std::vector<std::int64_t> G, e0, e1;
    {
        Draws draws(43);
        const double rho = r * 3.0;
        G = flat(generate_Gaussian_mat_poly_R(n, 1, k, std::sqrt(s * s - rho * rho)));
        e1.push_back(Oracle_1(0.0, s));
        e0.push_back(Oracle_1(0.0, s));
    }
    e0.resize(static_cast<std::size_t>(n), 0);
    e1.resize(static_cast<std::size_t>(n), 0);
    std::vector<std::int64_t> want = e0;
    want.insert(want.end(), e1.begin(), e1.end());
    want.insert(want.end(), G.begin(), G.end());
    EXPECT_EQ(p.first, want);
}

TEST_P(PerturbationLevel, EachShortEntryDependsOnlyOnItsOwnTrapdoorRow) {
    std::mt19937_64 rng(33);
    const mat_poly_R T0 = random_row(rng, k, n, 60), T1 = random_row(rng, k, n, 60);
    const mat_poly_R T0b = random_row(rng, k, n, 60), T1b = random_row(rng, k, n, 60);
    mat_poly_R base, other0, other1;
    drawn(44, [&] { base = sample(T0, T1); return std::vector<std::int64_t>{}; });
    drawn(44, [&] { other0 = sample(T0b, T1); return std::vector<std::int64_t>{}; });
    drawn(44, [&] { other1 = sample(T0, T1b); return std::vector<std::int64_t>{}; });
    // Entry 0 comes from T1 and G, entry 1 from T0 and G.
    EXPECT_EQ(entry(other0, 0), entry(base, 0));
    EXPECT_NE(entry(other0, 1), entry(base, 1));
    EXPECT_EQ(entry(other1, 1), entry(base, 1));
    EXPECT_NE(entry(other1, 0), entry(base, 0));
}

TEST_P(PerturbationLevel, PreparedKeyDrawsWhatSample_PDraws) {
    std::mt19937_64 rng(34);
    const mat_poly_R T0 = random_row(rng, k, n, 200), T1 = random_row(rng, k, n, 200);
    const auto want = drawn(45, [&] { return flat(sample(T0, T1)); });

    const PerturbationKey key = prepare_perturbation_key(P(), T0, T1);
    ASSERT_TRUE(key.valid());
    const auto len = static_cast<std::size_t>((k + 2) * n);
    std::vector<std::int32_t> g_ntt(static_cast<std::size_t>(k * n));
    const auto got = drawn(45, [&] {
        std::vector<std::int64_t> p(len);
        EXPECT_TRUE(sample_perturbation(key, p.data(), g_ntt.data()));
        return p;
    });
    EXPECT_EQ(got, want);

    // G in the transform domain, entry by entry.
    const NttTables& t = ntt_tables(P());
    for (std::int64_t j = 0; j < k; ++j) {
        std::vector<std::int32_t> g(static_cast<std::size_t>(n));
        ntt_load(t, g.data(), got.first.data() + (2 + j) * n);
        ntt_forward(t, g.data());
        ASSERT_TRUE(std::equal(g.begin(), g.end(), g_ntt.begin() + j * n)) << "entry " << j;
    }

    // From flat rows, and without the transform output: the same draws.
    const std::vector<std::int64_t> t0 = flat(T0), t1 = flat(T1);
    const PerturbationKey flat_key = prepare_perturbation_key(P(), t0.data(), t1.data());
    const auto again = drawn(45, [&] {
        std::vector<std::int64_t> p(len);
        EXPECT_TRUE(sample_perturbation(flat_key, p.data(), nullptr));
        return p;
    });
    EXPECT_EQ(again, want);
}

TEST_P(PerturbationLevel, UnusableKeysDrawNothing) {
    std::mt19937_64 rng(35);
    const mat_poly_R T0 = random_row(rng, k, n, 60), T1 = random_row(rng, k, n, 60);
    const mat_poly_R short_row = random_row(rng, k - 1, n, 60), short_entries = random_row(rng, k, n / 2, 60);
    std::vector<PerturbationKey> keys;
    keys.push_back(PerturbationKey{});
    keys.push_back(prepare_perturbation_key(P(), short_row, T1));
    keys.push_back(prepare_perturbation_key(P(), T0, short_entries));
    keys.push_back(prepare_perturbation_key(P(), nullptr, nullptr));
    PerturbationKey good = prepare_perturbation_key(P(), T0, T1);
    ASSERT_TRUE(good.valid());
    const PerturbationKey moved_to = std::move(good);
    EXPECT_TRUE(moved_to.valid());
    keys.push_back(std::move(good));  // the moved-from key is wiped
    std::vector<std::int64_t> p(static_cast<std::size_t>((k + 2) * n), 3);
    Draws draws(46);
    for (const PerturbationKey& key : keys) {
        EXPECT_FALSE(key.valid());
        EXPECT_FALSE(sample_perturbation(key, p.data(), nullptr));
    }
    EXPECT_FALSE(sample_perturbation(moved_to, nullptr, nullptr));
    EXPECT_EQ(draws.count(), 0);
    EXPECT_EQ(p, std::vector<std::int64_t>(p.size(), 3));
}

INSTANTIATE_TEST_SUITE_P(Levels, PerturbationLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

// Lengths and gadget sizes that the transform tables do not cover take the
// record path, with the same results as the step-by-step sampler.
TEST(Perturbation, SmallRingOffTheTablesMatchesTheStepByStepSampler) {
    ASSERT_TRUE(parameter_init(128));
    struct RestoreK {
        std::int64_t saved = k;
        ~RestoreK() { k = saved; }
    } restore;
    k = 3;
    std::mt19937_64 rng(36);
    for (const std::int64_t len : {8, 6}) {
        const mat_poly_R T0 = random_row(rng, 3, len, 60), T1 = random_row(rng, 3, len, 60);
        const auto got = drawn(47, [&] { return flat(Sample_P(len, modulo, s, r, T0, T1)); });
        const auto want = drawn(47, [&] { return flat(literal_P(len, s, r, T0, T1)); });
        EXPECT_EQ(got, want) << "len = " << len;
    }
}

}  // namespace
}  // namespace ringtrap
