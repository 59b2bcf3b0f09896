// The fast sampling paths against draw-by-draw oracles on the real keystream:
// paired 32-bit reads of the two draws of a Gaussian sample (including the
// skip of zero second draws, which only the keystream path meets in bulk), and
// the branch-free parity step of Oracle_2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "RandomGenerator.h"

namespace ringtrap {
namespace {

constexpr int kSamples = 300000;  // about nine zero second draws expected

// Oracle_2 by its table, on a sample from the plain source.
std::int64_t oracle2_by_table(std::int64_t p, double sigma) {
    const double g = generate_Gaussian_reference(0.0, sigma);
    const auto t = static_cast<std::int64_t>(g);
    if ((t & 1) == (p & 1)) return t;
    if (t > 0) return t + 1;
    if (t < 0) return t - 1;
    return g > 0 ? 1 : -1;
}

std::int64_t oracle1_by_rule(double c, double sigma) {
    const double g = generate_Gaussian_reference(c, sigma);
    return static_cast<std::int64_t>(g >= 0 ? g + 0.5 : g - 0.5);
}

TEST(SamplerPaths, PairedDrawsEqualDrawByDraw) {
    for (const std::uint64_t seed : {3u, 4u}) {
        // How often the stream offers a zero second draw: the case that falls
        // back from the paired read.
        seed_draws(seed);
        int zero_seconds = 0;
        for (int i = 0; i < kSamples; ++i) {
            draw();
            int r2 = draw();
            while (r2 == 0) {
                ++zero_seconds;
                r2 = draw();
            }
        }
        EXPECT_GT(zero_seconds, 0);

        seed_draws(seed);
        std::vector<double> fast(kSamples);
        for (auto& x : fast) x = generate_Gaussian(0.25, 3.0);
        const int tail = draw();
        seed_draws(seed);
        for (int i = 0; i < kSamples; ++i) ASSERT_EQ(fast[static_cast<std::size_t>(i)], generate_Gaussian_reference(0.25, 3.0)) << i;
        EXPECT_EQ(draw(), tail);  // the same number of draws taken
    }
    seed_draws_from_os();
}

// Factors drawn ahead in chunks of uneven sizes (crossing refills and zero
// second draws) give the samples of the plain source, draw for draw.
TEST(SamplerPaths, FactorsDrawnAheadEqualDrawByDraw) {
    seed_draws(8);
    std::vector<double> cs(kSamples), rd(kSamples);
    const gaussian_tables::BoxMuller& t = gaussian_tables::box_muller();
    for (std::size_t at = 0, chunk = 1; at < cs.size(); at += chunk, chunk = chunk % 97 + 5) {
        const std::size_t m = std::min(chunk, cs.size() - at);
        detail::gaussian_factors(t, cs.data() + at, rd.data() + at, m);
    }
    const int tail = draw();
    seed_draws(8);
    for (std::size_t i = 0; i < cs.size(); ++i)
        ASSERT_EQ(detail::gaussian_from(cs[i], rd[i], -1.25, 7.5), generate_Gaussian_reference(-1.25, 7.5)) << i;
    EXPECT_EQ(draw(), tail);
    seed_draws_from_os();
}

// Draws of samples handed out as word pairs, in uneven runs and with a stride
// (crossing refills and zero second draws): each word is the pair of the
// plain source, and the stream ends where it does.
TEST(SamplerPaths, WordPairsEqualDrawByDraw) {
    const auto total = static_cast<std::size_t>(kSamples);
    seed_draws(10);
    std::vector<std::uint32_t> words, run;
    for (std::size_t chunk = 1; words.size() < total; chunk = chunk % 301 + 7) {
        const std::size_t m = std::min(chunk, total - words.size());
        const std::size_t stride = chunk % 3 == 0 ? 3 : 1;
        run.assign(m * stride, 0);
        detail::gaussian_words(run.data(), m, stride);
        for (std::size_t i = 0; i < m; ++i) words.push_back(run[i * stride]);
    }
    const int tail = draw();
    seed_draws(10);
    for (std::size_t i = 0; i < total; ++i) {
        const int r1 = draw();
        int r2 = draw();
        while (r2 == 0) r2 = draw();
        ASSERT_EQ(words[i], static_cast<std::uint32_t>(r1 | r2 << 16)) << i;
    }
    EXPECT_EQ(draw(), tail);
    seed_draws_from_os();
}

// The bulk rounding in AVX2 lanes (rounded values within 32 bits) and the
// scalar bulk path (wider), against the rule, over enough samples to meet zero
// second draws.
TEST(SamplerPaths, BulkRoundingEqualsTheRuleOnBothPaths) {
    for (const double sigma : {44872.9968551, -3.0, 6.0e8}) {
        seed_draws(12);
        std::vector<std::int64_t> bulk(kSamples);
        fill_Oracle_1(bulk.data(), bulk.size(), 0.5, sigma);
        const int tail = draw();
        seed_draws(12);
        for (const std::int64_t v : bulk) ASSERT_EQ(v, oracle1_by_rule(0.5, sigma)) << sigma;
        EXPECT_EQ(draw(), tail);
    }
    seed_draws_from_os();
}

TEST(SamplerPaths, IntegerSamplersEqualTheirRules) {
    seed_draws(9);
    std::vector<std::int64_t> fast;
    for (int i = 0; i < kSamples / 4; ++i) {
        fast.push_back(Oracle_1(0.5 * (i % 7) - 1.5, 5.6));
        fast.push_back(Oracle_2(i % 5 - 2, 11.2));
        fast.push_back(Oracle_2(i % 2, 0.3));  // mostly truncates to 0: the sign rule
    }
    std::vector<std::int64_t> bulk(1000);
    fill_Oracle_1(bulk.data(), bulk.size(), -0.75, 44872.9968551);

    seed_draws(9);
    for (int i = 0; i < kSamples / 4; ++i) {
        const auto at = static_cast<std::size_t>(3 * i);
        ASSERT_EQ(fast[at], oracle1_by_rule(0.5 * (i % 7) - 1.5, 5.6)) << i;
        ASSERT_EQ(fast[at + 1], oracle2_by_table(i % 5 - 2, 11.2)) << i;
        ASSERT_EQ(fast[at + 2], oracle2_by_table(i % 2, 0.3)) << i;
    }
    for (const std::int64_t v : bulk) ASSERT_EQ(v, oracle1_by_rule(-0.75, 44872.9968551));
    seed_draws_from_os();
}

}  // namespace
}  // namespace ringtrap
