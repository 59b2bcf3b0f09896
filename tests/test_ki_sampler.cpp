// Second moments of the key-independent samplers on toy rings: the gadget
// sampler, the field sampler, the perturbation and the whole preimage, each
// against the covariance it must have.
//
// Tolerances. For N independent samples of a vector with covariance S (and
// Gaussian-like fourth moments), the empirical second moment C_ij (known mean)
// has variance (S_ii S_jj + S_ij^2) / N. Every entry must lie within 6 such
// standard errors (a false alarm per entry has probability 2e-9; the seeds are
// fixed anyway). For a spherical S = s^2 I the normalised errors of distinct
// entries are uncorrelated, so their mean square is also checked: mean 1,
// standard deviation sqrt(2 / M) over M entries, tolerance 6 of those.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "ki_fft.h"
#include "ki_params.h"
#include "ki_sampler.h"
#include "ki_scheme.h"
#include "ki_test_support.h"
#include "word_stream.h"

namespace ringtrap::ki {
namespace {

using testing::samples;

WordStream seeded_stream(std::uint8_t tag) {
    std::uint8_t seed[32] = {};
    seed[0] = tag;
    seed[31] = 0x5a;
    return WordStream(seed);
}

// Accumulates E[(x - mean)(x - mean)^T] over samples (upper triangle).
class Moments {
public:
    explicit Moments(std::size_t dim) : dim_(dim), sum_(dim * dim, 0.0), mean_(dim, 0.0) {}
    template <typename T>
    void add(const T* x, const double* centre = nullptr) {
        std::vector<double> d(dim_);
        for (std::size_t i = 0; i < dim_; ++i) {
            d[i] = static_cast<double>(x[i]) - (centre ? centre[i] : 0.0);
            mean_[i] += d[i];
        }
        for (std::size_t i = 0; i < dim_; ++i)
            for (std::size_t j = i; j < dim_; ++j) sum_[i * dim_ + j] += d[i] * d[j];
        ++count_;
    }
    double cov(std::size_t i, std::size_t j) const {
        return (i <= j ? sum_[i * dim_ + j] : sum_[j * dim_ + i]) / static_cast<double>(count_);
    }
    double mean(std::size_t i) const { return mean_[i] / static_cast<double>(count_); }
    std::size_t count() const { return count_; }

