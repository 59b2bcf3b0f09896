// The key-independent scheme end to end: key generation, signing and
// verification at S128 (and the toy sets), hostile signatures, key checks and
// the message hash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdint>
#include <random>
#include <vector>

#include "ki_fft.h"
#include "ki_hash.h"
#include "ki_params.h"
#include "ki_scheme.h"
#include "ki_test_support.h"
#include "word_stream.h"

namespace ringtrap::ki {
namespace {

using testing::samples;

WordStream seeded_stream(std::uint8_t tag) {
    std::uint8_t seed[32] = {};
    seed[0] = tag;
    seed[1] = 0xc3;
    return WordStream(seed);
}

const std::vector<std::uint8_t> kMsg = {'p', 'a', 'y', ' ', '1', '0'};

class KiScheme : public ::testing::TestWithParam<const KiParamSet*> {};

TEST_P(KiScheme, KeyGenerationGivesATrapdoorWithinBounds) {
    const KiParamSet& p = *GetParam();
    WordStream ws = seeded_stream(1);
    const KeyPair kp = keygen(p, ws);
    const auto n = static_cast<std::size_t>(p.n);
    ASSERT_EQ(kp.pk.a.size(), static_cast<std::size_t>(p.m()));
    EXPECT_EQ(kp.pk.a[0], 1);
    EXPECT_TRUE(key_pair_matches(kp.pk, kp.sk));
    EXPECT_TRUE(check_secret_key(p, kp.sk.t.data()));
    EXPECT_LE(trapdoor_s1_squared(p, kp.sk.t.data()), p.s1_max * p.s1_max);
    // a is uniform: centred residues, mean near 0 (sd of the mean q / sqrt(12 n)).
    double mean = 0;
    for (std::size_t j = 0; j < n; ++j) {
        ASSERT_LE(std::abs(kp.pk.a[n + j]), p.q / 2);
        mean += static_cast<double>(kp.pk.a[n + j]);
    }
    EXPECT_LT(std::abs(mean / static_cast<double>(n)), 6 * static_cast<double>(p.q) / std::sqrt(12.0 * static_cast<double>(n)));
    // The trapdoor's width: coefficient variance K_T^2 sigma_bin^2 within 6
    // standard errors (sd of the sample variance sqrt(2 / count) relative).
    double var = 0;
    for (auto c : kp.sk.t) var += static_cast<double>(c * c);
    var /= static_cast<double>(kp.sk.t.size());
    const double want = std::pow(static_cast<double>(p.K_T) * kSigmaBin, 2);
    EXPECT_NEAR(var / want, 1.0, 6 * std::sqrt(2.0 / static_cast<double>(kp.sk.t.size())));

    // Another key does not match, and a tampered trapdoor no longer does.
    WordStream ws2 = seeded_stream(2);
    const KeyPair other = keygen(p, ws2);
    EXPECT_FALSE(key_pair_matches(kp.pk, other.sk));
    SecretKey tampered;
    tampered.params = &p;
    tampered.t = kp.sk.t.clone();
    tampered.t[5] += 1;
    EXPECT_FALSE(key_pair_matches(kp.pk, tampered));
}

TEST_P(KiScheme, SecretKeyCheckRefusesOutOfRangeTrapdoors) {
    const KiParamSet& p = *GetParam();
    WordStream ws = seeded_stream(3);
    const KeyPair kp = keygen(p, ws);
    const std::int64_t bound = trapdoor_coeff_bound(p);
    for (std::size_t pos : {std::size_t{0}, kp.sk.t.size() / 2, kp.sk.t.size() - 1}) {
        for (std::int64_t bad : {bound + 1, -bound - 1, std::int64_t{1} << 40}) {
            std::vector<std::int64_t> t(kp.sk.t.begin(), kp.sk.t.end());
            t[pos] = bad;
            EXPECT_FALSE(check_secret_key(p, t.data())) << pos << " " << bad;
        }
        std::vector<std::int64_t> t(kp.sk.t.begin(), kp.sk.t.end());
        t[pos] = bound;  // at the bound itself the coefficient is fine
        EXPECT_EQ(check_secret_key(p, t.data()), trapdoor_s1_squared(p, t.data()) <= p.s1_max * p.s1_max);
    }
    // Every coefficient legal, but s1 far too large: T0_0 = bound * (1 + x + ... ).
    std::vector<std::int64_t> t(kp.sk.t.begin(), kp.sk.t.end());
    for (std::int64_t j = 0; j < p.n; ++j) t[static_cast<std::size_t>(j)] = bound;
    EXPECT_FALSE(check_secret_key(p, t.data()));
    SecretKey sk{&p, SecretBuffer<std::int64_t>(t.size())};
    std::copy(t.begin(), t.end(), sk.t.begin());
    EXPECT_THROW(SigningKey(kp.pk, sk), std::invalid_argument);
}

TEST_P(KiScheme, SignaturesVerifyAndAlterationsAreRejected) {
    const KiParamSet& p = *GetParam();
    const auto n = static_cast<std::size_t>(p.n), m = static_cast<std::size_t>(p.m());
    WordStream kws = seeded_stream(4);
    const KeyPair kp = keygen(p, kws);
    const SigningKey key(kp.pk, kp.sk);
    WordStream ws = seeded_stream(5);
    const Signature sig = key.sign(kMsg.data(), kMsg.size(), ws);
    ASSERT_EQ(sig.x.size(), m);
    EXPECT_TRUE(verify(kp.pk, sig, kMsg.data(), kMsg.size()));

    // The norm is that of width s: ||x||^2 / (s^2 m) = 1 within 6 standard
    // deviations sqrt(2 / m).
    double norm2 = 0;
    for (auto c : sig.x) norm2 += static_cast<double>(c * c);
    EXPECT_NEAR(norm2 / (p.s * p.s * static_cast<double>(m)), 1.0, 6 * std::sqrt(2.0 / static_cast<double>(m)));
    EXPECT_LE(static_cast<std::int64_t>(norm2), p.beta_squared);

    // One changed coefficient in each part of x, a changed salt, message or key.
    for (std::size_t pos : {std::size_t{0}, n + 3, 2 * n, m - 1}) {
        Signature bad = sig;
        bad.x[pos] += 1;
        EXPECT_FALSE(verify(kp.pk, bad, kMsg.data(), kMsg.size())) << pos;
        bad.x[pos] = sig.x[pos] + p.q;  // the same residue, but out of range
        EXPECT_FALSE(verify(kp.pk, bad, kMsg.data(), kMsg.size())) << pos;
    }
    Signature bad_salt = sig;
    bad_salt.salt[kSaltBytes - 1] ^= 1;
    EXPECT_FALSE(verify(kp.pk, bad_salt, kMsg.data(), kMsg.size()));
    std::vector<std::uint8_t> other_msg = kMsg;
    other_msg.back() ^= 0x80;
    EXPECT_FALSE(verify(kp.pk, sig, other_msg.data(), other_msg.size()));
    EXPECT_FALSE(verify(kp.pk, sig, kMsg.data(), kMsg.size() - 1));
    WordStream kws2 = seeded_stream(6);
    const KeyPair other = keygen(p, kws2);
    EXPECT_FALSE(verify(other.pk, sig, kMsg.data(), kMsg.size()));
    Signature truncated = sig;
    truncated.x.pop_back();
    EXPECT_FALSE(verify(kp.pk, truncated, kMsg.data(), kMsg.size()));

    // A x = u alone is not enough: (u, 0, ..., 0) solves it with a huge norm.
    Signature trivial = sig;
    std::vector<std::int64_t> u(n);
    hash_to_ring(p, sig.salt.data(), kMsg.data(), kMsg.size(), u.data());
    std::fill(trivial.x.begin(), trivial.x.end(), 0);
    for (std::size_t j = 0; j < n; ++j) trivial.x[j] = u[j] > p.q / 2 ? u[j] - p.q : u[j];
    EXPECT_FALSE(verify(kp.pk, trivial, kMsg.data(), kMsg.size()));

    // The same stream gives the same signature; the empty message signs too.
    WordStream ws_again = seeded_stream(5);
    EXPECT_EQ(key.sign(kMsg.data(), kMsg.size(), ws_again).x, sig.x);
    const Signature empty = key.sign(nullptr, 0, ws);
    EXPECT_TRUE(verify(kp.pk, empty, nullptr, 0));
}

TEST_P(KiScheme, PreimagesOfAnyTarget) {
    const KiParamSet& p = *GetParam();
    const auto n = static_cast<std::size_t>(p.n), m = static_cast<std::size_t>(p.m());
    WordStream kws = seeded_stream(7);
    const KeyPair kp = keygen(p, kws);
    const SigningKey key(kp.pk, kp.sk);
    WordStream ws = seeded_stream(8);
    const NttTables& nt = ntt_tables(p);
    std::mt19937_64 rng(9);
    std::vector<std::int64_t> x(m);
    for (int rep = 0; rep < 3; ++rep) {
        std::vector<std::int64_t> u(n);
        for (auto& c : u) c = static_cast<std::int64_t>(rng() % (1u << 30)) - (1 << 29);  // any integers
        if (rep == 0) std::fill(u.begin(), u.end(), 0);
        key.sample_preimage(u.data(), x.data(), ws);
        std::vector<std::int32_t> acc(n, 0), row(n);
        for (std::size_t e = 0; e < static_cast<std::size_t>(p.k + 2); ++e) {
            for (std::size_t j = 0; j < n; ++j) row[j] = static_cast<std::int32_t>(x[e * n + j] % p.q);
            ntt_forward(nt, row.data());
            ntt_pointwise_acc(nt, acc.data(), kp.pk.a_ntt.data() + e * n, row.data());
        }
        ntt_inverse(nt, acc.data(), true);
        for (std::size_t j = 0; j < n; ++j) ASSERT_EQ(((acc[j] - u[j]) % p.q + p.q) % p.q, 0) << rep << " " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, KiScheme, ::testing::Values(&kS128, &kS256, &kToy8),
                         [](const auto& param_info) { return std::string(param_info.param->name); });

// The key-free leakage statistics of many signatures of one S128 key. With
// every entry of x of variance v = s^2, independent across coordinates, the
// negacyclic correlation (x_a x_b*)[d] = sum_i x_a[i + d] x_b[i] has variance
// n v^2; its mean over N signatures, divided by n, has standard deviation
// v / sqrt(n N). So z_d = mean * sqrt(n N) / v is standard normal and
// T = sum z_d^2 / L has mean 1 and standard deviation sqrt(2 / L) over the L
// independent lags (1 .. n/2 - 1 for an autocorrelation, whose lags d and
// n - d mirror each other; all n for a cross-correlation). A trapdoor showing
// through the second moments pushes T far above 1 within a few hundred
// signatures; the bound is 6 standard deviations. Per-entry variances: the
// mean of x^2 / s^2 over N n coefficients is 1 within 6 sqrt(2 / (N n)).
TEST(KiLeakage, KeyFreeStatisticsAreNull) {
    const KiParamSet& p = kS128;
    const auto n = static_cast<std::size_t>(p.n), h = n / 2;
    WordStream kws = seeded_stream(12);
    const KeyPair kp = keygen(p, kws);
    const SigningKey key(kp.pk, kp.sk);
    WordStream ws = seeded_stream(13);
    const FftPlan& plan = fft_plan(p.log_n);
    constexpr int kSignatures = samples(160);
    // Entries compared: (0, 0), (1, 1), (0, 1), (0, 2), (2, k + 1).
    const std::size_t pairs[][2] = {{0, 0}, {1, 1}, {0, 1}, {0, 2}, {2, static_cast<std::size_t>(p.k) + 1}};
    std::vector<std::vector<double>> sums(std::size(pairs), std::vector<double>(n, 0.0));
    std::vector<double> var(static_cast<std::size_t>(p.k) + 2, 0.0);
    std::vector<std::vector<double>> fx(static_cast<std::size_t>(p.k) + 2, std::vector<double>(n));
    std::vector<double> prod(n);
    for (int sgn = 0; sgn < kSignatures; ++sgn) {
        const std::uint8_t msg[2] = {static_cast<std::uint8_t>(sgn), static_cast<std::uint8_t>(sgn >> 8)};
        const Signature sig = key.sign(msg, sizeof msg, ws);
        for (std::size_t e = 0; e < fx.size(); ++e) {
            for (std::size_t j = 0; j < n; ++j) {
                fx[e][j] = static_cast<double>(sig.x[e * n + j]);
                var[e] += fx[e][j] * fx[e][j];
            }
        }
        for (std::size_t e : {std::size_t{0}, std::size_t{1}, std::size_t{2}, fx.size() - 1}) plan.forward(fx[e].data());
        for (std::size_t c = 0; c < std::size(pairs); ++c) {
            const auto& a = fx[pairs[c][0]];
            const auto& b = fx[pairs[c][1]];
            std::fill(prod.begin(), prod.end(), 0.0);
            fft_mul_adj_acc(h, a.data(), a.data() + h, b.data(), b.data() + h, prod.data(), prod.data() + h);
            plan.inverse(prod.data());
            for (std::size_t d = 0; d < n; ++d) sums[c][d] += prod[d];
        }
    }
    const double N = kSignatures, v = p.s * p.s, nn = static_cast<double>(n);
    for (std::size_t c = 0; c < std::size(pairs); ++c) {
        const bool autoc = pairs[c][0] == pairs[c][1];
        const std::size_t first = autoc ? 1 : 0, last = autoc ? h : n;
        double t = 0;
        for (std::size_t d = first; d < last; ++d) {
            const double z = sums[c][d] / N / nn * std::sqrt(nn * N) / v;
            t += z * z;
        }
        const auto L = static_cast<double>(last - first);
        EXPECT_NEAR(t / L, 1.0, 6 * std::sqrt(2 / L)) << "entries " << pairs[c][0] << ", " << pairs[c][1];
    }
    for (std::size_t e = 0; e < var.size(); ++e)
        EXPECT_NEAR(var[e] / (N * nn) / v, 1.0, 6 * std::sqrt(2 / (N * nn))) << "entry " << e;
}

TEST(KiScheme, PublicKeysFromCoefficients) {
    const KiParamSet& p = kToy8;
    WordStream kws = seeded_stream(14);
    const KeyPair kp = keygen(p, kws);
    // Any representatives of the same residues give the same key.
    std::vector<std::int64_t> shifted = kp.pk.a;
    for (std::size_t i = 1; i < shifted.size(); i += 3) shifted[i] += (i % 2 ? 1 : -1) * p.q * 1000003;
    const PublicKey same = make_public_key(p, shifted);
    EXPECT_EQ(same.a, kp.pk.a);
    EXPECT_EQ(same.a_ntt, kp.pk.a_ntt);
    std::vector<std::int64_t> bad = kp.pk.a;
    bad[1] = 1;  // entry 0 must be the constant 1
    EXPECT_THROW(make_public_key(p, bad), std::invalid_argument);
    bad = kp.pk.a;
    bad.pop_back();
    EXPECT_THROW(make_public_key(p, bad), std::invalid_argument);
    // Keys of another set are refused for signing.
    SecretKey foreign;
    foreign.params = &kToy16;
    foreign.t = SecretBuffer<std::int64_t>(static_cast<std::size_t>(2 * kToy16.k * kToy16.n));
    EXPECT_THROW(SigningKey(kp.pk, foreign), std::invalid_argument);
}

TEST(KiScheme, MovedFromKeyThrows) {
    WordStream kws = seeded_stream(10);
    const KeyPair kp = keygen(kToy8, kws);
    SigningKey key(kp.pk, kp.sk);
    SigningKey moved(std::move(key));
    WordStream ws = seeded_stream(11);
    EXPECT_THROW(key.sign(kMsg.data(), kMsg.size(), ws), std::logic_error);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(verify(kp.pk, moved.sign(kMsg.data(), kMsg.size(), ws), kMsg.data(), kMsg.size()));
}

TEST(KiHash, UniformResiduesDependingOnSaltMessageAndSet) {
    const KiParamSet& p = kS128;
    const auto n = static_cast<std::size_t>(p.n);
    std::uint8_t salt[kSaltBytes] = {};
    std::vector<std::int64_t> u(n), u2(n), u3(static_cast<std::size_t>(kS256.n));
    hash_to_ring(p, salt, kMsg.data(), kMsg.size(), u.data());
    hash_to_ring(p, salt, kMsg.data(), kMsg.size(), u2.data());
    EXPECT_EQ(u, u2);
    // Mean of n uniform values in [0, q): (q - 1)/2 within 6 sd (q / sqrt(12 n)).
    double mean = 0;
    for (auto c : u) {
        ASSERT_GE(c, 0);
        ASSERT_LT(c, p.q);
        mean += static_cast<double>(c);
    }
    EXPECT_NEAR(mean / static_cast<double>(n), static_cast<double>(p.q - 1) / 2,
                6 * static_cast<double>(p.q) / std::sqrt(12.0 * static_cast<double>(n)));
    salt[0] = 1;
    hash_to_ring(p, salt, kMsg.data(), kMsg.size(), u2.data());
    EXPECT_NE(u, u2);
    salt[0] = 0;
    hash_to_ring(kS256, salt, kMsg.data(), kMsg.size(), u3.data());  // another set, another domain
    EXPECT_NE(std::vector<std::int64_t>(u3.begin(), u3.begin() + static_cast<std::ptrdiff_t>(n)), u);
}

}  // namespace
}  // namespace ringtrap::ki
