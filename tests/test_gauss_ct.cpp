// The constant-time samplers against their exact distributions.
//
// Statistical tests use fixed seeds, so they are deterministic; their
// tolerances are still derived from the sample counts, so that a correct
// sampler would fail only with negligible probability for any seed:
//  - chi-square statistics are compared with the Wilson-Hilferty quantile at
//    z = 5.5 (one-sided false-alarm probability about 2e-8), bins merged until
//    every expected count is at least 20;
//  - frequencies and moments are compared with z = 5.5 standard errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "RandomGenerator.h"
#include "chacha20.h"
#include "gauss_ct.h"
#include "gauss_ct_detail.h"
#include "gauss_ct_tables.h"
#include "word_stream.h"

namespace ringtrap::gauss {
namespace {

constexpr double kZ = 5.5;

WordStream stream(std::uint8_t tag) {
    std::uint8_t seed[32];
    for (std::size_t i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(tag * 31 + i);
    return WordStream(seed);
}

// Upper chi-square quantile for df degrees of freedom at z standard deviations
// (Wilson-Hilferty: (X/df)^(1/3) is nearly normal with mean 1 - 2/(9 df) and
// variance 2/(9 df)).
double chi2_limit(std::size_t df) {
    const double d = static_cast<double>(df);
    const double v = 2.0 / (9.0 * d);
    return d * std::pow(1.0 - v + kZ * std::sqrt(v), 3.0);
}

long double rho(long double x, long double sigma) { return std::exp(-x * x / (2 * sigma * sigma)); }

// Mass of D_{Z, c, sigma} (unnormalised: sigma sqrt(2 pi) in total) on the
// integers a .. b: summed directly for short ranges; for long ones, the
// integral over [a - 1/2, b + 1/2], which differs from the sum by a relative
// O(1 / sigma^2) only (and we use it only for sigma >= 64).
long double gauss_mass(std::int64_t a, std::int64_t b, long double c, long double sigma) {
    if (b - a < 64) {
        long double m = 0;
        for (std::int64_t z = a; z <= b; ++z) m += rho(z - c, sigma);
        return m;
    }
    const long double k = 1 / (sigma * std::sqrt(2.0L));
    const long double pi = 3.14159265358979323846L;
    return sigma * std::sqrt(pi / 2) * (std::erf((b + 0.5L - c) * k) - std::erf((a - 0.5L - c) * k));
}

// Chi-square statistic of integer samples against bins [lo + i w, lo + (i+1) w)
// covering [lo, hi] (samples outside go to the end bins) whose unnormalised
// masses are mass(a, b); returns {chi2, df}.
template <typename Mass>
std::pair<double, std::size_t> chi_square(const std::vector<std::int64_t>& samples, std::int64_t lo, std::int64_t hi,
                                          Mass mass, std::int64_t width = 1) {
    const std::size_t nbins = static_cast<std::size_t>((hi - lo) / width + 1);
    std::vector<long double> expected(nbins, 0.0L);
    std::vector<double> observed(nbins, 0.0);
    long double total = 0;
    for (std::size_t i = 0; i < nbins; ++i) {
        const std::int64_t a = lo + static_cast<std::int64_t>(i) * width;
        expected[i] = mass(a, std::min(hi, a + width - 1));
        total += expected[i];
    }
    for (std::int64_t s : samples) {
        const std::int64_t c = std::clamp(s, lo, hi);
        observed[static_cast<std::size_t>((c - lo) / width)] += 1;
    }
    // Merge bins from the low end until each holds at least 20 expected.
    const long double n = static_cast<long double>(samples.size());
    std::vector<std::pair<long double, double>> bins;
    long double e_acc = 0;
    double o_acc = 0;
    for (std::size_t i = 0; i < nbins; ++i) {
        e_acc += expected[i] / total * n;
        o_acc += observed[i];
        if (e_acc >= 20) {
            bins.emplace_back(e_acc, o_acc);
            e_acc = 0;
            o_acc = 0;
        }
    }
    bins.back().first += e_acc;
    bins.back().second += o_acc;
    double chi2 = 0;
    for (const auto& [e, o] : bins) chi2 += static_cast<double>((o - e) * (o - e) / e);
    return {chi2, bins.size() - 1};
}


// ---------------------------------------------------------------------------
// WordStream

TEST(WordStream, WordsAreTheChaCha20KeystreamLittleEndian) {
    std::uint8_t seed[32];
    for (std::size_t i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(0xa0 + i);
    const chacha20::Key key = chacha20::load_key(seed);
    // 48 blocks: several refills, read through next() and fill() in uneven runs.
    std::vector<std::uint64_t> ref(48 * 8);
    for (std::uint64_t b = 0; b < 48; ++b) {
        std::uint8_t block[64];
        chacha20::block_ref(key, b, 0, block);
        for (std::size_t i = 0; i < 8; ++i) {
            std::uint64_t w = 0;
            for (std::size_t j = 0; j < 8; ++j) w |= std::uint64_t{block[8 * i + j]} << (8 * j);
            ref[8 * b + i] = w;
        }
    }
    WordStream ws(seed);
    std::vector<std::uint64_t> got;
    for (std::size_t run : {1u, 127u, 1u, 3u, 200u, 0u, 5u}) {
        std::vector<std::uint64_t> part(run);
        ws.fill(part.data(), run);
        got.insert(got.end(), part.begin(), part.end());
        got.push_back(ws.next());
    }
    ASSERT_LE(got.size(), ref.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin()));
}

TEST(WordStream, SeededFromTheDrawSourceAndMovable) {
    seed_draws(77);
    std::uint8_t seed[32];
    draw_bytes(seed, 32);
    WordStream expect(seed);
    seed_draws(77);
    WordStream a = WordStream::from_draws();
    EXPECT_EQ(a.next(), expect.next());
    WordStream b(std::move(a));  // continues where a stopped
    for (int i = 0; i < 300; ++i) ASSERT_EQ(b.next(), expect.next());
    seed_draws_from_os();
}

// The bulk paths read words in place: windows of up to 256 words (refilling
// once or twice), consumed in part, between single words and fills, must still
// give the stream in order.
TEST(WordStream, InPlaceWindowsKeepTheOrder) {
    WordStream ws = stream(2), ref = stream(2);
    std::vector<std::uint64_t> expect(20000);
    ref.fill(expect.data(), expect.size());
    std::size_t at = 0;
    std::mt19937_64 rng(3);
    while (at + 600 < expect.size()) {
        const std::size_t want = 1 + rng() % 256, take = rng() % (want + 1);
        const std::uint64_t* w = detail::StreamAccess::window(ws, want);
        ASSERT_TRUE(std::equal(w, w + want, expect.begin() + static_cast<std::ptrdiff_t>(at))) << at;
        detail::StreamAccess::advance(ws, take);
        at += take;
        if (rng() % 3 == 0) {
            ASSERT_EQ(ws.next(), expect[at++]);
        }
        if (rng() % 5 == 0) {
            std::uint64_t part[70];
            const std::size_t k = rng() % 70;
            ws.fill(part, k);
            ASSERT_TRUE(std::equal(part, part + k, expect.begin() + static_cast<std::ptrdiff_t>(at)));
            at += k;
        }
        ASSERT_EQ(ws.words_used(), at);  // windows read ahead, but only advance() consumes
    }
}

TEST(WordStreamDeathTest, MovedFromStreamRefusesToDraw) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    WordStream a = stream(1);
    WordStream b(std::move(a));
    EXPECT_DEATH((void)a.next(), "");
}

// ---------------------------------------------------------------------------
// Tables: entries against an independent long-double computation of
// 2^96 P(Z > i), where the relative rounding of 96 bits is far below the
// long double's precision.

template <std::size_t N, typename Weight>
void check_table(const detail::Rcdt96 (&table)[N], Weight weight) {
    long double total = 0;
    for (int z = 0; z < 60; ++z) total += weight(z);
    for (std::size_t i = 0; i < N; ++i) {
        long double tail = 0;
        for (int z = static_cast<int>(i) + 1; z < 60; ++z) tail += weight(z);
        const long double expect = tail / total;
        const long double got = (std::ldexp(static_cast<long double>(table[i].hi), 33) + table[i].lo) * 0x1p-96L;
        // Relative error of the long double sums, plus one unit of 2^-96 for
        // each weight rounded down above i.
        const long double units = static_cast<long double>(N - i) * 0x1p-96L;
        EXPECT_NEAR(static_cast<double>(got / expect), 1.0, static_cast<double>(1e-15L + units / expect)) << "entry " << i;
    }
    EXPECT_GT(table[N - 1].hi | table[N - 1].lo, 0u);  // the last value is still possible
}

TEST(GaussTables, EntriesMatchLongDouble) {
    check_table(detail::kBinRcdt, [](int z) { return std::exp2(-static_cast<long double>(z * z)); });
    check_table(detail::kBinSymRcdt, [](int z) { return (z == 0 ? 1 : 2) * std::exp2(-static_cast<long double>(z * z)); });
    check_table(detail::kNarrowRcdt, [](int z) { return rho(z, 1.70L); });
    check_table(detail::kNarrowWideRcdt, [](int z) { return rho(z, 1.70L / 0.75L); });
}

// ---------------------------------------------------------------------------
// Building blocks against exact references (faults here are far too rare or
// too small to show in any distribution test).

__extension__ using u128 = unsigned __int128;

TEST(GaussDetail, CompareAndUniformAreExact) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t w0 = rng(), w1 = rng();
        const std::uint64_t hi = detail::u96_hi(w0), lo = detail::u96_lo(w0, w1);
        detail::Rcdt96 t{rng() >> 1, rng() >> 31};
        if (i % 3 == 0) t.hi = hi;  // equal high parts decide on the low ones
        if (i % 9 == 0) t.lo = lo;
        const u128 a = (u128{w0} << 32) | (w1 >> 32), b = (u128{t.hi} << 33) | t.lo;
        ASSERT_EQ(detail::lt96(hi, lo, t), a < b ? 1u : 0u) << i;

