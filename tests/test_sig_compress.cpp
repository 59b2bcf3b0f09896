// The compressed signature encoding: layout, round trips, and rejection of
// every non-canonical input.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "sig_compress.h"

namespace ringtrap {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes salt() {
    Bytes s(kSaltBytes);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(0xc0 + i);
    return s;
}

// Bits needed by a vector: sign, low bits, unary part and its end.
std::size_t bits_of(const std::vector<std::int64_t>& x, unsigned low_bits) {
    std::size_t bits = 0;
    for (std::int64_t v : x) {
        const std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        bits += 2 + low_bits + (mag >> low_bits);
    }
    return bits;
}

Bytes encode(const std::vector<std::int64_t>& x, unsigned low_bits, std::size_t bytes, bool& ok) {
    Bytes out(bytes, 0xee);
    const Bytes s = salt();
    ok = encode_compressed(s.data(), x.data(), x.size(), low_bits, out.data(), out.size());
    return out;
}

bool decode(const Bytes& in, std::size_t m, unsigned low_bits, std::vector<std::int64_t>& x, Bytes& s) {
    x.assign(m, 77);
    s.assign(kSaltBytes, 0x55);
    return decode_compressed(in.data(), in.size(), m, low_bits, s.data(), x.data());
}

// A hand-worked layout: low_bits = 2, x = (5, -1, 0) gives the bits
// 0 10 10 | 1 10 0 | 0 00 0 (sign, low bits least significant first, unary),
// that is 0x6a 0x00 after the salt, then zero padding.
TEST(SigCompress, KnownLayout) {
    bool ok;
    const Bytes out = encode({5, -1, 0}, 2, kSaltBytes + 4, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + kSaltBytes), salt());
    EXPECT_EQ(Bytes(out.begin() + kSaltBytes, out.end()), (Bytes{0x6a, 0x00, 0x00, 0x00}));
}

TEST(SigCompress, RoundTripsAndFitsExactly) {
    std::mt19937_64 rng(21);
    for (unsigned low_bits : {0u, 1u, 7u, 13u, 20u, kMaxLowBits}) {
        for (int trial = 0; trial < 20; ++trial) {
            const std::size_t m = rng() % 300;
            std::vector<std::int64_t> x(m);
            const std::uint64_t limit = (std::uint64_t{kMaxUnary + 1} << low_bits) - 1;  // largest magnitude
            for (auto& v : x) {
                std::uint64_t mag = rng() % 4 == 0 ? limit - rng() % 3 : rng() % (limit + 1);
                if (rng() % 5 == 0) mag = 0;
                mag = std::min(mag, limit);
                v = rng() % 2 ? -static_cast<std::int64_t>(mag) : static_cast<std::int64_t>(mag);
            }
            const std::size_t need = kSaltBytes + (bits_of(x, low_bits) + 7) / 8;
            bool ok;
            const Bytes exact = encode(x, low_bits, need, ok);
            ASSERT_TRUE(ok) << low_bits << " " << m;
            const Bytes padded = encode(x, low_bits, need + 5, ok);
            ASSERT_TRUE(ok);
            EXPECT_EQ(Bytes(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(need)), exact);
            std::vector<std::int64_t> back;
            Bytes s;
            ASSERT_TRUE(decode(padded, m, low_bits, back, s));
            EXPECT_EQ(back, x);
            EXPECT_EQ(s, salt());
            // One byte too few: the encoder fails and leaves only zeros.
            if (need > kSaltBytes) {
                const Bytes shorter = encode(x, low_bits, need - 1, ok);
                EXPECT_FALSE(ok);
                EXPECT_EQ(shorter, Bytes(need - 1, 0));
                // and the decoder reports the overrun of the truncated encoding
                EXPECT_FALSE(decode(Bytes(exact.begin(), exact.end() - 1), m, low_bits, back, s));
                EXPECT_EQ(back, std::vector<std::int64_t>(m, 0));
                EXPECT_EQ(s, Bytes(kSaltBytes, 0));
            }
        }
    }
}

TEST(SigCompress, EncoderRejectsWhatCannotBeDecoded) {
    bool ok;
    const unsigned lb = 5;
    const std::int64_t big = std::int64_t{kMaxUnary + 1} << lb;  // unary part 13
    for (const std::vector<std::int64_t>& x :
         {std::vector<std::int64_t>{1, big}, {-big}, {std::numeric_limits<std::int64_t>::min()},
          {std::numeric_limits<std::int64_t>::max()}}) {
        const Bytes out = encode(x, lb, 200, ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, Bytes(200, 0));
    }
    EXPECT_TRUE((encode({big - 1, 1 - big}, lb, 200, ok), ok));
    EXPECT_FALSE((encode({1}, kMaxLowBits + 1, 200, ok), ok));
    EXPECT_FALSE((encode({}, 3, kSaltBytes - 1, ok), ok));
    EXPECT_TRUE((encode({}, 3, kSaltBytes, ok), ok));
}

