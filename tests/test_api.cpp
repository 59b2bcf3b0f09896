// The C++ API: round trips, length checks, key checks and tampering.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RandomGenerator.h"
#include "ringtrap.h"
#include "sig_api.h"

namespace ringtrap {
namespace {

struct LevelCase {
    Level level;
    Sizes sizes;
};

class Api : public ::testing::TestWithParam<LevelCase> {
protected:
    static KeyPair& keys(Level level) {
        // Key generation is cheap, but one pair per level keeps the suite quick.
        static std::map<Level, KeyPair> pairs;
        auto it = pairs.find(level);
        if (it == pairs.end()) it = pairs.emplace(level, generate_keypair(level)).first;
        return it->second;
    }
    Level level() const { return GetParam().level; }
    Level other_level() const {
        switch (level()) {
            case Level::L128: return Level::L256;
            case Level::L256: return Level::L128;
            case Level::S128: return Level::S256;
            case Level::S256: break;
        }
        return Level::S128;
    }
};

std::vector<std::uint8_t> bytes_of(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// The coefficients of a public key (4-byte sign-magnitude, least significant first).
std::vector<std::int64_t> public_key_coefficients(const Bytes& bytes) {
    std::vector<std::int64_t> out(bytes.size() / 4);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint32_t w = std::uint32_t{bytes[4 * i]} | std::uint32_t{bytes[4 * i + 1]} << 8 |
                                std::uint32_t{bytes[4 * i + 2]} << 16 | std::uint32_t{bytes[4 * i + 3]} << 24;
        const std::int64_t mag = w & 0x7FFFFFFF;
        out[i] = (w >> 31) ? -mag : mag;
    }
    return out;
}

Errc error_of(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Error& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
        return e.code();
    }
    ADD_FAILURE() << "no ringtrap::Error thrown";
    return Errc::bad_level;
}

// Every signing path is the same engine on differently prepared keys: for the
// same seed the one-shot call, a prepared SigningKey and the byte interface's
// kept key pair give the same signature and take the same draws.
TEST_P(Api, EverySigningPathGivesTheSameSignature) {
    const auto msg = bytes_of("one engine");
    seed_draws(21);
    ASSERT_EQ(sig_select_level(static_cast<int>(level())), 0);
    Bytes pk(sizes(level()).public_key), sig(sizes(level()).signature);
    SecretBytes sk(sizes(level()).secret_key);
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    std::vector<Bytes> sigs;
    std::vector<int> next;
    for (int path = 0; path < 3; ++path) {
        seed_draws(22);
        if (path == 0) {
            std::uint64_t len = 0;
            ASSERT_EQ(sig_sign(sk.data(), msg.data(), msg.size(), sig.data(), &len), 0);
            sigs.push_back(sig);
        } else {
            sigs.push_back(path == 1 ? sign(sk, pk, msg) : SigningKey::from_bytes(sk, pk).sign(msg));
        }
        next.push_back(draw());
        EXPECT_TRUE(verify(pk, sigs.back(), msg));
    }
    seed_draws_from_os();
    EXPECT_EQ(sigs[1], sigs[0]);
    EXPECT_EQ(sigs[2], sigs[0]);
    EXPECT_EQ(next[1], next[0]);
    EXPECT_EQ(next[2], next[0]);
}

TEST_P(Api, SizesAndLevelInference) {
    const Sizes sz = sizes(level());
    EXPECT_EQ(sz.public_key, GetParam().sizes.public_key);
    EXPECT_EQ(sz.secret_key, GetParam().sizes.secret_key);
    EXPECT_EQ(sz.signature, GetParam().sizes.signature);
    EXPECT_EQ(level_of_public_key_size(sz.public_key), level());
    EXPECT_EQ(level_of_secret_key_size(sz.secret_key), level());
    EXPECT_EQ(level_of_signature_size(sz.signature), level());
    for (std::size_t off : {std::size_t{1}, std::size_t{4}}) {
        EXPECT_FALSE(level_of_public_key_size(sz.public_key + off));
        EXPECT_FALSE(level_of_secret_key_size(sz.secret_key - off));
    }
    const KeyPair& kp = keys(level());
    EXPECT_EQ(kp.level, level());
    EXPECT_EQ(kp.public_key.size(), sz.public_key);
    EXPECT_EQ(kp.secret_key.size(), sz.secret_key);
}

TEST_P(Api, RoundTripAndTampering) {
    const KeyPair& kp = keys(level());
    std::vector<std::uint8_t> msg = bytes_of("hello, lattice");
    const Bytes sig = sign(kp.secret_key, kp.public_key, msg);
    EXPECT_EQ(sig.size(), sizes(level()).signature);
    EXPECT_TRUE(verify(kp.public_key, sig, msg));

    msg[0] ^= 0x20;
    EXPECT_FALSE(verify(kp.public_key, sig, msg));
    msg[0] ^= 0x20;

    Bytes flipped = sig;
    flipped[flipped.size() / 2] ^= 0x01;
    EXPECT_FALSE(verify(kp.public_key, flipped, msg));

    // Truncated or oversized signatures are rejected with a clear error.
    Bytes shorter(sig.begin(), sig.end() - 1), longer = sig;
    longer.push_back(0);
    EXPECT_EQ(error_of([&] { (void)verify(kp.public_key, shorter, msg); }), Errc::bad_signature_size);
    EXPECT_EQ(error_of([&] { (void)verify(kp.public_key, longer, msg); }), Errc::bad_signature_size);
    EXPECT_EQ(error_of([&] { (void)verify(kp.public_key, Bytes{}, msg); }), Errc::bad_signature_size);
}

TEST_P(Api, PreparedKeysSignAndVerifyManyMessages) {
    const KeyPair& kp = keys(level());
    const SigningKey sk = SigningKey::from_bytes(kp.secret_key, kp.public_key);
    const VerifyingKey vk = VerifyingKey::from_bytes(kp.public_key);
    EXPECT_EQ(sk.level(), level());
    EXPECT_EQ(vk.to_bytes(), kp.public_key);
    std::vector<std::uint8_t> all_bytes(256);
    for (int i = 0; i < 256; ++i) all_bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    for (const auto& m : {Bytes{}, bytes_of("a"), all_bytes}) {
        const Bytes s1 = sk.sign(m), s2 = sk.sign(m);
        EXPECT_NE(s1, s2);  // fresh randomness every time
        EXPECT_TRUE(vk.verify(s1, m));
        EXPECT_TRUE(sk.verifying_key().verify(s2, m));
    }
}

TEST_P(Api, KeyChecks) {
    const KeyPair& kp = keys(level());
    const KeyPair& other = keys(other_level());
    const auto msg = bytes_of("m");
    // Wrong sizes.
    Bytes pk_short(kp.public_key.begin(), kp.public_key.end() - 1);
    SecretBytes sk_long = kp.secret_key;
    sk_long.push_back(0);
    EXPECT_EQ(error_of([&] { (void)VerifyingKey::from_bytes(pk_short); }), Errc::bad_public_key_size);
    EXPECT_EQ(error_of([&] { (void)SigningKey::from_bytes(sk_long, kp.public_key); }), Errc::bad_secret_key_size);
    EXPECT_EQ(error_of([&] { (void)SigningKey::from_bytes(kp.secret_key, pk_short); }), Errc::bad_public_key_size);
    // Levels mixed.
    EXPECT_EQ(error_of([&] { (void)SigningKey::from_bytes(kp.secret_key, other.public_key); }), Errc::level_mismatch);
    const Bytes other_sig = sign(other.secret_key, other.public_key, msg);
    EXPECT_EQ(error_of([&] { (void)verify(kp.public_key, other_sig, msg); }), Errc::bad_signature_size);
    // A secret key of another key pair of the same level.
    const KeyPair fresh = generate_keypair(level());
    EXPECT_EQ(error_of([&] { (void)SigningKey::from_bytes(fresh.secret_key, kp.public_key); }), Errc::key_mismatch);
    // Public keys the generator cannot have written.
    Bytes bad = kp.public_key;
    bad[0] = 0;
    EXPECT_EQ(error_of([&] { (void)VerifyingKey::from_bytes(bad); }), Errc::malformed_public_key);
    bad = kp.public_key;
    bad[bad.size() - 1] |= 0x7F;  // magnitude far above q/2
    EXPECT_EQ(error_of([&] { (void)VerifyingKey::from_bytes(bad); }), Errc::malformed_public_key);
    EXPECT_EQ(error_of([&] { (void)generate_keypair(static_cast<Level>(192)); }), Errc::bad_level);
}

TEST_P(Api, ConcurrentSigningAndVerification) {
    const KeyPair& kp = keys(level());
    const SigningKey sk = SigningKey::from_bytes(kp.secret_key, kp.public_key);
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const auto m = bytes_of("thread " + std::to_string(t));
            int good = 0;
            for (int i = 0; i < 3; ++i) good += verify(kp.public_key, sk.sign(m), m) ? 1 : 0;
            ok[static_cast<std::size_t>(t)] = good;
        });
    for (auto& th : threads) th.join();
    for (int v : ok) EXPECT_EQ(v, 3);
}