        const std::uint64_t K = i % 5 == 0 ? (i % 10 == 0 ? 1 : std::uint64_t{1} << 20) : 1 + rng() % (std::uint64_t{1} << 20);
        const std::uint64_t w = i % 7 == 0 ? ~std::uint64_t{0} : rng(), spare = i % 11 == 0 ? 0x7fffffffu : rng() >> 33;
        const u128 exact = (u128{K} * ((u128{w} << 31) | spare)) >> 95;
        ASSERT_EQ(detail::uniform_below(K, w, spare), static_cast<std::uint64_t>(exact)) << K << " " << w << " " << spare;
        // Both sides of a step: Y = ceil(j 2^95 / K) is the first 95-bit value
        // with result j (random values almost never reach these carries).
        if (K == 1) continue;
        const u128 j = 1 + rng() % (K - 1);
        const u128 y = ((j << 95) + K - 1) / K;
        for (const u128 v : {y, y - 1}) {
            const auto vw = static_cast<std::uint64_t>(v >> 31), vs = static_cast<std::uint64_t>(v) & 0x7fffffffu;
            ASSERT_EQ(detail::uniform_below(K, vw, vs), static_cast<std::uint64_t>((u128{K} * v) >> 95)) << K;
        }
    }
}

TEST(GaussDetail, LogAndPowerOfTwoAreAccurate) {
    std::mt19937_64 rng(6);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> ss = {0x1p-126, 0.5, 0.7071067811865475, 0.7071067811865476, 0.9999999999999999, 0.999, 1e-3};
    for (int i = 0; i < 100000; ++i) ss.push_back(std::ldexp(1.0 + unit(rng), -1 - static_cast<int>(rng() % 126)));
    for (double s : ss) {
        const long double want = std::log(static_cast<long double>(s));
        ASSERT_LE(std::fabs(detail::ct_log(s) - want), 0x1p-51L * std::fabs(want)) << s;
    }
    for (int i = 0; i <= 100000; ++i) {
        const double f = i == 100000 ? 1.0 : (i == 0 ? -0x1p-40 : unit(rng) * (1 + 0x1p-30));
        const long double want = std::exp2(-static_cast<long double>(f));
        ASSERT_LE(std::fabs(detail::pow2m(f) - want), 0x1p-51L * want) << f;
    }
    EXPECT_EQ(detail::round_nearest(2.5), 2.0);
    EXPECT_EQ(detail::round_nearest(-3.5), -4.0);
    EXPECT_EQ(detail::round_nearest(-1099511627775.75), -1099511627776.0);
}

