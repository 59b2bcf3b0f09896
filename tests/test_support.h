// Shared helpers for the test suite.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "common.h"
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