TEST(ApiMisc, MovedFromKeysThrowInsteadOfCrashing) {
    const KeyPair kp = generate_keypair(Level::L128);
    SigningKey sk = SigningKey::from_bytes(kp.secret_key, kp.public_key);
    VerifyingKey vk = VerifyingKey::from_bytes(kp.public_key);
    const SigningKey sk2 = std::move(sk);
    const VerifyingKey vk2 = std::move(vk);
    const auto msg = bytes_of("m");
    EXPECT_THROW((void)sk.sign(msg), std::logic_error);       // NOLINT(bugprone-use-after-move)
    EXPECT_THROW((void)vk.verify(Bytes(53248), msg), std::logic_error);  // NOLINT(bugprone-use-after-move)
    EXPECT_THROW((void)vk.level(), std::logic_error);
    EXPECT_TRUE(vk2.verify(sk2.sign(msg), msg));
}

// What a signature is made of: (k + 2) n centred coefficients within the
// verifier's bound and far from zero (a perturbed signature), and, at the
// key-independent levels, a preimage of any target on demand.
TEST_P(Api, ParametersSignatureVectorsAndPreimages) {
    const Parameters p = parameters(level());
    const auto m = static_cast<std::size_t>((p.k + 2) * p.n);
    EXPECT_EQ(p.level, level());
    EXPECT_EQ(p.key_independent, is_key_independent(level()));
    EXPECT_LT(static_cast<double>(p.bound_squared), static_cast<double>(p.q) * static_cast<double>(p.q));
    const KeyPair& kp = keys(level());
    const SigningKey sk = SigningKey::from_bytes(kp.secret_key, kp.public_key);
    const Bytes sig = sk.sign(bytes_of("x"));
    const std::vector<std::int64_t> x = decode_signature(sig);
    ASSERT_EQ(x.size(), m);
    double norm2 = 0;
    for (std::int64_t c : x) {
        EXPECT_LE(2 * std::abs(c), p.q - 1);
        norm2 += static_cast<double>(c) * static_cast<double>(c);
    }
    EXPECT_LE(norm2, static_cast<double>(p.bound_squared));
    EXPECT_GT(norm2, 0.5 * p.signature_sigma * p.signature_sigma * static_cast<double>(m));
    EXPECT_EQ(error_of([&] { (void)decode_signature(Bytes(sig.size() + 1)); }), Errc::bad_signature_size);

    const std::vector<std::int64_t> target(static_cast<std::size_t>(p.n), 12345);
    if (!p.key_independent) {
        EXPECT_EQ(error_of([&] { (void)sk.sample_preimage(target); }), Errc::bad_level);
        return;
    }
    const std::vector<std::int64_t> pre = sk.sample_preimage(target);
    ASSERT_EQ(pre.size(), m);
    // A x = target (mod q), by schoolbook products in Z[x]/(x^n + 1).
    const std::vector<std::int64_t> a = public_key_coefficients(kp.public_key);
    const auto n = static_cast<std::size_t>(p.n);
    std::vector<std::int64_t> acc(n, 0);
    for (std::size_t e = 0; e < m / n; ++e)
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                const std::int64_t prod = a[e * n + i] * pre[e * n + j] % p.q;
                if (i + j < n) acc[i + j] = (acc[i + j] + prod) % p.q;
                else acc[i + j - n] = (acc[i + j - n] - prod) % p.q;
            }
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(((acc[i] - 12345) % p.q + p.q) % p.q, 0) << i;
    EXPECT_THROW((void)sk.sample_preimage(std::vector<std::int64_t>(3)), std::invalid_argument);
}