// The narrow sampler's trial: the first min(shift, 31) halvings are coin flips
// on the 31 spare bits, the rest shift the threshold.
TEST(GaussDetail, TrialWithSpareBits) {
    const detail::Threshold th{std::uint64_t{1} << 63, 40};  // probability 2^-40
    const std::uint64_t limit = (std::uint64_t{1} << 63) >> 9;
    EXPECT_EQ(detail::accept_word_spare(0, 0, th), 1u);
    EXPECT_EQ(detail::accept_word_spare(0, 1u << 30, th), 0u);  // the 31st coin counts
    EXPECT_EQ(detail::accept_word_spare((limit - 1) << 1 | 1, 0, th), 1u);
    EXPECT_EQ(detail::accept_word_spare(limit << 1, 0, th), 0u);
    const detail::Threshold small{std::uint64_t{3} << 61, 5};  // 0.75 * 2^-5
    EXPECT_EQ(detail::accept_word_spare(0, 1u << 5, small), 1u);  // only 5 coins
    EXPECT_EQ(detail::accept_word_spare(0, 1u << 4, small), 0u);
    EXPECT_EQ(detail::accept_word_spare((std::uint64_t{3} << 61) << 1, 0, small), 0u);
    EXPECT_EQ(detail::accept_word(0, detail::Threshold{1, 63}), 0u);  // v >> 63 = 0: never
}

