// The SHA-extension compression function against the portable one on random
// blocks and states (the published vectors in test_sha256 run through
// whichever the processor selects).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "sha256.h"

namespace ringtrap {
namespace {

TEST(Sha256Paths, ExtensionsEqualPortable) {
    if (!sha256_have_shani()) GTEST_SKIP() << "no SHA extensions on this processor";
    std::mt19937_64 rng(17);
    for (int round = 0; round < 2000; ++round) {
        std::array<std::uint32_t, 16> block;
        std::array<std::uint32_t, 8> a, b;
        for (auto& w : block) w = static_cast<std::uint32_t>(rng());
        for (auto& w : a) w = static_cast<std::uint32_t>(rng());
        if (round == 0) block.fill(0), a.fill(0);
        if (round == 1) block.fill(0xFFFFFFFFu), a.fill(0xFFFFFFFFu);
        b = a;
        sha256_compress_portable(block.data(), a.data());
        sha256_compress_shani(block.data(), b.data());
        ASSERT_EQ(a, b) << "round " << round;
    }
}

}  // namespace
}  // namespace ringtrap
