// The AVX-512 transforms against the portable ones, bit for bit: the built-in
// sets, and moduli whose reduction schedules differ (none, or reductions in
// mid-transform) at lengths from 128 to 8192, which between them take every
// arrangement of memory passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ntt.h"
#include "ntt_avx512.h"
#include "params.h"
#include "test_support.h"

namespace ringtrap {
namespace {

using Vec = std::vector<std::int32_t>;

struct Case {
    std::string name;
    int level;           // a built-in set, or 0
    std::int64_t lower;  // otherwise the modulus is the first above this
    int log_n;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> cases() {
    std::vector<Case> out = {{"level128", 128, 0, 0}, {"level256", 256, 0, 0}};
    // R mod q = 2^32 - k q with k a power of two (which the vector code
    // reduces with shifts) for the built-in sets and the moduli near powers
    // of two, but not for those near 1.5 2^28 and 1.25 2^29. Their R mod q,
    // about q / 3, also shows a reduction out of place more often than the
    // small R mod q near powers of two.
    const std::pair<const char*, std::int64_t> moduli[] = {
        {"q2e20", std::int64_t{1} << 20},                     // no reduction inside below n = 2048
        {"q2e29", std::int64_t{1} << 29},                     // reductions every layer or two
        {"qbelow2e30", (std::int64_t{1} << 30) - (1 << 16)},  // the largest lazy moduli
        {"q3e27", std::int64_t{3} << 27},                     // forward every fourth, inverse every other layer
        {"q5e27", std::int64_t{5} << 27},                     // forward every other, inverse every layer
    };
    for (const auto& [name, lower] : moduli)
        for (int log_n = 7; log_n <= 13; ++log_n)
            out.push_back({std::string(name) + "_n" + std::to_string(1 << log_n), 0, lower, log_n});
    return out;
}

class NttAvx512 : public ::testing::TestWithParam<Case> {};

TEST_P(NttAvx512, MatchesPortableBitForBit) {
    if (!ntt_have_avx512()) GTEST_SKIP() << "no AVX-512";
    const Case& c = GetParam();
    std::optional<NttTables> own;
    if (c.level == 0) {
        const auto [q, psi] = testing::find_ntt_modulus(c.lower, c.log_n);
        own.emplace(q, c.log_n, psi);
    }
    const NttTables& t = own ? *own : ntt_tables(c.level == 256 ? kParams256 : kParams128);
    // The vector code must run (it takes lazy tables of 128 and more), and
    // the moduli from 2^27 up are there for reductions in mid-transform.
    ASSERT_TRUE(t.lazy);
    ASSERT_GE(t.n, 128);
    if (c.lower > std::int64_t{1} << 27) {
        ASSERT_TRUE(t.fwd_reduce_before != 0 && t.inv_reduce_before != 0);
    }

    // Inputs, each compared through the forward and both inverse transforms.
    std::vector<std::pair<std::string, Vec>> inputs;
    const auto n = static_cast<std::size_t>(t.n);

    // Random values with the extremes +-(q-1) frequent, and all q - 1 and all
    // -(q - 1), the largest lazy sums. A reduction out of place mostly gives
    // the same bits (Montgomery products absorb multiples of q), so it takes
    // many coefficients to show.
    std::mt19937_64 rng(static_cast<std::uint64_t>(t.q) * 4096 + n);
    std::uniform_int_distribution<std::int32_t> any(-(t.q - 1), t.q - 1);
    std::uniform_int_distribution<int> pick(0, 7);
    const int rounds = std::max(8, 40 * 1024 / t.n);
    for (int round = 0; round < rounds; ++round) {
        Vec a(n);
        for (auto& x : a) {
            const int p = round < 2 ? round : pick(rng);
            x = p == 0 ? t.q - 1 : p == 1 ? -(t.q - 1) : any(rng);
        }
        inputs.emplace_back("round " + std::to_string(round), std::move(a));
    }

    // Where a reduction's rounding turns: with R mod q = 2^32 - k q, the
    // Montgomery product of x by R mod q is x + q floor((2^31 - k x) / 2^32),
    // which steps between x = b and b + 1 (b = 2^31 / k) and near -b. The
    // forward transform of c at position 0 has c in every nonzero place up to
    // its first reduction; the inverse of the constant c has 2^L c at
    // position 0 before its first reduction, before layer L.
    const std::int64_t k = ((std::int64_t{1} << 32) - t.r_mod) / t.q;
    const std::int64_t b = (std::int64_t{1} << 31) / k;
    const int first_inverse = std::countr_zero(t.inv_reduce_before);
    for (const std::int64_t x : {b, b + 1, -b, -b - 1, -b + 1}) {
        Vec a(n, 0);
        a[0] = static_cast<std::int32_t>(x);
        inputs.emplace_back("c = " + std::to_string(x) + " at 0", std::move(a));
        if (first_inverse < 32)
            inputs.emplace_back("constant " + std::to_string(x >> first_inverse),
                                Vec(n, static_cast<std::int32_t>(x >> first_inverse)));
    }

    for (const auto& [label, a] : inputs) {
        SCOPED_TRACE(label);
        Vec want = a, got = a;
        ntt_forward_portable(t, want.data());
        ntt_forward_avx512(t, got.data());
        ASSERT_EQ(got, want) << "forward";
        for (const bool after_montmul : {false, true}) {
            want = a, got = a;
            ntt_inverse_portable(t, want.data(), after_montmul);
            ntt_inverse_avx512(t, got.data(), after_montmul);
            ASSERT_EQ(got, want) << "inverse, after_montmul = " << after_montmul;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Moduli, NttAvx512, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

}  // namespace
}  // namespace ringtrap