// ---------------------------------------------------------------------------
// Bernoulli exp

TEST(BernoulliExp, ThresholdIsExpWithinTheStatedError) {
    // Probability threshold / 2^63 within 2^-50 relative plus 2^-63 absolute.
    std::vector<double> xs;
    for (int i = 0; i <= 6000; ++i) xs.push_back(i * 0.0137);  // to 82, across many shifts
    for (double x : {0.0, 1e-300, 0.6931471805599453, 0.6931471805599454, 43.66827237527655, 44.0})
        xs.push_back(x);
    for (double ccs : {1.0, 0.999999, 0.75, 0.5, 0.3333, 1e-3}) {
        for (double x : xs) {
            const long double p = ccs * std::exp(-static_cast<long double>(x));
            const long double got = bernoulli_exp_threshold(x, ccs) * 0x1p-63L;
            ASSERT_LE(std::fabs(got - p), p * 0x1p-50L + 0x1p-63L) << "x = " << x << ", ccs = " << ccs;
        }
    }
    EXPECT_EQ(bernoulli_exp_threshold(0.0, 1.0), std::uint64_t{1} << 63);  // certain
    EXPECT_EQ(bernoulli_exp_threshold(1e300, 1.0), 0u);
    EXPECT_EQ(bernoulli_exp_threshold(-3.0, 1.0), std::uint64_t{1} << 63);  // clamped to x = 0
}

TEST(BernoulliExp, FrequencyMatchesProbability) {
    WordStream ws = stream(2);
    const int n = 200000;
    for (auto [x, ccs] : {std::pair{0.05, 1.0}, {1.3, 0.7}, {4.0, 1.0}, {0.0, 0.25}}) {
        const double p = ccs * std::exp(-x);
        int hits = 0;
        for (int i = 0; i < n; ++i) hits += static_cast<int>(bernoulli_exp(ws, x, ccs));
        EXPECT_NEAR(hits, n * p, kZ * std::sqrt(n * p * (1 - p))) << x << " " << ccs;
    }
}

// ---------------------------------------------------------------------------
// Narrow sampler

