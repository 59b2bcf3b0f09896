// The secret-memory module: ownership rules of SecretBuffer and the
// constant-time comparison.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "secret.h"

namespace ringtrap {
namespace {

TEST(SecretBuffer, MovesHandOverAndLeaveTheSourceEmpty) {
    SecretBuffer<std::int64_t> a(5);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i], 0) << "fresh buffers are zeroed";
    std::iota(a.begin(), a.end(), std::int64_t{-2});
    const std::int64_t* held = a.data();

    SecretBuffer<std::int64_t> b(std::move(a));
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(b.data(), held);  // the array itself moved, no copy left behind

    SecretBuffer<std::int64_t> c(3);
    c = std::move(b);
    EXPECT_TRUE(b.empty());
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c.data(), held);
    EXPECT_EQ(c[0], -2);
    EXPECT_EQ(c[4], 2);
}

TEST(SecretBuffer, CloneCopiesWipeZeroesResetReleases) {
    SecretBuffer<double> a(4);
    a[1] = 1.5;
    a[3] = -7.25;
    const SecretBuffer<double> copy = a.clone();
    ASSERT_EQ(copy.size(), 4u);
    EXPECT_NE(copy.data(), a.data());
    EXPECT_EQ(copy[1], 1.5);
    EXPECT_EQ(copy[3], -7.25);

    a.wipe();
    ASSERT_EQ(a.size(), 4u);
    for (double v : a) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(copy[3], -7.25);  // the clone is independent

    a.reset();
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(SecretBuffer<int>(0).empty());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(copy.data()) % 64, 0u);
}

// Lengths around the 8-byte stride of the comparison: a difference at any
// position, in the word part or in the tail, must be found.
class EqualBytesCt : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EqualBytesCt, FindsADifferenceAtEveryPosition) {
    const std::size_t len = GetParam();
    std::vector<unsigned char> a(len), b(len);
    for (std::size_t i = 0; i < len; ++i) a[i] = b[i] = static_cast<unsigned char>(i * 37 + 11);
    EXPECT_TRUE(equal_bytes_ct(a.data(), b.data(), len));
    for (std::size_t i = 0; i < len; ++i) {
        for (unsigned char flip : {0x01, 0x80}) {
            b[i] ^= flip;
            EXPECT_FALSE(equal_bytes_ct(a.data(), b.data(), len)) << "byte " << i;
            b[i] ^= flip;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, EqualBytesCt, ::testing::Values(0, 1, 7, 8, 9, 16, 23, 64));

}  // namespace
}  // namespace ringtrap
