// Shared helpers for the test suite.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "common.h"
#include "fft.h"
#include "params.h"

namespace ringtrap::testing {

// Parameterised tests run once per built-in parameter set.
inline const ParamSet* const kAllParamSets[] = {&kParams128, &kParams256};

inline std::string param_name(const ::testing::TestParamInfo<const ParamSet*>& info) {
    return "level" + std::to_string(info.param->level);
}

// Fixture that selects the test's parameter set before each test.
class PerLevel : public ::testing::TestWithParam<const ParamSet*> {
protected:
    void SetUp() override { ASSERT_TRUE(parameter_init(GetParam()->level)); }
    const ParamSet& P() const { return *GetParam(); }
};

// Random polynomial with coefficients in [lo, hi] from a fixed-seed engine.
inline poly_R random_poly(std::mt19937_64& rng, std::int64_t len, std::int64_t lo, std::int64_t hi);

// Installs a draw source for the lifetime of the object: a fixed script, then
// either a fill value or values from a seeded engine in [1, 32767] (never 0, so
// no second draw is ever skipped unless scripted). Counts the draws taken.
class ScriptedDraws {
public:
    explicit ScriptedDraws(std::uint64_t seed, std::vector<int> script = {}, int fill = -1)
        : rng_(seed), script_(std::move(script)), fill_(fill) {
        set_draw_source([this] {
            ++count_;
            if (next_ < script_.size()) return script_[next_++];
            return fill_ >= 0 ? fill_ : dist_(rng_);
        });
    }
    ~ScriptedDraws() { set_draw_source({}); }
    ScriptedDraws(const ScriptedDraws&) = delete;
    ScriptedDraws& operator=(const ScriptedDraws&) = delete;
    std::int64_t count() const { return count_; }

private:
    std::mt19937_64 rng_;
    std::uniform_int_distribution<int> dist_{1, 32767};
    std::vector<int> script_;
    std::size_t next_ = 0;
    int fill_;
    std::int64_t count_ = 0;
};

// Captures what fn writes to standard output.
inline std::string capture_stdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// A prime q > lower with q = 1 (mod 2^(log_n + 1)) and a primitive
// 2^(log_n + 1)-th root of unity mod q, for transform tables beyond the
// built-in sets.
inline std::pair<std::int64_t, std::int64_t> find_ntt_modulus(std::int64_t lower, int log_n) {
    const auto power = [](std::int64_t b, std::int64_t e, std::int64_t q) {
        std::int64_t r = 1;
        for (b %= q; e > 0; e >>= 1, b = b * b % q)
            if (e & 1) r = r * b % q;
        return r;
    };
    const std::int64_t two_n = std::int64_t{2} << log_n;
    for (std::int64_t q = (lower / two_n + 1) * two_n + 1;; q += two_n) {
        bool prime = true;
        for (std::int64_t d = 3; d * d <= q && prime; d += 2) prime = q % d != 0;
        if (!prime) continue;
        for (std::int64_t g = 2; g < 100; ++g) {
            const std::int64_t psi = power(g, (q - 1) / two_n, q);
            if (power(psi, two_n / 2, q) == q - 1) return {q, psi};
        }
    }
}

}  // namespace ringtrap::testing

#include "util.h"

namespace ringtrap::testing {
inline poly_R random_poly(std::mt19937_64& rng, std::int64_t len, std::int64_t lo, std::int64_t hi) {
    std::uniform_int_distribution<std::int64_t> dist(lo, hi);
    poly_R p = create_poly_R(len);
    for (std::int64_t i = 0; i < len; ++i) p.coeffs[i] = dist(rng);
    return p;
}
}  // namespace ringtrap::testing
