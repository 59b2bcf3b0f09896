// The C++ API: round trips, length checks, key checks and tampering.
#include <gtest/gtest.h>

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
        static KeyPair k128 = generate_keypair(Level::L128);
        static KeyPair k256 = generate_keypair(Level::L256);
        return level == Level::L128 ? k128 : k256;
    }
    Level level() const { return GetParam().level; }
    Level other_level() const { return level() == Level::L128 ? Level::L256 : Level::L128; }
};

std::vector<std::uint8_t> bytes_of(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

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

TEST(ApiMisc, VersionAndLevels) {
    EXPECT_STREQ(version(), "0.1.0");
    EXPECT_EQ(level_from_int(128), Level::L128);
    EXPECT_EQ(level_from_int(256), Level::L256);
    EXPECT_FALSE(level_from_int(192));
    EXPECT_EQ(sizes(static_cast<Level>(192)).public_key, 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, Api,
                         ::testing::Values(LevelCase{Level::L128, {53248, 98304, 53248}},
                                           LevelCase{Level::L256, {122880, 229376, 122880}}),
                         [](const auto& case_info) { return "level" + std::to_string(static_cast<int>(case_info.param.level)); });

}  // namespace
}  // namespace ringtrap