struct NarrowCase {
    bool wide_base;
    double sigma_ratio;  // sigma / base
    double centre;
};

class Narrow : public ::testing::TestWithParam<NarrowCase> {};

TEST_P(Narrow, ChiSquareAgainstTheDiscreteGaussian) {
    const NarrowCase c = GetParam();
    const NarrowTable& t = c.wide_base ? narrow_table_r_wide() : narrow_table_r();
    const double sigma = c.sigma_ratio * narrow_base_sigma(t);
    WordStream ws = stream(3);
    const std::size_t n = 200000;
    std::vector<double> centres(n, c.centre);
    std::vector<std::int64_t> out(n);
    sample_narrow_batch(ws, t, centres.data(), sigma, out.data(), n);
    const auto lo = static_cast<std::int64_t>(std::floor(c.centre - 12 * sigma));
    const auto hi = static_cast<std::int64_t>(std::ceil(c.centre + 12 * sigma));
    const auto [chi2, df] = chi_square(out, lo, hi, [&](std::int64_t a, std::int64_t b) { return gauss_mass(a, b, c.centre, sigma); });
    EXPECT_LT(chi2, chi2_limit(df)) << "df " << df;
}

INSTANTIATE_TEST_SUITE_P(Cases, Narrow,
                         ::testing::Values(NarrowCase{false, 1.0, 0.0}, NarrowCase{false, 1.0, 0.5},
                                           NarrowCase{false, 1.0, -13.37}, NarrowCase{false, 0.5, 0.25},
                                           NarrowCase{false, 0.5, 7.0}, NarrowCase{false, 0.77, -0.999},
                                           NarrowCase{true, 1.0, 0.3}, NarrowCase{true, 0.5, -2.5},
                                           NarrowCase{true, 0.8, 123456.75}));

// A batch of one sample is the single-sample call (one pending sample per
// round: its three words are consecutive), and batches are reproducible.
TEST(NarrowSampler, BatchOfOneIsTheSingleCallAndBatchesReproduce) {
    const std::vector<double> centres = {0.1, -5.5, 3.0, 1e6 + 0.25, -0.0, 29.9};
    for (const NarrowTable* t : {&narrow_table_r(), &narrow_table_r_wide()}) {
        WordStream a = stream(4), b = stream(4);
        for (double c : centres) {
            std::int64_t one;
            sample_narrow_batch(a, *t, &c, narrow_base_sigma(*t), &one, 1);
            EXPECT_EQ(one, sample_narrow(b, *t, c, narrow_base_sigma(*t)));
        }
        EXPECT_EQ(a.next(), b.next());  // the same number of words consumed
        std::vector<double> many(200, 0.3);
        std::vector<std::int64_t> x(200), y(200);
        WordStream c = stream(5), d = stream(5);
        sample_narrow_batch(c, *t, many.data(), 1.2, x.data(), x.size());
        sample_narrow_batch(d, *t, many.data(), 1.2, y.data(), y.size());
        EXPECT_EQ(x, y);
    }
}

TEST(NarrowSampler, RejectsWidthsOutsideTheTableRange) {
    WordStream ws = stream(5);
    const NarrowTable& t = narrow_table_r();
    EXPECT_THROW(sample_narrow(ws, t, 0.0, 1.71), std::invalid_argument);
    EXPECT_THROW(sample_narrow(ws, t, 0.0, 0.84), std::invalid_argument);
    EXPECT_THROW(sample_narrow(ws, t, 0.0, std::nan("")), std::invalid_argument);
    EXPECT_NO_THROW(sample_narrow(ws, t, 0.0, 0.85));
    EXPECT_DOUBLE_EQ(narrow_base_sigma(narrow_table_r_wide()), 1.70 / 0.75);
}

// ---------------------------------------------------------------------------
// Centred sampler

