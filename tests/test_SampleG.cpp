#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "RandomGenerator.h"
#include "SampleG.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

__extension__ typedef __int128 wide;

using Draws = testing::ScriptedDraws;

wide gadget_product(const std::vector<std::int64_t>& x, std::size_t digits) {
    wide sum = 0;
    for (std::size_t i = 0; i < digits; ++i) sum += static_cast<wide>(x[i]) * (static_cast<wide>(1) << i);
    return sum;
}

std::int64_t residue(wide v, std::int64_t q) {
    const wide m = v % q;
    return static_cast<std::int64_t>(m < 0 ? m + q : m);
}

// Targets of every kind: around 0 and q, far outside [0, q), the ends of the
// 64-bit range, random ones.
std::vector<std::int64_t> targets(std::int64_t q) {
    const wide min = std::numeric_limits<std::int64_t>::min(), max = std::numeric_limits<std::int64_t>::max();
    std::vector<std::int64_t> u;
    for (const wide v : {wide{0}, wide{1}, wide{-1}, wide{q / 2}, wide{-(q / 2)}, wide{q} - 1, wide{q}, wide{q} + 1,
                         -wide{q}, 2 * wide{q} + 5, -7 * wide{q} - 3, max, min, min + 1})
        if (v >= min && v <= max) u.push_back(static_cast<std::int64_t>(v));
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<std::int64_t> any(-(INT64_C(1) << 62), INT64_C(1) << 62);
    std::uniform_int_distribution<std::int64_t> centred(-(q - 1) / 2, (q - 1) / 2);
    for (int i = 0; i < 100; ++i) u.push_back(any(rng));
    for (int i = 0; i < 100; ++i) u.push_back(centred(rng));
    return u;
}

class GadgetLevel : public testing::PerLevel {};

TEST_P(GadgetLevel, PreimageMeetsEveryTargetWithSixDrawsPerDigit) {
    const std::int64_t q = P().q;
    const auto digits = static_cast<std::size_t>(P().k);
    const std::vector<std::int64_t> us = targets(q);
    Draws draws(1);
    constexpr std::int64_t kCanary = 0x5a5a5a5a5a5a;
    for (const std::int64_t u : us) {
        std::vector<std::int64_t> x(digits + 2, kCanary);
        Sample_G(x.data(), q, u, P().r);
        ASSERT_EQ(residue(gadget_product(x, digits), q), residue(u, q)) << "u = " << u;
        EXPECT_EQ(x[digits], kCanary);
        EXPECT_EQ(x[digits + 1], kCanary);
    }
    EXPECT_EQ(draws.count(), 6 * P().k * static_cast<std::int64_t>(us.size()));
}

// From the remainder on, only u mod q matters; targets at the ends of the
// 64-bit range must not overflow on the way there.
TEST_P(GadgetLevel, TargetsCongruentModQGiveTheSameVector) {
    const std::int64_t q = P().q;
    const auto digits = static_cast<std::size_t>(P().k);
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t base = residue(min, q);
    const std::vector<std::int64_t> same = {base, base + q, base - 3 * q, min, min + 5 * q, max - residue(max, q) - q + base};
    for (std::uint64_t seed = 0; seed < 8; ++seed) {
        std::vector<std::int64_t> first(digits);
        {
            Draws draws(seed);
            Sample_G(first.data(), q, same[0], P().r);
        }
        for (const std::int64_t u : same) {
            std::vector<std::int64_t> x(digits);
            Draws draws(seed);
            Sample_G(x.data(), q, u, P().r);
            ASSERT_EQ(x, first) << "u = " << u;
        }
    }
}

// The batch forms against one-by-one calls on the real keystream: the AVX2
// and AVX-512 forms (each where the processor has it) and the portable one
// give the same digits and leave the stream at the same place.
void check_batch(std::int64_t q, std::int64_t digits, std::vector<std::int64_t> us, const std::vector<double>& sigmas) {
    std::mt19937_64 rng(14);
    std::uniform_int_distribution<std::int64_t> centred(-(q - 1) / 2, (q - 1) / 2);
    while (us.size() < 1101) us.push_back(centred(rng));
    const auto count = static_cast<std::int64_t>(us.size()), stride = count + 3;
    for (const double sigma : sigmas) {
        std::vector<std::int64_t> want(static_cast<std::size_t>(digits * stride), 7);
        seed_draws(15);
        for (std::int64_t j = 0; j < count; ++j) {
            std::vector<std::int64_t> x(static_cast<std::size_t>(digits));
            ASSERT_TRUE(Sample_G(x.data(), q, us[static_cast<std::size_t>(j)], sigma, digits));
            for (std::int64_t i = 0; i < digits; ++i) want[static_cast<std::size_t>(i * stride + j)] = x[static_cast<std::size_t>(i)];
        }
        const int tail = draw();
        for (const int form : {0, 1, 2}) {
            std::vector<std::int64_t> got(want.size(), 7);
            seed_draws(15);
            const auto batch = form == 0 ? sample_gadget_batch_portable
                               : form == 1 ? sample_gadget_batch_avx2
                                           : sample_gadget_batch_avx512;
            ASSERT_TRUE(batch(q, sigma, digits, us.data(), count, got.data(), stride));
            EXPECT_EQ(got, want) << "sigma " << sigma << " form " << form;
            EXPECT_EQ(draw(), tail);
        }
    }
    seed_draws_from_os();
}

