// sig_sign keeps the prepared trapdoor of the last sig_keygen and recognises
// its secret key by comparing all the bytes: a key that differs anywhere,
// even in its very last coefficient, must take the slow path and be refused,
// without disturbing what is kept; sig_forget drops it.
#include <gtest/gtest.h>

#include <vector>

#include "codec.h"
#include "sig_api.h"
#include "test_support.h"

namespace ringtrap {
namespace {

class SignCache : public testing::PerLevel {};

TEST_P(SignCache, EveryByteOfTheSecretKeyCounts) {
    std::vector<unsigned char> pk(sig_public_key_bytes()), sk(sig_secret_key_bytes()), sig(sig_signature_bytes());
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    const unsigned char msg[] = "cached";
    std::uint64_t siglen = 0;

    const std::size_t last = sk.size() / 4 - 1;  // last coefficient of T1
    for (const std::size_t at : {std::size_t{0}, sk.size() / 8, last}) {
        std::vector<unsigned char> edited = sk;
        encode_coeff(decode_coeff(edited.data() + 4 * at) + 1, edited.data() + 4 * at);
        EXPECT_NE(sig_sign(edited.data(), msg, sizeof msg, sig.data(), &siglen), 0) << "coefficient " << at;
        EXPECT_EQ(siglen, 0u);
    }
    // The kept key is intact: the real secret key still signs.
    ASSERT_EQ(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 1);

    // A new key pair replaces it; the old secret key no longer signs.
    std::vector<unsigned char> pk2(pk.size()), sk2(sk.size());
    ASSERT_EQ(sig_keygen(pk2.data(), sk2.data()), 0);
    EXPECT_NE(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    ASSERT_EQ(sig_sign(sk2.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk2.data(), sig.data(), siglen, msg, sizeof msg), 1);

    // sig_forget drops it: signing fails cleanly until the next sig_keygen,
    // and what was signed before still verifies.
    sig_forget();
    std::vector<unsigned char> after(sig.size(), 0x55);
    siglen = 99;
    EXPECT_EQ(sig_sign(sk2.data(), msg, sizeof msg, after.data(), &siglen), -1);
    EXPECT_EQ(siglen, 0u);
    EXPECT_EQ(after, std::vector<unsigned char>(sig.size(), 0));
    EXPECT_EQ(sig_verf(pk2.data(), sig.data(), sig.size(), msg, sizeof msg), 1);
    sig_forget();  // twice is harmless
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    ASSERT_EQ(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 1);
}

INSTANTIATE_TEST_SUITE_P(Levels, SignCache, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