class Centred : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(Centred, ChiSquareAgainstTheDiscreteGaussian) {
    const std::int64_t K = GetParam();
    const long double sigma = K * static_cast<long double>(kSigmaBin);
    WordStream ws = stream(6);
    std::vector<std::int64_t> out(200000);
    sample_centred_batch(ws, K, out.data(), out.size());
    // Bins a fraction of K wide, so that a fault in the uniform part shows.
    const std::int64_t width = std::max<std::int64_t>(1, K / 8);
    const auto span = static_cast<std::int64_t>(10 * sigma) / width * width + width - 1;
    const auto [chi2, df] = chi_square(out, -span - 1, span, [&](std::int64_t a, std::int64_t b) { return gauss_mass(a, b, 0, sigma); }, width);
    EXPECT_LT(chi2, chi2_limit(df)) << "df " << df;
}

INSTANTIATE_TEST_SUITE_P(Widths, Centred, ::testing::Values(1, 2, 7, 14000, 1 << 20));

// K = 1 reads words 2j and 2j + 1 for sample j, with no rejection: |z| is the
// count of thresholds above the 96-bit uniform, the sign bit 0 of the second
// word (checked against a 128-bit reference comparison).
TEST(CentredSampler, UnitWidthIsTheTableOnTwoWordsPerSample) {
    WordStream ws = stream(9), ref = stream(9);
    std::vector<std::int64_t> out(301);  // several chunks and a partial one
    sample_centred_batch(ws, 1, out.data(), out.size());
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::uint64_t w0 = ref.next(), w1 = ref.next();
        const u128 u = (u128{w0} << 32) | (w1 >> 32);
        std::int64_t x = 0;
        for (const auto& th : detail::kBinSymRcdt) x += u < ((u128{th.hi} << 33) | th.lo);
        ASSERT_EQ(out[j], (w1 & 1) ? -x : x) << j;
    }
    EXPECT_EQ(ws.next(), ref.next());
}