// 1101 targets of 3k samples each cross many refills and, at about 2.4 zero
// second draws expected per width, the draw-by-draw fallback; widths at 0,
// the scheme's, the vector path's limit 2^20 and beyond it (portable
// fallback); targets at the ends of the 64-bit range (scalar residue).
TEST_P(GadgetLevel, BatchEqualsOneByOneCalls) {
    check_batch(P().q, P().k, targets(P().q), {0.0, P().r, -P().r, 1048576.0, 1048577.5});
}

// A short gadget with zero bits in q, one with exactly 32 digits (the longest
// whose residue the vector lanes form) and one longer, and a modulus beyond
// 32 bits (portable fallback).
TEST(Gadget, BatchEqualsOneByOneCallsOnOtherGadgets) {
    check_batch(13, 4, targets(13), {0.0, 1.5});
    check_batch(2147483629, 32, targets(2147483629), {3.0});
    check_batch(2147483629, 33, targets(2147483629), {3.0});
    check_batch((std::int64_t{1} << 40) - 87, 40, targets((std::int64_t{1} << 40) - 87), {3.0});
}

// Every digit but the last is the integer perturbation (width 2 sigma, then
// sigma around it: variance 5 sigma^2) plus a parity sample of width 2 sigma
// centred at 0 whatever the carry, so its variance is about 9 sigma^2.
TEST_P(GadgetLevel, DigitsHaveTheExpectedSpread) {
    const std::int64_t q = P().q;
    const double sigma = P().r;
    const auto digits = static_cast<std::size_t>(P().k);
    std::mt19937_64 rng(12);
    std::uniform_int_distribution<std::int64_t> target(-(q - 1) / 2, (q - 1) / 2);
    Draws draws(13);
    double sum = 0.0, sum_sq = 0.0;
    std::int64_t count = 0;
    for (int call = 0; call < 2000; ++call) {
        std::vector<std::int64_t> x(digits);
        Sample_G(x.data(), q, target(rng), sigma);
        for (std::size_t i = 0; i + 1 < digits; ++i) {
            sum += static_cast<double>(x[i]);
            sum_sq += static_cast<double>(x[i]) * static_cast<double>(x[i]);
            ++count;
        }
    }
    const double mean = sum / static_cast<double>(count);
    const double variance = sum_sq / static_cast<double>(count) - mean * mean;
    EXPECT_NEAR(mean, 0.0, 0.1 * sigma);
    EXPECT_NEAR(variance / (sigma * sigma), 9.0, 0.45);
}

// With sigma = 0 every sample is its centre: p = 0, c = -1 exactly when the
// remainder is at least q/2, and every digit but the last is 0 or -1. So the
// gadget product is the centred representative of u.
TEST_P(GadgetLevel, ZeroWidthGivesTheCentredTarget) {
    const std::int64_t q = P().q;
    const auto digits = static_cast<std::size_t>(P().k);
    Draws draws(3);
    for (const std::int64_t u : targets(q)) {
        std::vector<std::int64_t> x(digits);
        Sample_G(x.data(), q, u, 0.0);
        ASSERT_EQ(gadget_product(x, digits), static_cast<wide>(centred_mod(u, q))) << "u = " << u;
        for (std::size_t i = 0; i + 1 < digits; ++i) ASSERT_TRUE(x[i] == 0 || x[i] == -1) << i;
    }
}

