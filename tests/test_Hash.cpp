#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "Hash.h"
#include "sha256.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

class HashLevel : public testing::PerLevel {};

const auto* as_bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// The chain written out over the byte-level sha256 (no word shortcuts):
// coefficient 8b + j is big-endian word j of link b + 1, centred modulo q.
std::vector<std::int64_t> reference_hash(const std::string& msg, std::int64_t count, std::int64_t q) {
    std::uint8_t link[32], copy[32];
    sha256(as_bytes(msg), msg.size(), link);
    std::vector<std::int64_t> out(static_cast<std::size_t>(count), 0);
    for (std::int64_t b = 0; b < count / 8; ++b) {
        std::copy(link, link + 32, copy);
        sha256(copy, 32, link);
        for (int j = 0; j < 8; ++j) {
            const std::int64_t v = (std::int64_t{link[4 * j]} << 24) | (link[4 * j + 1] << 16) | (link[4 * j + 2] << 8) | link[4 * j + 3];
            out[static_cast<std::size_t>(8 * b + j)] = v % q > q / 2 ? v % q - q : v % q;
        }
    }
    return out;
}

std::vector<std::int64_t> coeffs(const poly_R& p) { return std::vector<std::int64_t>(p.coeffs, p.coeffs + p.len); }

TEST_P(HashLevel, KnownAnswers) {
    const std::vector<std::int64_t> abc = coeffs(Hash(as_bytes("abc"), 3, n)), empty = coeffs(Hash(nullptr, 0, n));
    ASSERT_EQ(static_cast<std::int64_t>(abc.size()), n);
    if (P().level == 128) {
        EXPECT_EQ(std::vector<std::int64_t>(abc.begin(), abc.begin() + 10),
                  (std::vector<std::int64_t>{-7077262, -2590099, -5988700, 4002623, 3626002, -2386604, 2742251, 7547674, -4060162, -32588}));
        EXPECT_EQ(std::vector<std::int64_t>(empty.begin(), empty.begin() + 4), (std::vector<std::int64_t>{75908, 2113885, -8148742, 3745598}));
    } else {
        EXPECT_EQ(std::vector<std::int64_t>(abc.begin(), abc.begin() + 4), (std::vector<std::int64_t>{-7322947, -36277608, 27305713, -46749757}));
    }
}

TEST_P(HashLevel, MatchesByteLevelChainAndStaysCentred) {
    const std::int64_t half = (P().q - 1) / 2;
    for (const std::string& msg : {std::string(), std::string("abc"), std::string(64, 'x'), std::string(1000, '\x9c')}) {
        const poly_R h = Hash(as_bytes(msg), msg.size(), n);
        EXPECT_EQ(coeffs(h), reference_hash(msg, n, P().q)) << "message length " << msg.size();
        for (std::int64_t i = 0; i < h.len; ++i) ASSERT_TRUE(h.coeffs[i] >= -half && h.coeffs[i] <= half) << h.coeffs[i];
    }
    // One changed byte changes the element.
    EXPECT_NE(coeffs(Hash(as_bytes("abd"), 3, n)), coeffs(Hash(as_bytes("abc"), 3, n)));
}

TEST_P(HashLevel, ExplicitModulusAndBufferVariantsAgree) {
    const std::string msg = "explicit";
    const std::vector<std::int64_t> want = coeffs(Hash(as_bytes(msg), msg.size(), n));
    EXPECT_EQ(coeffs(Hash(as_bytes(msg), msg.size(), n, P().q)), want);
    // The writing Hash fills exactly count entries: the guards on both sides stay.
    std::vector<std::int64_t> buf(static_cast<std::size_t>(n) + 2, 77);
    Hash(as_bytes(msg), msg.size(), n, P().q, buf.data() + 1);
    EXPECT_EQ(buf.front(), 77);
    EXPECT_EQ(buf.back(), 77);
    EXPECT_EQ(std::vector<std::int64_t>(buf.begin() + 1, buf.end() - 1), want);
}

TEST(Hash, OddCountsAndBadArguments) {
    const std::string msg = "abc";
    const std::int64_t q = kParams128.q;
    // A trailing partial group of eight is zero; the full groups are unchanged.
    const poly_R h = Hash(as_bytes(msg), 3, 13, q);
    ASSERT_EQ(h.len, 13);
    std::vector<std::int64_t> want = reference_hash(msg, 8, q);
    want.resize(13, 0);
    EXPECT_EQ(coeffs(h), want);
    EXPECT_EQ(Hash(as_bytes(msg), 3, 7, q).coeffs[6], 0);

    EXPECT_EQ(Hash(as_bytes(msg), 3, 0, q).len, 0);
    EXPECT_EQ(Hash(as_bytes(msg), 3, -8, q).len, 0);
    EXPECT_EQ(Hash(nullptr, 5, 8, q).len, 0);
    EXPECT_THROW(Hash(as_bytes(msg), 3, 8, 0), std::invalid_argument);
    std::int64_t guard = 5;
    Hash(as_bytes(msg), 3, -1, q, &guard);
    EXPECT_EQ(guard, 5);
}

INSTANTIATE_TEST_SUITE_P(Levels, HashLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