TEST(CentredSampler, RejectsKOutsideItsRange) {
    WordStream ws = stream(7);
    std::int64_t out[1];
    EXPECT_THROW(sample_centred_batch(ws, 0, out, 1), std::invalid_argument);
    EXPECT_THROW(sample_centred_batch(ws, (1 << 20) + 1, out, 1), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Wide sampler

struct WideCase {
    double sigma;
    double centre;
};

class Wide : public ::testing::TestWithParam<WideCase> {};

// Distribution by chi-square, and the acceptance rate (4 words per attempt,
// counted by locating the next word in a copy of the stream) against the
// constant the construction promises: A sigma_bin sqrt(2 pi) 2^-B / (2 Z) with
// A = 0.97191, B = 2^-9, Z = sum_x 2^(-x^2). With n samples the rate's
// standard error is p sqrt((1 - p) / n).
TEST_P(Wide, DistributionAndAcceptanceRate) {
    const WideCase c = GetParam();
    const std::size_t n = 100000;
    WordStream ws = stream(8), copy = stream(8);
    std::vector<std::uint64_t> words(8 * n);
    copy.fill(words.data(), words.size());
    const WideWidth w = prepare_wide(c.sigma);
    std::vector<std::int64_t> out(n);
    // Half one sample at a time, half in batches (rounds of up to 4 attempts).
    for (std::size_t i = 0; i < n / 2; ++i) out[i] = sample_wide(ws, w, c.centre);
    const std::vector<double> centres(n - n / 2, c.centre);
    sample_wide_batch(ws, w, centres.data(), out.data() + n / 2, centres.size());
    const auto used = static_cast<std::size_t>(std::find(words.begin(), words.end(), ws.next()) - words.begin());
    ASSERT_LT(used, words.size());
    ASSERT_EQ(used % 4, 0u);

    long double z_bin = 0;
    for (int x = 0; x < 12; ++x) z_bin += std::exp2(-static_cast<long double>(x * x));
    const double expect = static_cast<double>(0.97191L * kSigmaBin * std::sqrt(2 * 3.14159265358979323846L) *
                                              std::exp2(-0x1p-9L) / (2 * z_bin));
    const double rate = static_cast<double>(n) / static_cast<double>(used / 4);
    EXPECT_NEAR(rate, expect, kZ * expect * std::sqrt((1 - expect) / n));

    const long double centre = c.centre;
    const std::int64_t width = std::max<std::int64_t>(1, static_cast<std::int64_t>(c.sigma / 6));
    const auto lo = static_cast<std::int64_t>(std::floor(c.centre - 8 * c.sigma));
    const auto hi = lo + (static_cast<std::int64_t>(16 * c.sigma) / width + 1) * width - 1;
    const auto [chi2, df] = chi_square(out, lo, hi, [&](std::int64_t a, std::int64_t b) { return gauss_mass(a, b, centre, c.sigma); }, width);
    EXPECT_LT(chi2, chi2_limit(df)) << "df " << df;
}

INSTANTIATE_TEST_SUITE_P(Cases, Wide,
                         ::testing::Values(WideCase{64, 0.0}, WideCase{64, 0.5}, WideCase{64, -1234.3},
                                           WideCase{100.25, 0.49}, WideCase{1000, -0.25}, WideCase{12345.6, 98765.4321},
                                           WideCase{20000, -131071.5}, WideCase{1048576, 3.0}));

// Every output of a batch belongs to its own centre (the retries keep their
// slots): centres 10^4 apart at width 100, each output within 20 widths of
// its centre; the first sample of a batch is the single call's.
TEST(WideSampler, BatchKeepsEachSampleWithItsCentre) {
    const WideWidth w = prepare_wide(100.0);
    std::vector<double> centres(103);
    for (std::size_t i = 0; i < centres.size(); ++i) centres[i] = (i % 2 ? -1e4 : 1e4) * static_cast<double>(i) + 0.3;
    WordStream ws = stream(14), single = stream(14);
    std::vector<std::int64_t> out(centres.size());
    sample_wide_batch(ws, w, centres.data(), out.data(), out.size());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(static_cast<double>(out[i]), centres[i], 2000.0) << i;
    WordStream one = stream(14);
    std::int64_t first;
    sample_wide_batch(one, w, centres.data(), &first, 1);
    EXPECT_EQ(first, sample_wide(single, w, centres[0]));
    EXPECT_EQ(one.next(), single.next());
}

TEST(WideSampler, PreparationClampsTheWidth) {
    const WideWidth lo = prepare_wide(1.0), min = prepare_wide(kWideMinSigma);
    const WideWidth hi = prepare_wide(1e9), max = prepare_wide(kWideMaxSigma);
    EXPECT_EQ(0, std::memcmp(&lo, &min, sizeof lo));
    EXPECT_EQ(0, std::memcmp(&hi, &max, sizeof hi));
    for (double s : {64.0, 100.0, 14000.0, 1048576.0}) {
        const WideWidth w = prepare_wide(s);
        // K sigma_bin in [sigma (1 + delta), sigma (1 + delta) + sigma_bin), and
        // ccs = A K sigma_bin / sigma accordingly in [A (1 + delta), 1].
        const double k = static_cast<double>(w.k);
        EXPECT_GE(k * kSigmaBin, s * (1 + 0x1p-6));
        EXPECT_LT((k - 1) * kSigmaBin, s * (1 + 0x1p-6));
        EXPECT_LE(w.ccs, 1.0);
        EXPECT_GE(w.ccs, 0.97191 * (1 + 0x1p-6) * (1 - 1e-12));
    }
}

// ---------------------------------------------------------------------------
// Normals

TEST(Normals, MomentsTailAndShape) {
    WordStream ws = stream(9);
    const std::size_t n = 400000;
    std::vector<double> v(n);
    sample_normals(ws, v.data(), n);
    double m1 = 0, m2 = 0, m4 = 0;
    std::size_t tail = 0;
    for (double x : v) {
        m1 += x;
        m2 += x * x;
        m4 += x * x * x * x;
        tail += std::fabs(x) > 3.0;
    }
    const double dn = static_cast<double>(n);
    // Standard errors: sd(x) = 1, sd(x^2) = sqrt(2), sd(x^4) = sqrt(105 - 9).
    EXPECT_NEAR(m1 / dn, 0.0, kZ / std::sqrt(dn));
    EXPECT_NEAR(m2 / dn, 1.0, kZ * std::sqrt(2.0 / dn));
    EXPECT_NEAR(m4 / dn, 3.0, kZ * std::sqrt(96.0 / dn));
    const double p3 = std::erfc(3.0 / std::sqrt(2.0));
    EXPECT_NEAR(static_cast<double>(tail), dn * p3, kZ * std::sqrt(dn * p3 * (1 - p3)));
    // Shape: 40 equiprobable bins via the normal CDF.
    std::vector<std::int64_t> bins(n);
    for (std::size_t i = 0; i < n; ++i)
        bins[i] = std::min<std::int64_t>(39, static_cast<std::int64_t>(40 * 0.5 * std::erfc(-v[i] / std::sqrt(2.0))));
    const auto [chi2, df] = chi_square(bins, 0, 39, [](std::int64_t, std::int64_t) { return 1.0L; });
    EXPECT_LT(chi2, chi2_limit(df));
}

TEST(Normals, OddCountsDropTheLastPartner) {
    WordStream a = stream(10), b = stream(10);
    double five[5], six[6];
    sample_normals(a, five, 5);
    sample_normals(b, six, 6);
    EXPECT_EQ(0, std::memcmp(five, six, sizeof five));
    EXPECT_EQ(a.next(), b.next());
}

// The portable and the AVX2 copies of the bulk loops give the same values
// (on a processor without AVX2 both runs take the portable copy).
TEST(Samplers, BulkPathsAgree) {
    auto run = [] {
        WordStream ws = stream(13);
        std::vector<double> centres(300);
        for (std::size_t i = 0; i < centres.size(); ++i) centres[i] = static_cast<double>(i) * 0.731 - 100;
        std::vector<std::int64_t> a(300), b(300), c(300);
        sample_narrow_batch(ws, narrow_table_r(), centres.data(), 1.3, a.data(), a.size());
        sample_narrow_batch(ws, narrow_table_r_wide(), centres.data(), 2.0, b.data(), b.size());
        sample_centred_batch(ws, 14000, c.data(), c.size());
        std::vector<std::int64_t> d(300);
        sample_centred_batch(ws, 1, d.data(), d.size());
        c.insert(c.end(), d.begin(), d.end());
        std::vector<double> g(301);
        sample_normals(ws, g.data(), g.size());
        a.insert(a.end(), b.begin(), b.end());
        a.insert(a.end(), c.begin(), c.end());
        for (double x : g) {
            std::int64_t v;
            std::memcpy(&v, &x, sizeof v);
            a.push_back(v);
        }
        a.push_back(static_cast<std::int64_t>(ws.next()));
        return a;
    };
    const auto with = run();
    detail::g_allow_avx2 = false;
    const auto without = run();
    detail::g_allow_avx2 = true;
    EXPECT_EQ(with, without);
}

// ---------------------------------------------------------------------------
// Reproducibility: the same seed gives the same values from every sampler.

TEST(Samplers, ReproducibleFromTheSeed) {
    auto run = [](WordStream ws) {
        std::vector<double> out;
        for (int i = 0; i < 50; ++i) out.push_back(static_cast<double>(sample_narrow(ws, narrow_table_r(), i * 0.37, 1.5)));
        std::int64_t c[50];
        sample_centred_batch(ws, 14000, c, 50);
        out.insert(out.end(), c, c + 50);
        const WideWidth w = prepare_wide(777.7);
        for (int i = 0; i < 50; ++i) out.push_back(static_cast<double>(sample_wide(ws, w, i * 1001.1)));
        double g[51];
        sample_normals(ws, g, 51);
        out.insert(out.end(), g, g + 51);
        for (int i = 0; i < 50; ++i) out.push_back(static_cast<double>(bernoulli_exp(ws, i * 0.1, 0.9)));
        return out;
    };
    EXPECT_EQ(run(stream(11)), run(stream(11)));
    EXPECT_NE(run(stream(11)), run(stream(12)));
}

}  // namespace
}  // namespace ringtrap::gauss
