// ringtrap_ct_timing: a fixed-versus-other timing test of signing (in the style
// of "dude, is my code constant time?"): signing time must not tell two keys
// apart.
//
//   ringtrap_ct_timing [--level S128] [--measurements 100000] [--fresh]
//
// Class 0 signs with one fixed key; class 1 with a second fixed key, or with
// --fresh with a key drawn from a pool of 64 other keys. The class of each
// measurement is a fresh random bit, so both classes see the same machine
// conditions; messages are random. Welch's t statistic is computed on all
// measurements and on the measurements below several percentiles (cropping
// the long tail of interrupts and cache misses). |t| below 4.5 after 10^5
// measurements means no difference was found.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ringtrap.h"

namespace {

// Welford's running mean and variance of one class.
struct Moments {
    double n = 0, mean = 0, m2 = 0;
    void add(double x) {
        n += 1;
        const double d = x - mean;
        mean += d / n;
        m2 += d * (x - mean);
    }
    double var() const { return n > 1 ? m2 / (n - 1) : 0; }
};

double welch_t(const Moments& a, const Moments& b) {
    const double se = std::sqrt(a.var() / a.n + b.var() / b.n);
    return se > 0 ? (a.mean - b.mean) / se : 0;
}

}  // namespace

int main(int argc, char** argv) {
    ringtrap::Level level = ringtrap::Level::S128;
    std::size_t total = 100000;
    bool fresh = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--level" && i + 1 < argc) {
            const auto l = ringtrap::level_from_name(argv[++i]);
            if (!l) return 2;
            level = *l;
        } else if (a == "--measurements" && i + 1 < argc) {
            total = static_cast<std::size_t>(std::strtoull(argv[++i], nullptr, 10));
        } else if (a == "--fresh") {
            fresh = true;
        } else {
            std::fprintf(stderr, "usage: ringtrap_ct_timing [--level S128] [--measurements N] [--fresh]\n");
            return 2;
        }
    }

    auto load = [&] {
        const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
        return ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    };
    const ringtrap::SigningKey fixed = load();
    std::vector<ringtrap::SigningKey> others;
    for (std::size_t i = 0; i < (fresh ? 64u : 1u); ++i) others.push_back(load());

    std::mt19937_64 rng(std::random_device{}());
    std::vector<std::uint8_t> msg(32);
    std::vector<double> times[2];
    for (auto& t : times) t.reserve(total / 2 + 1000);
    // Warm-up: caches, page faults of the working memory, branch predictors.
    for (int i = 0; i < 200; ++i) (void)fixed.sign(msg);

    auto report = [&](std::size_t done) {
        // Thresholds at percentiles of the pooled times, as in the original test.
        std::vector<double> pooled(times[0]);
        pooled.insert(pooled.end(), times[1].begin(), times[1].end());
        std::sort(pooled.begin(), pooled.end());
        double worst = 0;
        std::printf("%zu measurements:", done);
        for (double pct : {100.0, 99.0, 90.0, 75.0, 50.0}) {
            const double cut = pooled[std::min(pooled.size() - 1, static_cast<std::size_t>(pct / 100 * static_cast<double>(pooled.size())))];
            Moments m[2];
            for (int c = 0; c < 2; ++c)
                for (double t : times[c])
                    if (t <= cut) m[c].add(t);
            const double t = welch_t(m[0], m[1]);
            worst = std::max(worst, std::fabs(t));
            std::printf("  |t|(<=p%.0f) = %.2f", pct, std::fabs(t));
        }
        std::printf("  max |t| = %.2f%s\n", worst, worst < 4.5 ? "" : "  (above 4.5)");
        std::fflush(stdout);
    };

    for (std::size_t i = 1; i <= total; ++i) {
        const int cls = static_cast<int>(rng() & 1);
        for (auto& b : msg) b = static_cast<std::uint8_t>(rng());
        const ringtrap::SigningKey& key = cls == 0 ? fixed : others[rng() % others.size()];
        const auto t0 = std::chrono::steady_clock::now();
        const ringtrap::Bytes sig = key.sign(msg);
        const auto t1 = std::chrono::steady_clock::now();
        if (sig.empty()) return 1;
        times[cls].push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        if (i % 10000 == 0 || i == total) report(i);
    }
    return 0;
}
