// The key-free leakage statistic on real signatures: the original set 128 is
// caught within a few hundred signatures (so the statistic has teeth), S128
// stays at noise level over two thousand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../bench/leakage_stat.h"
#include "ringtrap.h"

namespace ringtrap {
namespace {

analysis::LeakageFigures measure(Level level, std::size_t signatures) {
    const Parameters p = parameters(level);
    const KeyPair kp = generate_keypair(level);
    const SigningKey sk = SigningKey::from_bytes(kp.secret_key, kp.public_key);
    analysis::LeakageStatistic stat(static_cast<std::size_t>(p.n), static_cast<std::size_t>(p.k + 2));
    for (std::size_t i = 0; i < signatures; ++i) {
        const std::string m = "message " + std::to_string(i);
        const std::vector<std::int64_t> x = decode_signature(sk.sign(std::vector<std::uint8_t>(m.begin(), m.end())));
        stat.add(x.data());
    }
    return stat.figures();
}

TEST(Leakage, OriginalSetRevealsItsTrapdoorWithinAFewHundredSignatures) {
    const analysis::LeakageFigures f = measure(Level::L128, 300);
    // T has mean 1 and standard deviation `noise` (0.09 at n = 512) for a
    // spherical distribution; ten standard deviations is no accident.
    EXPECT_GT(f.auto0, 1 + 10 * f.noise);
}

TEST(Leakage, KeyIndependentSetStaysAtNoiseLevel) {
    const analysis::LeakageFigures f = measure(Level::S128, 2000);
    // Each T within 6 standard deviations of 1 (four statistics: a false alarm
    // has probability below 1e-8, using a normal approximation of T, which at
    // 511 or 1024 lags is close).
    EXPECT_NEAR(f.auto0, 1.0, 6 * f.noise);
    EXPECT_NEAR(f.auto1, 1.0, 6 * f.noise);
    EXPECT_NEAR(f.cross01, 1.0, 6 * f.noise_cross);
    EXPECT_NEAR(f.cross02, 1.0, 6 * f.noise_cross);
    // Every entry's variance is s^2: N n = 2e6 coefficients per entry give the
    // estimate a relative standard deviation of sqrt(2 / 2e6) = 0.1 %; 2 %
    // leaves room for the verifier's bound, which trims nothing in practice.
    const double s = parameters(Level::S128).signature_sigma;
    for (std::size_t e = 0; e < f.variance.size(); ++e) EXPECT_NEAR(f.variance[e] / (s * s), 1.0, 0.02) << "entry " << e;
}

}  // namespace
}  // namespace ringtrap