    // Checks every entry against the expected matrix (dim x dim, row-major)
    // and the known mean 0; returns the mean squared normalised error.
    double expect_near(const std::vector<double>& want, const char* what) const {
        const auto N = static_cast<double>(count_);
        double sum_z2 = 0.0;
        std::size_t bad = 0, entries = 0;
        for (std::size_t i = 0; i < dim_; ++i) {
            const double se_mean = std::sqrt(want[i * dim_ + i] / N);
            if (std::abs(mean(i)) > 6 * se_mean) ++bad;
            for (std::size_t j = i; j < dim_; ++j) {
                const double w = want[i * dim_ + j];
                const double se = std::sqrt((want[i * dim_ + i] * want[j * dim_ + j] + w * w) / N);
                const double z = (cov(i, j) - w) / se;
                sum_z2 += z * z;
                ++entries;
                if (std::abs(z) > 6) {
                    if (bad < 5)
                        ADD_FAILURE() << what << ": entry (" << i << ", " << j << ") = " << cov(i, j) << ", want "
                                      << w << " +- " << 6 * se;
                    ++bad;
                }
            }
        }
        EXPECT_EQ(bad, 0u) << what;
        return sum_z2 / static_cast<double>(entries);
    }

private:
    std::size_t dim_;
    std::vector<double> sum_, mean_;
    std::size_t count_ = 0;
};

// Matrix of multiplication by f in R[x]/(x^n + 1): (f v)_i = sum_j M_ij v_j.
std::vector<double> mult_matrix(const std::vector<double>& f) {
    const std::size_t n = f.size();
    std::vector<double> m(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) m[i * n + j] = i >= j ? f[i - j] : -f[n + i - j];
    return m;
}

// ---------------------------------------------------------------------------

class KiGadget : public ::testing::TestWithParam<const KiParamSet*> {};

TEST_P(KiGadget, SolvesTheSyndromeWithSphericalCovariance) {
    const KiParamSet& p = *GetParam();
    const GadgetSampler& g = gadget_sampler(p);
    const auto k = static_cast<std::size_t>(p.k);
    EXPECT_NEAR(p.rho * p.rho, p.r * p.r * (GadgetSampler::lambda_max_sst(p.base, p.k) + kGadgetMargin), 1e-9);
    WordStream ws = seeded_stream(1);
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<std::int64_t> coset(0, p.q - 1);
    constexpr std::size_t kBatch = 1000, kRounds = samples(60);
    std::vector<std::int64_t> v(kBatch), z(k * kBatch), zj(k);
    SecretBuffer<double> scratch;
    SecretBuffer<std::int64_t> iscratch;
    Moments mom(k);
    for (std::size_t round = 0; round < kRounds; ++round) {
        for (auto& x : v) x = coset(rng);
        v[0] = 0, v[1] = p.q - 1;  // the extreme cosets
        g.sample(ws, v.data(), kBatch, z.data(), kBatch, scratch, iscratch);
        for (std::size_t j = 0; j < kBatch; ++j) {
            std::int64_t dot = 0;
            for (std::size_t i = 0; i < k; ++i) {
                zj[i] = z[i * kBatch + j];
                dot += zj[i] * (std::int64_t{1} << (p.base_bits() * static_cast<int>(i)));
            }
            ASSERT_EQ(((dot - v[j]) % p.q + p.q) % p.q, 0) << "coefficient " << j;
            mom.add(zj.data());
        }
    }
    std::vector<double> want(k * k, 0.0);
    for (std::size_t i = 0; i < k; ++i) want[i * k + i] = p.rho * p.rho;
    const double chi = mom.expect_near(want, "gadget covariance");
    const double M = static_cast<double>(k * (k + 1) / 2);
    EXPECT_NEAR(chi, 1.0, 6 * std::sqrt(2 / M));
}

INSTANTIATE_TEST_SUITE_P(Sets, KiGadget, ::testing::Values(&kS128, &kToy16, &kToy16b4),
                         [](const auto& param_info) { return std::string(param_info.param->name); });

// ---------------------------------------------------------------------------

class KiField : public ::testing::TestWithParam<int> {};

TEST_P(KiField, CovarianceIsMultiplicationByF) {
    // f = 1e4 + 3000 h h* for a random small h: self-adjoint, eigenvalues at
    // least 1e4 (leaf widths >= 100), strong correlations between coordinates.
    const int log_n = GetParam();
    const FftPlan& plan = fft_plan(log_n);
    const std::size_t n = plan.n();
    std::mt19937_64 rng(17 + static_cast<unsigned>(log_n));
    std::uniform_int_distribution<int> small(-2, 2);
    std::vector<double> h(n), f(n, 0.0);
    for (auto& c : h) c = small(rng);
    for (std::size_t d = 0; d < n; ++d) {  // (h h*)_d = sum_i h_(i+d) h_i, negacyclic
        double acc = 0;
        for (std::size_t i = 0; i < n; ++i) acc += (i + d < n ? h[i + d] : -h[i + d - n]) * h[i];
        f[d] = 3000 * acc;
    }
    f[0] += 1e4;
    std::vector<double> fv = f;
    plan.forward(fv.data());
    for (std::size_t j = 0; j < n / 2; ++j) ASSERT_NEAR(fv[n / 2 + j], 0.0, 1e-6);  // real values
    FieldTree tree;
    std::vector<double> scratch(FieldTree::scratch_size(n));
    tree.build(plan, fv.data(), scratch.data());

    std::uniform_real_distribution<double> cd(-50, 50);
    std::vector<double> centre(n), c_fft(n), z_fft(n), z_back(n);
    for (auto& c : centre) c = cd(rng);
    c_fft = centre;
    plan.forward(c_fft.data());
    WordStream ws = seeded_stream(2);
    std::vector<std::int64_t> z(n);
    Moments mom(n);
    for (int s = 0; s < samples(20000); ++s) {
        tree.sample(ws, plan, c_fft.data(), z.data(), z_fft.data(), scratch.data());
        if (s < 10) {  // the FFT-domain output is the transform of the integer output
            z_back = z_fft;
            plan.inverse(z_back.data());
            for (std::size_t j = 0; j < n; ++j) ASSERT_NEAR(z_back[j], static_cast<double>(z[j]), 1e-6);
        }
        mom.add(z.data(), centre.data());
    }
    mom.expect_near(mult_matrix(f), "field sampler");
}

INSTANTIATE_TEST_SUITE_P(Sizes, KiField, ::testing::Values(1, 3, 4));

// ---------------------------------------------------------------------------

// [T0; T1; I] R^* as a dense m x m matrix (m = (k+2) n).
std::vector<double> rhat_gram(const KiParamSet& p, const SecretKey& sk) {
    const auto n = static_cast<std::size_t>(p.n), k = static_cast<std::size_t>(p.k), m = (k + 2) * n;
    // Columns: kn; rows: m. Block (a, i) is the multiplication matrix of R_(a,i).
    std::vector<double> R(m * k * n, 0.0);
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t a = 0; a < 2; ++a) {
            std::vector<double> t(n);
            for (std::size_t j = 0; j < n; ++j) t[j] = static_cast<double>(sk.t[(a * k + i) * n + j]);
            const auto M = mult_matrix(t);
            for (std::size_t r = 0; r < n; ++r)
                for (std::size_t c = 0; c < n; ++c) R[(a * n + r) * k * n + i * n + c] = M[r * n + c];
        }
    for (std::size_t i = 0; i < k * n; ++i) R[(2 * n + i) * k * n + i] = 1.0;
    std::vector<double> G(m * m, 0.0);
    for (std::size_t r = 0; r < m; ++r)
        for (std::size_t c = 0; c < m; ++c) {
            double acc = 0;
            for (std::size_t l = 0; l < k * n; ++l) acc += R[r * k * n + l] * R[c * k * n + l];
            G[r * m + c] = acc;
        }
    return G;
}

// The short part's centre and covariance given the long part are too small a
// correction to see in second moments at test sizes (the cross block -rho^2 T
// is ~1e-3 of s^2), so the algebra is checked exactly: with C the map
// p2 -> centre and Sigma' the conditional covariance, Cov(p1) = Sigma' +
// w^2 C C^T must be s^2 I - rho^2 T T^T and Cov(p1, p2) = w^2 C = -rho^2 T
// (dense matrices, T = [T0_0 .. T0_(k-1); T1_0 .. T1_(k-1)] as multiplication
// matrices).
TEST(KiPerturbation, ConditionalLawOfTheShortPart) {
    const KiParamSet& p = kToy16;
    WordStream kws = seeded_stream(7);
    const KeyPair kp = keygen(p, kws);
    const SigningKey key(kp.pk, kp.sk);
    const auto n = static_cast<std::size_t>(p.n), k = static_cast<std::size_t>(p.k), kn = k * n;
    const double w2 = std::pow(static_cast<double>(p.K_w) * kSigmaBin, 2), s2 = p.s * p.s, rho2 = p.rho * p.rho;
    // T as a 2n x kn matrix.
    std::vector<double> T(2 * n * kn);
    for (std::size_t a = 0; a < 2; ++a)
        for (std::size_t i = 0; i < k; ++i) {
            std::vector<double> t(n);
            for (std::size_t j = 0; j < n; ++j) t[j] = static_cast<double>(kp.sk.t[(a * k + i) * n + j]);
            const auto M = mult_matrix(t);
            for (std::size_t r = 0; r < n; ++r)
                for (std::size_t c = 0; c < n; ++c) T[(a * n + r) * kn + i * n + c] = M[r * n + c];
        }
    // C column by column: the centre of unit vectors p2 = e_l.
    std::vector<double> C(2 * n * kn), c(2 * n);
    std::vector<std::int64_t> p2(kn, 0);
    for (std::size_t l = 0; l < kn; ++l) {
        p2[l] = 1;
        key.perturbation_centre(p2.data(), c.data());
        p2[l] = 0;
        for (std::size_t r = 0; r < 2 * n; ++r) C[r * kn + l] = c[r];
    }
    for (std::size_t i = 0; i < 2 * n * kn; ++i) ASSERT_NEAR(w2 * C[i], -rho2 * T[i], 1e-9 * s2) << i;
    // Sigma' + w^2 C C^T against s^2 I - rho^2 T T^T.
    std::vector<double> a(n), b(n), d(n);
    key.short_covariance(a.data(), b.data(), d.data());
    const auto A = mult_matrix(a), B = mult_matrix(b), D = mult_matrix(d);
    for (std::size_t r = 0; r < 2 * n; ++r)
        for (std::size_t col = 0; col < 2 * n; ++col) {
            const std::size_t rr = r % n, cc = col % n;
            double sigma = 0;
            if (r < n && col < n) sigma = A[rr * n + cc];
            if (r < n && col >= n) sigma = B[rr * n + cc];
            if (r >= n && col < n) sigma = B[cc * n + rr];  // Cov(p1_1, p1_0) = B^T
            if (r >= n && col >= n) sigma = D[rr * n + cc];
            double cct = 0, ttt = 0;
            for (std::size_t l = 0; l < kn; ++l) {
                cct += C[r * kn + l] * C[col * kn + l];
                ttt += T[r * kn + l] * T[col * kn + l];
            }
            const double want = (r == col ? s2 : 0.0) - rho2 * ttt;
            ASSERT_NEAR(sigma + w2 * cct, want, 1e-9 * s2) << r << ", " << col;
        }
}

TEST(KiPerturbation, CovarianceIsS2MinusRho2RRstar) {
    const KiParamSet& p = kToy16;
    WordStream kws = seeded_stream(3);
    const KeyPair kp = keygen(p, kws);
    const SigningKey key(kp.pk, kp.sk);
    const auto m = static_cast<std::size_t>(p.m());
    auto want = rhat_gram(p, kp.sk);
    for (std::size_t i = 0; i < m * m; ++i) want[i] *= -p.rho * p.rho;
    for (std::size_t i = 0; i < m; ++i) want[i * m + i] += p.s * p.s;
    WordStream ws = seeded_stream(4);
    std::vector<std::int64_t> pert(m);
    Moments mom(m);
    for (int s = 0; s < samples(20000); ++s) {
        key.sample_perturbation(pert.data(), ws);
        mom.add(pert.data());
    }
    mom.expect_near(want, "perturbation");
}

class KiPreimage : public ::testing::TestWithParam<const KiParamSet*> {};

TEST_P(KiPreimage, SphericalWhateverTheKey) {
    const KiParamSet& p = *GetParam();
    const auto n = static_cast<std::size_t>(p.n), m = static_cast<std::size_t>(p.m());
    std::vector<double> want(m * m, 0.0);
    for (std::size_t i = 0; i < m; ++i) want[i * m + i] = p.s * p.s;
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::int64_t> coset(0, p.q - 1);
    for (std::uint8_t key_seed : {std::uint8_t{5}, std::uint8_t{6}}) {
        WordStream kws = seeded_stream(key_seed);
        const KeyPair kp = keygen(p, kws);
        ASSERT_TRUE(key_pair_matches(kp.pk, kp.sk));
        const SigningKey key(kp.pk, kp.sk);
        WordStream ws = seeded_stream(static_cast<std::uint8_t>(key_seed + 100));
        std::vector<std::int64_t> u(n), x(m);
        Moments mom(m);
        for (int s = 0; s < samples(20000); ++s) {
            for (auto& c : u) c = coset(rng);
            key.sample_preimage(u.data(), x.data(), ws);
            mom.add(x.data());
            if (s >= 500) continue;
            // A x = u by schoolbook products, independent of the NTT.
            std::vector<std::int64_t> ax(n, 0);
            for (std::size_t e = 0; e < static_cast<std::size_t>(p.k + 2); ++e)
                for (std::size_t i = 0; i < n; ++i)
                    for (std::size_t j = 0; j < n; ++j) {
                        const std::int64_t prod = kp.pk.a[e * n + i] * x[e * n + j] % p.q;
                        if (i + j < n) ax[i + j] += prod; else ax[i + j - n] -= prod;
                    }
            for (std::size_t j = 0; j < n; ++j) ASSERT_EQ(((ax[j] - u[j]) % p.q + p.q) % p.q, 0);
        }
        const double chi = mom.expect_near(want, "preimage");
        const double M = static_cast<double>(m * (m + 1) / 2);
        EXPECT_NEAR(chi, 1.0, 6 * std::sqrt(2 / M)) << "key " << int{key_seed};
    }
}

// The binary gadget and the base-4 gadget on the same ring.
INSTANTIATE_TEST_SUITE_P(Sets, KiPreimage, ::testing::Values(&kToy16, &kToy16b4),
                         [](const auto& param_info) { return std::string(param_info.param->name); });

}  // namespace
}  // namespace ringtrap::ki
