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
