// Branch-free row encoding against the per-coefficient codec: same bytes, same
// values, for every sign and the edges of the magnitude range.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec.h"
#include "scheme_core.h"
#include "test_support.h"

namespace ringtrap {
namespace {

TEST(RowCodec, MatchesTheCoefficientCodec) {
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::int64_t> any((-(std::int64_t{1} << 31)) + 1, (std::int64_t{1} << 31) - 1);
    std::vector<std::int64_t> values = {0, 1, -1, 255, -256, 8385024, -8385024, (std::int64_t{1} << 31) - 1, 1 - (std::int64_t{1} << 31)};
    for (int i = 0; i < 4000; ++i) values.push_back(i % 2 ? any(rng) : any(rng) % 300);

    std::vector<std::uint8_t> row(4 * values.size()), one(4 * values.size());
    core::encode_row(values.data(), values.size(), row.data());
    encode_coeffs(values.data(), values.size(), one.data());
    EXPECT_EQ(row, one);

    // Any bytes decode alike, negative zero and set sign bits included.
    std::vector<std::uint8_t> bytes(4 * 4000);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(4 * i + 3)] = 0x80, bytes[static_cast<std::size_t>(4 * i)] = 0;
    std::vector<std::int64_t> fast(4000), plain(4000);
    core::decode_row(bytes.data(), fast.size(), fast.data());
    decode_coeffs(bytes.data(), plain.size(), plain.data());
    EXPECT_EQ(fast, plain);
}

class RowCodecLevel : public testing::PerLevel {};

// A public key is refused exactly when some coefficient is not canonical (or
// entry 0 is not the constant 1).
TEST_P(RowCodecLevel, PublicKeyCanonicalCheck) {
    const std::size_t count = static_cast<std::size_t>((P().k + 2) * P().n);
    const std::int64_t h = (P().q - 1) / 2;
    std::vector<std::int64_t> coeffs(count, 0);
    coeffs[0] = 1;
    std::mt19937_64 rng(6);
    std::uniform_int_distribution<std::int64_t> any(-h, h);
    for (std::size_t i = static_cast<std::size_t>(P().n); i < count; ++i) coeffs[i] = any(rng);
    coeffs[count - 1] = h;
    coeffs[count - 2] = -h;
    std::vector<std::uint8_t> bytes(4 * count);
    core::encode_row(coeffs.data(), count, bytes.data());
    std::vector<std::int64_t> out;
    ASSERT_TRUE(core::decode_public_key(P(), bytes.data(), out));
    EXPECT_EQ(out, coeffs);
    // The verification-only decoder gives the prepared key's transform.
    core::PublicKey for_verify;
    ASSERT_TRUE(core::decode_public_key_for_verify(P(), bytes.data(), for_verify));
    EXPECT_EQ(for_verify.a_ntt, core::make_public_key(P(), coeffs).a_ntt);
    EXPECT_EQ(for_verify.params, &P());

    const std::size_t at = count / 2;
    for (const auto& [b3, b0, ok] : {std::tuple{0x80, 0x00, false}, {0x00, 0x00, true}}) {
        auto bad = bytes;
        bad[4 * at] = static_cast<std::uint8_t>(b0), bad[4 * at + 1] = 0, bad[4 * at + 2] = 0, bad[4 * at + 3] = static_cast<std::uint8_t>(b3);
        EXPECT_EQ(core::decode_public_key(P(), bad.data(), out), ok);  // negative zero is refused
        EXPECT_EQ(core::decode_public_key_for_verify(P(), bad.data(), for_verify), ok);
    }
    for (const std::int64_t v : {h + 1, -h - 1}) {
        auto bad = bytes;
        encode_coeff(v, bad.data() + 4 * at);
        EXPECT_FALSE(core::decode_public_key(P(), bad.data(), out)) << v;
        EXPECT_FALSE(core::decode_public_key_for_verify(P(), bad.data(), for_verify)) << v;
        EXPECT_EQ(for_verify.params, nullptr);
    }
}

// Entry 0 must be the constant 1.
TEST_P(RowCodecLevel, PublicKeyEntryZeroIsOne) {
    const std::size_t count = static_cast<std::size_t>((P().k + 2) * P().n);
    for (const std::size_t at : {std::size_t{0}, static_cast<std::size_t>(P().n) - 1}) {
        std::vector<std::int64_t> coeffs(count, 0);
        coeffs[0] = 1;
        coeffs[at] += 1;
        std::vector<std::uint8_t> bytes(4 * count);
        core::encode_row(coeffs.data(), count, bytes.data());
        std::vector<std::int64_t> out;
        core::PublicKey pk;
        EXPECT_FALSE(core::decode_public_key(P(), bytes.data(), out));
        EXPECT_FALSE(core::decode_public_key_for_verify(P(), bytes.data(), pk));
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, RowCodecLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
