#include <gtest/gtest.h>

#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

class RingLevel : public testing::PerLevel {};

TEST(CentredReduction, EndsOfTheRangeAtLevel128) {
    ASSERT_TRUE(parameter_init(128));
    const std::int64_t q = 16770049, h = 8385024;
    EXPECT_EQ(mod_add_R(h, 1), -h);
    EXPECT_EQ(mod_sub_R(-h, 1), h);
    EXPECT_EQ(mod_add_R(h, 0), h);
    EXPECT_EQ(mod_sub_R(-h, 0), -h);
    EXPECT_EQ(mod_add_R(q - 1, 0), -1);
    EXPECT_EQ(mod_add_R(-(q - 1), 0), 1);
    EXPECT_EQ(mod_add_R(q, 0), 0);
    EXPECT_EQ(mod_sub_R(0, q), 0);
    EXPECT_EQ(mod_add_R(-3, 1), -2);
    // Far outside the range, both signs.
    EXPECT_EQ(mod_add_R(INT64_C(1) << 62, 0), centred_mod(INT64_C(1) << 62, q));
    EXPECT_EQ(mod_sub_R(-(INT64_C(1) << 62), 5), centred_mod(-(INT64_C(1) << 62) - 5, q));
}

TEST(CentredReduction, EvenModulusKeepsTheSignOfHalf) {
    EXPECT_EQ(centred_mod(5, 10), 5);
    EXPECT_EQ(centred_mod(-5, 10), -5);
    EXPECT_EQ(centred_mod(6, 10), -4);
    EXPECT_EQ(centred_mod(-6, 10), 4);
}

TEST_P(RingLevel, ReductionAlwaysLandsInTheCentredRange) {
    const std::int64_t q = P().q, h = (q - 1) / 2;
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<std::int64_t> d(-(INT64_C(1) << 40), INT64_C(1) << 40);
    for (int i = 0; i < 20000; ++i) {
        const std::int64_t a = d(rng), b = d(rng);
        const std::int64_t x = mod_add_R(a, b), y = mod_sub_R(a, b);
        ASSERT_LE(-h, x);
        ASSERT_LE(x, h);
        ASSERT_EQ(((x - (a + b)) % q), 0);
        ASSERT_LE(-h, y);
        ASSERT_LE(y, h);
        ASSERT_EQ(((y - (a - b)) % q), 0);
    }
}

TEST(Records, MatrixEntriesAreSeparateZeroArrays) {
    mat_poly_R m = create_mat_poly_R(4, 1, 3);
    EXPECT_EQ(m.rows, 1);
    EXPECT_EQ(m.cols, 3);
    for (int j = 0; j < 3; ++j) {
        ASSERT_EQ(m.entries[j].len, 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(m.entries[j].coeffs[i], 0);
    }
    m.entries[1].coeffs[2] = 9;
    EXPECT_EQ(m.entries[0].coeffs[2], 0);
    EXPECT_EQ(m.entries[2].coeffs[2], 0);
    EXPECT_NE(m.entries[0].coeffs, m.entries[1].coeffs);

    mat_poly_K mk = create_mat_poly_K(4, 1, 2);
    EXPECT_EQ(mk.rows, 1);
    EXPECT_EQ(mk.cols, 2);
    EXPECT_NE(mk.entries[0].coeffs, mk.entries[1].coeffs);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(mk.entries[j].coeffs[i], 0.0);
}

TEST(Records, CopiesShareAndOutliveTheOriginal) {
    poly_R copy;
    {
        poly_R p = create_poly_R(3);
        p.coeffs[1] = 42;
        copy = p;
        EXPECT_EQ(copy.coeffs, p.coeffs);
    }
    EXPECT_EQ(copy.coeffs[1], 42);  // still owned by the copy (ASan would flag a dangling read)
}

TEST(Records, EmptyAndNegativeLengths) {
    ASSERT_TRUE(parameter_init(128));
    const poly_R e = create_poly_R(0);
    EXPECT_EQ(e.len, 0);
    EXPECT_EQ(mod_add_poly_R(e, e).len, 0);
    EXPECT_EQ(create_poly_R(-5).len, 0);
    EXPECT_EQ(create_poly_K(0).len, 0);
    const mat_poly_R m = create_mat_poly_R(4, 0, 3);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.entries, nullptr);
}

TEST(Records, AddAndSubtractTakeTheFirstOperandsLength) {
    ASSERT_TRUE(parameter_init(128));
    poly_R a = create_poly_R(2), b = create_poly_R(3);
    a.coeffs[0] = 8385024;
    a.coeffs[1] = -3;
    b.coeffs[0] = 1;
    b.coeffs[1] = 1;
    b.coeffs[2] = 77;
    const poly_R sum = mod_add_poly_R(a, b), diff = mod_sub_poly_R(a, b);
    ASSERT_EQ(sum.len, 2);
    EXPECT_EQ(sum.coeffs[0], -8385024);
    EXPECT_EQ(sum.coeffs[1], -2);
    EXPECT_EQ(diff.coeffs[0], 8385023);
    EXPECT_EQ(diff.coeffs[1], -4);
    EXPECT_EQ(a.coeffs[0], 8385024);  // arguments untouched
}

TEST(Printing, PolynomialsAndMatrices) {
    poly_R p = create_poly_R(3);
    p.coeffs[0] = 1;
    p.coeffs[1] = -2;
    EXPECT_EQ(testing::capture_stdout([&] { print_poly_R(p); }), "[1 -2 0 ]");
    poly_R big = create_poly_R(1);
    big.coeffs[0] = -(INT64_C(1) << 40);
    EXPECT_EQ(testing::capture_stdout([&] { print_poly_R(big); }), "[-1099511627776 ]");

    mat_poly_R m = create_mat_poly_R(2, 1, 2);
    m.entries[0].coeffs[0] = 1;
    m.entries[0].coeffs[1] = 2;
    m.entries[1].coeffs[0] = 3;
    m.entries[1].coeffs[1] = 4;
    EXPECT_EQ(testing::capture_stdout([&] { print_mat_poly_R(m); }), "[1 3 \n2 4 \n]");

    poly_K pk = create_poly_K(2);
    pk.coeffs[0] = 1.5;
    pk.coeffs[1] = -2;
    EXPECT_EQ(testing::capture_stdout([&] { print_poly_K(pk); }), "[1.500000 -2.000000 ]");
    mat_poly_K mk = create_mat_poly_K(1, 1, 2);
    mk.entries[0].coeffs[0] = 0.25;
    mk.entries[1].coeffs[0] = -1;
    EXPECT_EQ(testing::capture_stdout([&] { print_mat_poly_K(mk); }), "[0.250000 -1.000000 \n]");
    EXPECT_EQ(testing::capture_stdout([&] { print_mat_poly_R(mat_poly_R{}); }), "[]");
}

INSTANTIATE_TEST_SUITE_P(Levels, RingLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