// Hand-built bit strings after the salt, low_bits = 3, one coefficient.
Bytes with_bits(const std::vector<int>& bits, std::size_t bytes) {
    Bytes out = salt();
    out.resize(kSaltBytes + bytes, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i]) out[kSaltBytes + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    return out;
}

TEST(SigCompress, DecoderRejectsEveryNonCanonicalForm) {
    std::vector<std::int64_t> x;
    Bytes s;
    // The canonical encodings these are variations of: -1 and 0.
    ASSERT_TRUE(decode(with_bits({1, 1, 0, 0, 0}, 2), 1, 3, x, s));
    EXPECT_EQ(x, std::vector<std::int64_t>{-1});
    ASSERT_TRUE(decode(with_bits({0, 0, 0, 0, 0}, 2), 1, 3, x, s));
    EXPECT_EQ(x, std::vector<std::int64_t>{0});
    // Negative zero.
    EXPECT_FALSE(decode(with_bits({1, 0, 0, 0, 0}, 2), 1, 3, x, s));
    // Unary runs: 12 ones is the longest accepted, 13 is rejected.
    std::vector<int> run = {0, 0, 1, 0};
    run.insert(run.end(), kMaxUnary, 1);
    run.push_back(0);
    ASSERT_TRUE(decode(with_bits(run, 4), 1, 3, x, s));
    EXPECT_EQ(x, std::vector<std::int64_t>{(std::int64_t{kMaxUnary} << 3) | 2});
    run.back() = 1;
    run.push_back(0);
    EXPECT_FALSE(decode(with_bits(run, 4), 1, 3, x, s));
    // Overruns: inside the low bits, inside the unary part, and no room for a
    // second coefficient; input shorter than the salt.
    EXPECT_FALSE(decode(with_bits({}, 0), 1, 3, x, s));
    EXPECT_FALSE(decode(with_bits({0, 1, 1, 1, 1, 1, 1, 1}, 1), 1, 3, x, s));
    EXPECT_FALSE(decode(with_bits({0, 0, 0, 0, 0}, 1), 2, 3, x, s));
    EXPECT_FALSE(decode(Bytes(kSaltBytes - 1, 0), 0, 3, x, s));
    // Non-zero padding: in the last byte, and in a later byte.
    for (std::size_t bit = 5; bit < 24; ++bit) {
        std::vector<int> bits(bit + 1, 0);
        bits[bit] = 1;
        EXPECT_FALSE(decode(with_bits(bits, 3), 1, 3, x, s)) << bit;
    }
    // Out-of-range parameter.
    EXPECT_FALSE(decode(with_bits({0, 0, 0, 0, 0}, 2), 1, kMaxLowBits + 1, x, s));
}

// Canonicity under bit flips: a flipped encoding either fails to decode or
// decodes to a vector whose encoding is exactly the flipped bytes.
TEST(SigCompress, BitFlipsNeverGiveASecondEncoding) {
    std::mt19937_64 rng(22);
    const unsigned lb = 4;
    std::vector<std::int64_t> x(40);
    for (auto& v : x) v = static_cast<std::int64_t>(rng() % 200) - 100;
    const std::size_t bytes = kSaltBytes + (bits_of(x, lb) + 7) / 8 + 2;
    bool ok;
    const Bytes good = encode(x, lb, bytes, ok);
    ASSERT_TRUE(ok);
    std::size_t accepted = 0;
    for (std::size_t bit = 0; bit < 8 * bytes; ++bit) {
        Bytes flipped = good;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        std::vector<std::int64_t> y;
        Bytes s;
        if (!decode(flipped, x.size(), lb, y, s)) continue;
        ++accepted;
        Bytes again(bytes);
        ASSERT_TRUE(encode_compressed(s.data(), y.data(), y.size(), lb, again.data(), again.size()));
        EXPECT_EQ(again, flipped) << bit;
    }
    // Salt bits and low bits (other than a zero's sign) still decode.
    EXPECT_GE(accepted, 8 * kSaltBytes);
}

}  // namespace
}  // namespace ringtrap
