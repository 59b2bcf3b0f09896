#include <gtest/gtest.h>

#include "common.h"
#include "fft.h"
#include "test_support.h"

namespace ringtrap {
namespace {

using testing::PerLevel;

TEST(ParameterInit, Level128) {
    ASSERT_TRUE(parameter_init(128));
    EXPECT_EQ(modulo, 16770049);
    EXPECT_EQ(n, 512);
    EXPECT_EQ(k, 24);
    EXPECT_EQ(r, 5.6);
    EXPECT_EQ(s, 44873.0);
    EXPECT_EQ(_n, -32754);
    EXPECT_EQ(current_param_set(), &kParams128);
}

TEST(ParameterInit, Level256) {
    ASSERT_TRUE(parameter_init(256));
    EXPECT_EQ(modulo, 268369921);
    EXPECT_EQ(n, 1024);
    EXPECT_EQ(k, 28);
    EXPECT_EQ(r, 7.8);
    EXPECT_EQ(s, 131360.0);
    EXPECT_EQ(_n, -262080);
    EXPECT_EQ(current_param_set(), &kParams256);
}

TEST(ParameterInit, UnknownLevelChangesNothingAndReportsFailure) {
    ASSERT_TRUE(parameter_init(256));
    const std::int32_t* rev_before = rev;
    for (int level : {192, 0, -128, 129}) {
        EXPECT_FALSE(parameter_init(level)) << level;
        EXPECT_EQ(modulo, 268369921);
        EXPECT_EQ(n, 1024);
        EXPECT_EQ(k, 28);
        EXPECT_EQ(r, 7.8);
        EXPECT_EQ(s, 131360.0);
        EXPECT_EQ(_n, -262080);
        EXPECT_EQ(rev, rev_before);
    }
}

std::int64_t powmod(std::int64_t b, std::int64_t e, std::int64_t q) {
    std::int64_t x = 1;
    b %= q;
    for (; e; e >>= 1, b = b * b % q)
        if (e & 1) x = x * b % q;
    return x;
}

TEST_P(PerLevel, RootRelations) {
    const std::int64_t q = P().q, nn = P().n;
    EXPECT_EQ(powmod(P().psi, nn, q), q - 1);
    EXPECT_EQ(powmod(P().psi, 2 * nn, q), 1);
    EXPECT_EQ(P().psi * P().psi_inv % q, 1);
    EXPECT_EQ(((nn * _n) % q + q) % q, 1);
    const int L = P().log_n;
    EXPECT_EQ(roots[L - 1], P().psi);
    EXPECT_EQ(inv_roots[L - 1], P().psi_inv);
    for (int j = 0; j < L; ++j) {
        EXPECT_EQ(roots[j], powmod(P().psi, std::int64_t{1} << (L - 1 - j), q)) << j;
        EXPECT_EQ(inv_roots[j], powmod(P().psi_inv, std::int64_t{1} << (L - 1 - j), q)) << j;
    }
    EXPECT_EQ(roots[0] * roots[0] % q, q - 1);  // roots[0] is a square root of -1
}

TEST_P(PerLevel, BitReversalTable) {
    const int L = P().log_n;
    for (std::int64_t i = 0; i < P().n; ++i) {
        std::int32_t want = 0;
        for (int b = 0; b < L; ++b)
            if (i & (std::int64_t{1} << b)) want |= 1 << (L - 1 - b);
        ASSERT_EQ(rev[i], want) << i;
    }
    if (L == 9) {
        EXPECT_EQ(rev[1], 256);
        EXPECT_EQ(rev[2], 128);
        EXPECT_EQ(rev[3], 384);
        EXPECT_EQ(rev[511], 511);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, PerLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
