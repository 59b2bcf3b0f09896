// The AVX-512VL keystream routine against the one-block reference, for block
// counts that do and do not fill whole passes and across the 32-bit counter
// boundary (the dispatching routine prefers it when the processor has it).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "chacha20.h"

namespace ringtrap::chacha20 {
namespace {

TEST(ChaCha20Paths, Avx512vlMatchesTheReference) {
    if (!have_avx512vl()) GTEST_SKIP() << "no AVX-512VL on this processor";
    std::mt19937_64 rng(13);
    for (std::size_t nblocks : {1u, 8u, 9u, 16u, 23u, 24u, 33u, 48u}) {
        for (std::uint64_t counter : {std::uint64_t{0}, (std::uint64_t{1} << 32) - 3, ~std::uint64_t{0} - 20}) {
            Key key;
            for (auto& w : key) w = static_cast<std::uint32_t>(rng());
            const std::uint64_t nonce = rng();
            std::vector<std::uint8_t> ref(64 * nblocks + 1, 0xa5), vl(ref);
            for (std::size_t b = 0; b < nblocks; ++b) block_ref(key, counter + b, nonce, ref.data() + 64 * b);
            blocks_avx512vl(key, counter, nonce, vl.data(), nblocks);
            EXPECT_EQ(ref, vl) << nblocks << " blocks at " << counter;  // canary byte included
        }
    }
}

}  // namespace
}  // namespace ringtrap::chacha20
