#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sha256.h"

namespace ringtrap {
namespace {

std::string hex(const std::uint8_t* p, std::size_t len) {
    std::string s;
    char buf[3];
    for (std::size_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

// Digest of exactly len heap bytes (the sanitizers see any over-read), written
// between canary bytes (any write past 32 bytes shows).
std::string digest_hex(const std::string& msg) {
    const std::vector<std::uint8_t> data(msg.begin(), msg.end());
    std::uint8_t out[34];
    std::fill(std::begin(out), std::end(out), 0xA5);
    EXPECT_EQ(sha256(data.data(), data.size(), out + 1), 0);
    EXPECT_TRUE(out[0] == 0xA5 && out[33] == 0xA5);
    return hex(out + 1, 32);
}

TEST(Sha256, FipsExamples) {
    EXPECT_EQ(digest_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                         "mnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(digest_hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Every length 0..200 (all tail shapes, up to four blocks) against digests
// from an independent implementation.
TEST(Sha256, EveryLengthUpTo200MatchesReference) {
    std::ifstream in(std::string(RINGTRAP_TEST_DATA_DIR) + "/data/sha256_lengths.txt");
    ASSERT_TRUE(in) << "missing tests/data/sha256_lengths.txt";
    std::string pattern, line, expected;
    for (int i = 0; i < 200; ++i) pattern += static_cast<char>(167 * i + 13);
    int checked = 0;
    std::size_t len = 0;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#' && std::sscanf(line.c_str(), "%zu", &len) == 1) {
            expected = line.substr(line.find(' ') + 1);
            EXPECT_EQ(digest_hex(pattern.substr(0, len)), expected) << "length " << len;
            ++checked;
        }
    EXPECT_EQ(checked, 201);
}

// The incremental form fed in pieces of random sizes (empty ones, single
// bytes, pieces that end inside, at and across block boundaries): the one-call
// digest for every tail shape, and the published digest of a million 'a'.
TEST(Sha256, PiecesGiveTheOneCallDigest) {
    std::mt19937_64 rng(12);
    std::vector<std::uint8_t> data(300);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    auto in_pieces = [&rng](const std::uint8_t* p, std::size_t len, std::size_t most) {
        Sha256 h;
        h.update(nullptr, 0);
        for (std::size_t off = 0; off < len;) {
            const std::size_t take = std::min<std::size_t>(len - off, rng() % (most + 1));
            h.update(p + off, take);
            off += take;
        }
        std::uint8_t out[32];
        h.final(out);
        return hex(out, 32);
    };
    for (std::size_t len : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 128u, 300u}) {
        std::uint8_t want[32];
        sha256(data.data(), len, want);
        EXPECT_EQ(in_pieces(data.data(), len, 70), hex(want, 32)) << len;
    }
    const std::vector<std::uint8_t> a(1000000, 'a');
    EXPECT_EQ(in_pieces(a.data(), a.size(), 300), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, NullPointers) {
    EXPECT_EQ(sha256(reinterpret_cast<const std::uint8_t*>("abc"), 3, nullptr), 0);
    std::uint8_t out[32];
    ASSERT_EQ(sha256(nullptr, 0, out), 0);  // the empty message; data is not read
    EXPECT_EQ(hex(out, 32), digest_hex(""));
    std::fill(std::begin(out), std::end(out), 0x5A);
    EXPECT_EQ(sha256(nullptr, 1, out), -1);
    EXPECT_EQ(std::count(std::begin(out), std::end(out), 0x5A), 32);
}

// The length field carries the full 64-bit bit count; lengths of 4 GiB and
// more are checked through the tail construction alone.
TEST(Sha256, PaddedTailEncodesFullLength) {
    std::uint8_t leftover[63];
    for (int i = 0; i < 63; ++i) leftover[i] = static_cast<std::uint8_t>(i + 1);
    const std::uint64_t G = std::uint64_t{1} << 32;
    const struct { std::uint64_t length; std::size_t size; const char* bit_count; } cases[] = {
        {32, 64, "0000000000000100"}, {55, 64, "00000000000001b8"}, {56, 128, "00000000000001c0"},
        {64, 64, "0000000000000200"}, {G, 64, "0000000800000000"}, {G + 1, 64, "0000000800000008"},
        {8 * G - 1, 128, "0000003ffffffff8"}, {(G << 29) - 1, 128, "fffffffffffffff8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::uint8_t tail[128];
        std::fill(std::begin(tail), std::end(tail), 0xEE);
        ASSERT_EQ(sha256_pad_tail(c.length, leftover, tail), c.size);
        const auto rem = static_cast<std::size_t>(c.length % 64);
        EXPECT_TRUE(std::equal(leftover, leftover + rem, tail));
        EXPECT_EQ(tail[rem], 0x80);
        for (std::size_t i = rem + 1; i < 128; ++i) {
            const bool length_field = i >= c.size - 8 && i < c.size;
            if (!length_field) {
                EXPECT_EQ(tail[i], 0) << "byte " << i;
            }
        }
        EXPECT_EQ(hex(tail + c.size - 8, 8), c.bit_count);
    }
}

}  // namespace
}  // namespace ringtrap