TEST(ApiMisc, VersionAndLevels) {
    EXPECT_STREQ(version(), "0.1.0");
    EXPECT_EQ(level_from_int(128), Level::L128);
    EXPECT_EQ(level_from_int(256), Level::L256);
    EXPECT_EQ(level_from_int(1128), Level::S128);
    EXPECT_EQ(level_from_int(1256), Level::S256);
    EXPECT_FALSE(level_from_int(192));
    EXPECT_EQ(sizes(static_cast<Level>(192)).public_key, 0u);
    for (const auto& [name, level] : {std::pair{"s128", Level::S128}, {"S256", Level::S256}, {"128", Level::L128}})
        EXPECT_EQ(level_from_name(name), level) << name;
    EXPECT_FALSE(level_from_name("S 128"));
    EXPECT_FALSE(level_from_name(""));
    EXPECT_STREQ(level_name(Level::S256), "S256");
    EXPECT_EQ(generate_keypair().level, Level::S128);  // the default is a key-independent level
    EXPECT_EQ(error_of([] { (void)parameters(static_cast<Level>(7)); }), Errc::bad_level);
}

// Hostile signatures at the key-independent levels: every byte string of the
// right size either decodes to exactly one vector or is refused, and none of
// these verifies.
TEST(ApiMisc, HostileCompressedSignatures) {
    for (const Level level : {Level::S128, Level::S256}) {
        const KeyPair kp = generate_keypair(level);
        const VerifyingKey vk = VerifyingKey::from_bytes(kp.public_key);
        const auto msg = bytes_of("hostile");
        const Bytes good = SigningKey::from_bytes(kp.secret_key, kp.public_key).sign(msg);
        ASSERT_TRUE(vk.verify(good, msg));
        Bytes padded = good;
        padded.back() |= 0x80;  // a padding bit (signatures end well before the fixed size)
        Bytes ones(good.size(), 0xFF);  // unary runs beyond the limit
        Bytes zeros(good.size(), 0);    // the zero vector: canonical, but no solution
        for (const Bytes* bad : {&padded, &ones}) {
            EXPECT_FALSE(vk.verify(*bad, msg));
            EXPECT_EQ(error_of([&] { (void)decode_signature(*bad); }), Errc::malformed_signature);
        }
        EXPECT_FALSE(vk.verify(zeros, msg));
        EXPECT_EQ(decode_signature(zeros), std::vector<std::int64_t>(decode_signature(good).size(), 0));
    }
}

