// The stateless C interface (ringtrap_* in sig_api.h): a round trip per level
// against the C++ API, and every failure returning its code with the outputs
// left exactly as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ringtrap.h"
#include "sig_api.h"

namespace ringtrap {
namespace {

using Buf = std::vector<unsigned char>;

struct CPair {
    Buf pk, sk;
};

CPair c_keygen(Level level) {
    const Sizes s = sizes(level);
    CPair p{Buf(s.public_key), Buf(s.secret_key)};
    EXPECT_EQ(ringtrap_keygen(static_cast<std::int32_t>(level), p.pk.data(), p.pk.size(), p.sk.data(), p.sk.size()),
              RINGTRAP_OK);
    return p;
}

class CApiLevel : public ::testing::TestWithParam<Level> {};

TEST_P(CApiLevel, RoundTripAgreesWithTheCxxApi) {
    const Level level = GetParam();
    const auto code = static_cast<std::int32_t>(level);
    std::size_t pk_size = 0, sk_size = 0, sig_size = 0;
    ASSERT_EQ(ringtrap_sizes(code, &pk_size, &sk_size, &sig_size), RINGTRAP_OK);
    EXPECT_EQ(pk_size, sizes(level).public_key);
    EXPECT_EQ(sk_size, sizes(level).secret_key);
    EXPECT_EQ(sig_size, sizes(level).signature);
    for (const auto& [kind, size] : {std::pair{RINGTRAP_PUBLIC_KEY, pk_size}, std::pair{RINGTRAP_SECRET_KEY, sk_size},
                                     std::pair{RINGTRAP_SIGNATURE, sig_size}}) {
        std::int32_t found = 0;
        ASSERT_EQ(ringtrap_level_of(kind, size, &found), RINGTRAP_OK);
        EXPECT_EQ(found, code);
    }
    ringtrap_params params{};
    ASSERT_EQ(ringtrap_parameters(code, &params, sizeof params), RINGTRAP_OK);
    const Parameters want = parameters(level);
    EXPECT_EQ(params.level, code);
    EXPECT_EQ(params.n, want.n);
    EXPECT_EQ(params.q, want.q);
    EXPECT_EQ(params.bound_squared, want.bound_squared);
    EXPECT_EQ(params.key_independent != 0, want.key_independent);

    // Keys made in C sign in C++, and the reverse.
    const CPair pair = c_keygen(level);
    ringtrap_signer* signer = nullptr;
    ASSERT_EQ(ringtrap_signer_new(pair.sk.data(), pair.sk.size(), pair.pk.data(), pair.pk.size(), &signer), RINGTRAP_OK);
    const unsigned char msg[] = "from C";
    Buf sig(sig_size + 7);
    std::size_t sig_len = 0;
    ASSERT_EQ(ringtrap_signer_sign(signer, msg, sizeof msg, sig.data(), sig.size(), &sig_len), RINGTRAP_OK);
    ringtrap_signer_free(signer);
    ASSERT_EQ(sig_len, sig_size);
    sig.resize(sig_len);
    EXPECT_TRUE(verify(pair.pk, sig, std::span(msg, sizeof msg)));

    const KeyPair cxx = generate_keypair(level);
    const Bytes cxx_sig = SigningKey::from_bytes(cxx.secret_key, cxx.public_key).sign({});
    ringtrap_verifier* verifier = nullptr;
    ASSERT_EQ(ringtrap_verifier_new(cxx.public_key.data(), cxx.public_key.size(), &verifier), RINGTRAP_OK);
    std::int32_t valid = -1;
    EXPECT_EQ(ringtrap_verifier_verify(verifier, cxx_sig.data(), cxx_sig.size(), nullptr, 0, &valid), RINGTRAP_OK);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(ringtrap_verifier_verify(verifier, cxx_sig.data(), cxx_sig.size(), msg, 1, &valid), RINGTRAP_OK);
    EXPECT_EQ(valid, 0);
    ringtrap_verifier_free(verifier);
    EXPECT_EQ(ringtrap_verify(pair.pk.data(), pair.pk.size(), sig.data(), sig.size(), msg, sizeof msg, &valid), RINGTRAP_OK);
    EXPECT_EQ(valid, 1);
    sig[sig.size() / 2] ^= 4;
    EXPECT_EQ(ringtrap_verify(pair.pk.data(), pair.pk.size(), sig.data(), sig.size(), msg, sizeof msg, &valid), RINGTRAP_OK);
    EXPECT_EQ(valid, 0);

    std::size_t count = 0;
    ASSERT_EQ(ringtrap_decode_signature(cxx_sig.data(), cxx_sig.size(), nullptr, 0, &count), RINGTRAP_OK);
    std::vector<std::int64_t> x(count);
    ASSERT_EQ(ringtrap_decode_signature(cxx_sig.data(), cxx_sig.size(), x.data(), x.size(), &count), RINGTRAP_OK);
    EXPECT_EQ(x, decode_signature(cxx_sig));
}

INSTANTIATE_TEST_SUITE_P(Levels, CApiLevel, ::testing::Values(Level::S128, Level::S256, Level::L128, Level::L256),
                         [](const auto& param_info) { return std::string("level") + level_name(param_info.param); });

// Every output of a failed call keeps its sentinel value.
constexpr unsigned char kSentinel = 0xA5;

bool untouched(const Buf& b) {
    for (const unsigned char c : b)
        if (c != kSentinel) return false;
    return true;
}

TEST(CApi, FailuresReturnTheirCodeAndWriteNothing) {
    const Level level = Level::S128;
    const auto code = static_cast<std::int32_t>(level);
    const Sizes s = sizes(level);
    const CPair a = c_keygen(level), b = c_keygen(level), other = c_keygen(Level::L128);
    const std::size_t sentinel_size = 99;
    std::size_t z1 = sentinel_size, z2 = sentinel_size, z3 = sentinel_size;
    std::int32_t i32 = -7;

    EXPECT_EQ(ringtrap_sizes(7, &z1, &z2, &z3), RINGTRAP_E_BAD_LEVEL);
    EXPECT_EQ(ringtrap_sizes(code, &z1, nullptr, &z3), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_level_of(RINGTRAP_PUBLIC_KEY, s.secret_key, &i32), RINGTRAP_E_BAD_PUBLIC_KEY_SIZE);
    EXPECT_EQ(ringtrap_level_of(RINGTRAP_SECRET_KEY, 5, &i32), RINGTRAP_E_BAD_SECRET_KEY_SIZE);
    EXPECT_EQ(ringtrap_level_of(RINGTRAP_SIGNATURE, s.signature + 1, &i32), RINGTRAP_E_BAD_SIGNATURE_SIZE);
    EXPECT_EQ(ringtrap_level_of(9, s.signature, &i32), RINGTRAP_E_INVALID_ARGUMENT);
    ringtrap_params params{};
    EXPECT_EQ(ringtrap_parameters(code, &params, sizeof params - 1), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_parameters(1000, &params, sizeof params), RINGTRAP_E_BAD_LEVEL);
    EXPECT_EQ(params.n, 0);
    EXPECT_EQ(z1 + z2 + z3, 3 * sentinel_size);
    EXPECT_EQ(i32, -7);

    Buf pk(s.public_key, kSentinel), sk(s.secret_key, kSentinel);
    EXPECT_EQ(ringtrap_keygen(code, pk.data(), pk.size() - 1, sk.data(), sk.size()), RINGTRAP_E_BAD_PUBLIC_KEY_SIZE);
    EXPECT_EQ(ringtrap_keygen(code, pk.data(), pk.size(), sk.data(), sk.size() - 1), RINGTRAP_E_BAD_SECRET_KEY_SIZE);
    EXPECT_EQ(ringtrap_keygen(code, pk.data(), pk.size(), nullptr, sk.size()), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_keygen(2, pk.data(), pk.size(), sk.data(), sk.size()), RINGTRAP_E_BAD_LEVEL);
    EXPECT_TRUE(untouched(pk) && untouched(sk));

    // Loading keys: each way a pair can be wrong.
    auto* const no_signer = reinterpret_cast<ringtrap_signer*>(&i32);
    const Buf five(5), all_ff(s.secret_key, 0xFF);
    Buf bad_pk = a.pk;
    bad_pk[0] = 2;  // the first entry of A is the constant 1
    const struct {
        const Buf& sk;
        const Buf& pk;
        std::int32_t want;
    } loads[] = {
        {five, a.pk, RINGTRAP_E_BAD_SECRET_KEY_SIZE},         {a.sk, five, RINGTRAP_E_BAD_PUBLIC_KEY_SIZE},
        {a.sk, other.pk, RINGTRAP_E_LEVEL_MISMATCH},         {a.sk, b.pk, RINGTRAP_E_KEY_MISMATCH},
        {all_ff, a.pk, RINGTRAP_E_MALFORMED_SECRET_KEY},     {a.sk, bad_pk, RINGTRAP_E_MALFORMED_PUBLIC_KEY},
    };
    for (const auto& load : loads) {
        ringtrap_signer* out = no_signer;
        EXPECT_EQ(ringtrap_signer_new(load.sk.data(), load.sk.size(), load.pk.data(), load.pk.size(), &out), load.want);
        EXPECT_EQ(out, no_signer);
    }
    auto* const no_verifier = reinterpret_cast<ringtrap_verifier*>(&i32);
    ringtrap_verifier* verifier = no_verifier;
    EXPECT_EQ(ringtrap_verifier_new(bad_pk.data(), bad_pk.size(), &verifier), RINGTRAP_E_MALFORMED_PUBLIC_KEY);
    EXPECT_EQ(ringtrap_verifier_new(nullptr, 0, &verifier), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(verifier, no_verifier);

    // Signing and verifying: short arrays, a missing message, another level's signature.
    ringtrap_signer* signer = nullptr;
    ASSERT_EQ(ringtrap_signer_new(a.sk.data(), a.sk.size(), a.pk.data(), a.pk.size(), &signer), RINGTRAP_OK);
    Buf sig(s.signature, kSentinel);
    std::size_t sig_len = sentinel_size;
    const unsigned char msg[] = "m";
    EXPECT_EQ(ringtrap_signer_sign(signer, msg, 1, sig.data(), sig.size() - 1, &sig_len), RINGTRAP_E_BAD_SIGNATURE_SIZE);
    EXPECT_EQ(ringtrap_signer_sign(signer, nullptr, 1, sig.data(), sig.size(), &sig_len), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_signer_sign(nullptr, msg, 1, sig.data(), sig.size(), &sig_len), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_TRUE(untouched(sig));
    EXPECT_EQ(sig_len, sentinel_size);
    ringtrap_signer_free(signer);
    ringtrap_signer_free(nullptr);

    ASSERT_EQ(ringtrap_verifier_new(a.pk.data(), a.pk.size(), &verifier), RINGTRAP_OK);
    const Bytes sig_128 = ringtrap::sign(other.sk, other.pk, {});
    i32 = -7;
    EXPECT_EQ(ringtrap_verifier_verify(verifier, sig_128.data(), sig_128.size(), msg, 1, &i32), RINGTRAP_E_BAD_SIGNATURE_SIZE);
    EXPECT_EQ(ringtrap_verifier_verify(verifier, sig.data(), sig.size(), msg, 1, nullptr), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_verify(a.pk.data(), a.pk.size(), sig.data(), sig.size() - 1, msg, 1, &i32),
              RINGTRAP_E_BAD_SIGNATURE_SIZE);
    EXPECT_EQ(i32, -7);
    ringtrap_verifier_free(verifier);
}

TEST(CApi, DecodingChecksCapacityAndContent) {
    const Sizes s = sizes(Level::L128);
    const Buf all_ff(s.signature, 0xFF);  // every magnitude far above (q - 1) / 2
    std::size_t count = 0;
    ASSERT_EQ(ringtrap_decode_signature(all_ff.data(), all_ff.size(), nullptr, 0, &count), RINGTRAP_OK);
    std::vector<std::int64_t> x(count, -3);
    const std::size_t wanted = count;
    EXPECT_EQ(ringtrap_decode_signature(all_ff.data(), all_ff.size(), x.data(), x.size(), &count),
              RINGTRAP_E_MALFORMED_SIGNATURE);
    EXPECT_EQ(ringtrap_decode_signature(all_ff.data(), all_ff.size(), x.data(), x.size() - 1, &count),
              RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(ringtrap_decode_signature(all_ff.data(), all_ff.size() - 1, x.data(), x.size(), &count),
              RINGTRAP_E_BAD_SIGNATURE_SIZE);
    EXPECT_EQ(ringtrap_decode_signature(all_ff.data(), all_ff.size(), nullptr, 5, &count), RINGTRAP_E_INVALID_ARGUMENT);
    EXPECT_EQ(count, wanted);
    EXPECT_EQ(x, std::vector<std::int64_t>(count, -3));
}

// One message per code, none shared, and the version is the C++ API's.
TEST(CApi, EveryCodeHasItsOwnMessage) {
    std::set<std::string> seen;
    for (const std::int32_t code : {RINGTRAP_OK, RINGTRAP_E_BAD_LEVEL, RINGTRAP_E_BAD_PUBLIC_KEY_SIZE,
                                    RINGTRAP_E_BAD_SECRET_KEY_SIZE, RINGTRAP_E_BAD_SIGNATURE_SIZE, RINGTRAP_E_LEVEL_MISMATCH,
                                    RINGTRAP_E_MALFORMED_PUBLIC_KEY, RINGTRAP_E_KEY_MISMATCH, RINGTRAP_E_SIGNING_FAILED,
                                    RINGTRAP_E_ENTROPY_UNAVAILABLE, RINGTRAP_E_MALFORMED_SECRET_KEY,
                                    RINGTRAP_E_MALFORMED_SIGNATURE, RINGTRAP_E_INVALID_ARGUMENT, RINGTRAP_E_INTERNAL})
        EXPECT_TRUE(seen.insert(ringtrap_error_message(code)).second) << code;
    EXPECT_STREQ(ringtrap_error_message(12), "unknown error code");
    EXPECT_STREQ(ringtrap_version(), version());
}

}  // namespace
}  // namespace ringtrap
