#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chacha20.h"

namespace ringtrap::chacha20 {
namespace {

std::vector<std::uint8_t> hex(const std::string& s) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> rfc_key() {
    std::vector<std::uint8_t> key(32);
    for (std::size_t i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i);
    return key;
}

TEST(ChaCha20, BlockFunctionRfc8439) {
    const auto key = rfc_key();
    const auto nonce = hex("000000090000004a00000000");
    std::uint8_t out[64];
    keystream_rfc8439(key.data(), 1, nonce.data(), out, sizeof out);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 64),
              hex("10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
                  "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e"));
}

TEST(ChaCha20, EncryptionRfc8439) {
    const auto key = rfc_key();
    const auto nonce = hex("000000000000004a00000000");
    const std::string plain =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, sunscreen would be it.";
    std::vector<std::uint8_t> ks(plain.size());
    keystream_rfc8439(key.data(), 1, nonce.data(), ks.data(), ks.size());
    for (std::size_t i = 0; i < ks.size(); ++i) ks[i] ^= static_cast<std::uint8_t>(plain[i]);
    EXPECT_EQ(ks, hex("6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0b"
                      "f91b65c5524733ab8f593dabcd62b3571639d624e65152ab8f530c359f0861d8"
                      "07ca0dbf500d6a6156a38e088a22b65e52bc514d16ccf806818ce91ab77937365a"
                      "f90bbf74a35be6b40b8eedf2785e42874d"));
}

// The block counter is 64 bits: block 2^32 is the RFC block with counter 0 and
// first nonce word 1, never a repeat of block 0.
TEST(ChaCha20, CounterCarriesIntoTheNextWord) {
    const auto key = rfc_key();
    const Key kw = load_key(key.data());
    std::uint8_t ours[64], rfc[64], first[64];
    block_ref(kw, std::uint64_t{1} << 32, 0, ours);
    const auto nonce = hex("010000000000000000000000");
    keystream_rfc8439(key.data(), 0, nonce.data(), rfc, sizeof rfc);
    block_ref(kw, 0, 0, first);
    EXPECT_EQ(0, std::memcmp(ours, rfc, 64));
    EXPECT_NE(0, std::memcmp(ours, first, 64));
}

// The multi-block routines against the reference, for block counts that do and
// do not fill whole passes, and across the 32-bit counter boundary.
TEST(ChaCha20, MultiBlockRoutinesMatchTheReference) {
    std::mt19937_64 rng(11);
    const std::uint64_t counters[] = {0, 5, (std::uint64_t{1} << 32) - 3, ~std::uint64_t{0} - 20};
    for (std::size_t nblocks : {0u, 1u, 7u, 8u, 9u, 16u, 23u}) {
        for (std::uint64_t counter : counters) {
            Key key;
            for (auto& w : key) w = static_cast<std::uint32_t>(rng());
            const std::uint64_t nonce = rng();
            std::vector<std::uint8_t> ref(64 * nblocks + 1, 0xa5), port(ref), avx(ref), best(ref);
            for (std::size_t b = 0; b < nblocks; ++b) block_ref(key, counter + b, nonce, ref.data() + 64 * b);
            blocks_portable(key, counter, nonce, port.data(), nblocks);
            blocks_avx2(key, counter, nonce, avx.data(), nblocks);
            blocks(key, counter, nonce, best.data(), nblocks);
            // The canary byte past the end stays untouched.
            EXPECT_EQ(ref, port) << nblocks << " blocks at " << counter;
            EXPECT_EQ(ref, avx) << nblocks << " blocks at " << counter;
            EXPECT_EQ(ref, best) << nblocks << " blocks at " << counter;
        }
    }
    if (!have_avx2()) GTEST_LOG_(INFO) << "no AVX2 on this processor: blocks_avx2 took the portable path";
}

}  // namespace
}  // namespace ringtrap::chacha20