// The byte interface at S128 and S256: selection codes, sizes, the kept key
// pair, and a return to the original sets through the same selector.
TEST(ApiMisc, ByteInterfaceAtTheKeyIndependentLevels) {
    for (const Level level : {Level::S128, Level::S256}) {
        ASSERT_EQ(sig_select_level(static_cast<std::int32_t>(level)), 0);
        const Sizes sz = sizes(level);
        ASSERT_EQ(sig_public_key_bytes(), sz.public_key);
        ASSERT_EQ(sig_secret_key_bytes(), sz.secret_key);
        ASSERT_EQ(sig_signature_bytes(), sz.signature);
        std::vector<unsigned char> pk(sz.public_key), sk(sz.secret_key), sig(sz.signature);
        ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
        const auto msg = bytes_of("byte interface");
        std::uint64_t siglen = 0;
        ASSERT_EQ(sig_sign(sk.data(), msg.data(), msg.size(), sig.data(), &siglen), 0);
        EXPECT_EQ(siglen, sz.signature);
        EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg.data(), msg.size()), 1);
        EXPECT_TRUE(verify(pk, sig, msg));  // the same bytes as the C++ API's
        EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen - 1, msg.data(), msg.size()), 0);
        // A secret key of another key pair: refused, with a zeroed signature area.
        const KeyPair other = generate_keypair(level);
        EXPECT_EQ(sig_sign(other.secret_key.data(), msg.data(), msg.size(), sig.data(), &siglen), -2);
        EXPECT_EQ(siglen, 0u);
        EXPECT_EQ(std::count(sig.begin(), sig.end(), 0), static_cast<std::ptrdiff_t>(sig.size()));
    }
    ASSERT_EQ(sig_select_level(128), 0);
    EXPECT_EQ(sig_public_key_bytes(), sizes(Level::L128).public_key);
    EXPECT_EQ(sig_select_level(1000), -1);
}

INSTANTIATE_TEST_SUITE_P(Levels, Api,
                         ::testing::Values(LevelCase{Level::L128, {53248, 98304, 53248}},
                                           LevelCase{Level::L256, {122880, 229376, 122880}},
                                           LevelCase{Level::S128, {45056, 73728, 17736}},
                                           LevelCase{Level::S256, {106496, 180224, 43424}}),
                         [](const auto& case_info) { return std::string("level") + level_name(case_info.param.level); });

}  // namespace
}  // namespace ringtrap