// Scripts the k continuous values y (first draw 0, so cos = 1; second draws
// chosen per value) and makes every later sample equal its centre (second
// draw 32767, radius 0). Then p_i = round(y_i) for i < k - 1 and p_{k-1} is the
// rounded fold. With u = <g, p> the remainder is 0, c = 0, every randomised
// digit is 0 and the output is p itself, so any other fold shows.
std::vector<std::int64_t> expected_perturbation(std::int64_t digits, double sigma, const std::vector<int>& script) {
    std::vector<double> y(static_cast<std::size_t>(digits));
    {
        Draws replay(0, script, 32767);
        for (auto& v : y) v = generate_Gaussian(0.0, sigma + sigma);
    }
    const std::size_t last = y.size() - 1;
    y[last] = y[last] * (1.0 / std::sqrt(3.0));
    for (std::int64_t j = 1; j <= std::min<std::int64_t>(digits - 1, 20); ++j)
        y[last] = y[last] + y[last - static_cast<std::size_t>(j)] / std::ldexp(1.0, static_cast<int>(j));
    std::vector<std::int64_t> p(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) p[i] = y[i] >= 0 ? static_cast<std::int64_t>(y[i] + 0.5) : static_cast<std::int64_t>(y[i] - 0.5);
    return p;
}

void check_fold(std::int64_t digits, std::int64_t q) {
    const double sigma = 1073741824.0;  // 2^30: every earlier value moves the fold by far more than 1
    std::vector<int> script;
    for (std::int64_t i = 0; i < digits; ++i) {
        script.push_back(0);
        script.push_back(static_cast<int>(1 + 997 * i % 30000));
    }
    const std::vector<std::int64_t> p = expected_perturbation(digits, sigma, script);
    wide u = 0;
    for (std::size_t i = 0; i < p.size(); ++i) u += static_cast<wide>(p[i]) * (static_cast<wide>(1) << i);
    std::vector<std::int64_t> x(p.size());
    Draws draws(0, script, 32767);
    ASSERT_TRUE(Sample_G(x.data(), q, static_cast<std::int64_t>(u % q), sigma, digits));
    EXPECT_EQ(x, p) << "digits = " << digits;
}

TEST_P(GadgetLevel, LastValueFoldsAtMostTwentyEarlierOnes) { check_fold(P().k, P().q); }

TEST(Gadget, FoldTakesAllEarlierValuesForShortGadgets) {
    check_fold(4, 13);
    check_fold(21, 1048583);  // exactly 20 earlier values
    check_fold(22, 2097169);  // one left out
}

// The gadget length is process-wide; these examples use k = 4 and q = 13.
class SmallGadget : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = k;
        k = 4;
    }
    void TearDown() override { k = saved_; }

private:
    std::int64_t saved_ = 0;
};

TEST_F(SmallGadget, ZeroWidthExamples) {
    const std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> cases = {
        {0, {0, 0, 0, 0}}, {5, {-1, -1, 0, 1}}, {6, {0, -1, 0, 1}}, {7, {0, -1, -1, 0}}, {12, {-1, 0, 0, 0}}};
    Draws draws(4);
    for (const auto& [u, want] : cases) {
        std::vector<std::int64_t> x(4, 99);
        Sample_G(x.data(), 13, u, 0.0);
        EXPECT_EQ(x, want) << "u = " << u;
    }
    EXPECT_EQ(draws.count(), 5 * 6 * 4);
}

TEST(Gadget, RefusesWhatItCannotServeWithoutDrawing) {
    struct Case {
        std::int64_t q;
        double sigma;
        std::int64_t digits;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {{13, 1.0, 0},  {13, 1.0, -3},  {13, 1.0, 65},  {0, 1.0, 4},
                          {-13, 1.0, 4}, {16, 1.0, 4},   {17, 1.0, 4},   {13, nan, 4},
                          {13, inf, 4},  {13, -inf, 4},  {13, 1e13, 4}};
    Draws draws(5);
    for (const Case& c : cases) {
        std::vector<std::int64_t> x(70, 7);
        EXPECT_FALSE(Sample_G(x.data(), c.q, 5, c.sigma, c.digits));
        for (std::int64_t i = 0; i < 70; ++i) ASSERT_EQ(x[static_cast<std::size_t>(i)], i < c.digits ? 0 : 7);
    }
    EXPECT_EQ(draws.count(), 0);
}

// The longest gadget: 64 digits, a modulus near 2^63, products beyond 64 bits.
TEST(Gadget, LongestGadgetStillSolvesTheEquation) {
    const std::int64_t q = std::numeric_limits<std::int64_t>::max() - 24;
    Draws draws(6);
    for (const std::int64_t u : targets(q)) {
        std::vector<std::int64_t> x(64);
        ASSERT_TRUE(Sample_G(x.data(), q, u, 3.0, 64));
        ASSERT_EQ(residue(gadget_product(x, 64), q), residue(u, q)) << "u = " << u;
    }
    EXPECT_EQ(draws.count(), static_cast<std::int64_t>(targets(q).size()) * 6 * 64);
}

INSTANTIATE_TEST_SUITE_P(Levels, GadgetLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
