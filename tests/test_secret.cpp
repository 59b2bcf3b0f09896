// The secret-memory module: ownership rules of SecretBuffer, the recycling of
// released blocks and the constant-time comparison.
#include <gtest/gtest.h>

#include <algorithm>
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

// A released block of 4 KiB or more is kept and handed out again without a
// new fill: it must come back zeroed, and only for a request of its own byte
// size (a smaller one would be overrun, a larger one would overrun it). The
// size is one nothing else asks for, so the block is the only one of its size
// in the cache (each test runs in a fresh process under ctest).
TEST(SecretBuffer, RecycledBlocksComeBackZeroedForTheirSizeOnly) {
    constexpr std::size_t kCount = 1531;  // 12248 bytes
    SecretBuffer<std::uint64_t> a(kCount);
    std::fill(a.begin(), a.end(), ~std::uint64_t{0});
    const void* released = a.data();
    a.reset();

    SecretBuffer<std::uint64_t> smaller(kCount - 1), larger(kCount + 1);
    EXPECT_NE(static_cast<const void*>(smaller.data()), released);
    EXPECT_NE(static_cast<const void*>(larger.data()), released);
    SecretBuffer<std::int32_t> same_bytes(2 * kCount);
    ASSERT_EQ(static_cast<const void*>(same_bytes.data()), released) << "the block was not recycled";
    EXPECT_TRUE(std::all_of(same_bytes.begin(), same_bytes.end(), [](std::int32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(smaller.begin(), smaller.end(), [](std::uint64_t v) { return v == 0; }));
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
