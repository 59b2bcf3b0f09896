// Key generation, signing and verification on the process-wide parameters, and
// the byte-level interface.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "BasicScheme.h"
#include "Hash.h"
#include "RandomGenerator.h"
#include "SampleG.h"
#include "SampleP.h"
#include "codec.h"
#include "scheme_core.h"
#include "sig_api.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

class SchemeLevel : public testing::PerLevel {
protected:
    void TearDown() override { seed_draws_from_os(); }
};

std::vector<std::uint8_t> bytes_of(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

poly_R constant(std::int64_t len, std::int64_t c) {
    poly_R p = create_poly_R(len);
    p.coeffs[0] = c;
    return p;
}

void expect_equal_poly(const poly_R& a, const poly_R& b) {
    ASSERT_EQ(a.len, b.len);
    for (std::int64_t i = 0; i < a.len; ++i) ASSERT_EQ(a.coeffs[i], b.coeffs[i]) << "coefficient " << i;
}

double norm(const mat_poly_R& x) {
    double sum = 0;
    for (std::int64_t j = 0; j < x.cols; ++j)
        for (std::int64_t i = 0; i < x.entries[j].len; ++i) {
            const double c = static_cast<double>(centred_mod(x.entries[j].coeffs[i], modulo));
            sum += c * c;
        }
    return std::sqrt(sum);
}

double norm_bound() { return std::sqrt(static_cast<double>(core::norm_bound_squared(*current_param_set()))); }

TEST_P(SchemeLevel, TrapdoorRelationHoldsInEveryColumn) {
    seed_draws(1);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);
    ASSERT_EQ(A.cols, P().k + 2);
    expect_equal_poly(A.entries[0], constant(P().n, 1));
    for (std::int64_t i = 0; i < P().k; ++i) {
        // A [T0_i; T1_i; e_i] = A_0 T0_i + A_1 T1_i + A_(i+2) = 2^i.
        mat_poly_R col = create_mat_poly_R(P().n, 1, P().k + 2);
        col.entries[0] = T0.entries[i];
        col.entries[1] = T1.entries[i];
        col.entries[i + 2] = constant(P().n, 1);
        // 2^(k-1) lies above q/2, so compare with its centred form.
        expect_equal_poly(inner_product_mat_poly_R(A, col), constant(P().n, centred_mod(std::int64_t{1} << i, P().q)));
    }
    // The trapdoor is small: Gaussian of width 2 sqrt(n), so well inside 8 widths.
    const double width = 2 * std::sqrt(static_cast<double>(P().n));
    for (const mat_poly_R* T : {&T0, &T1})
        for (std::int64_t i = 0; i < P().k; ++i)
            for (std::int64_t j = 0; j < P().n; ++j) ASSERT_LE(std::abs(T->entries[i].coeffs[j]), 8 * width);
}

TEST_P(SchemeLevel, SignatureIsPerturbationPlusLiftedGadgetSolution) {
    seed_draws(2);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);
    const auto msg = bytes_of("the parts of a signature");
    seed_draws(3);
    const mat_poly_R x = Sign(A, T0, T1, msg.data(), msg.size());
    ASSERT_EQ(Verify(A, x, msg.data(), msg.size()), 1);
    // Same draws again: the perturbation comes first, so it is reproduced.
    seed_draws(3);
    const mat_poly_R p = Sample_P(n, modulo, s, r, T0, T1);
    mat_poly_R z = create_mat_poly_R(P().n, 1, P().k);
    for (std::int64_t i = 0; i < P().k; ++i) z.entries[i] = mod_sub_poly_R(x.entries[i + 2], p.entries[i + 2]);
    // x_0 = p_0 + T0 z, x_1 = p_1 + T1 z.
    expect_equal_poly(x.entries[0], mod_add_poly_R(p.entries[0], inner_product_mat_poly_R(T0, z)));
    expect_equal_poly(x.entries[1], mod_add_poly_R(p.entries[1], inner_product_mat_poly_R(T1, z)));
    // sum 2^i z_i = y = H(m) - A p, coefficient by coefficient.
    const poly_R y = mod_sub_poly_R(Hash(msg.data(), msg.size(), n), inner_product_mat_poly_R(A, p));
    for (std::int64_t j = 0; j < P().n; ++j) {
        std::int64_t g = 0;
        for (std::int64_t i = 0; i < P().k; ++i) g += z.entries[i].coeffs[j] * (std::int64_t{1} << i);
        ASSERT_EQ(centred_mod(g - y.coeffs[j], modulo), 0) << j;
    }
}

// The fast engine must give exactly what the plain composition of the
// building blocks gives, draw for draw.
TEST_P(SchemeLevel, EngineMatchesThePlainCompositionDrawForDraw) {
    seed_draws(9);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);

    seed_draws(9);
    const double width = std::sqrt(static_cast<double>(n)) + std::sqrt(static_cast<double>(n));
    const mat_poly_R U0 = generate_Gaussian_mat_poly_R(n, 1, k, width);
    const mat_poly_R U1 = generate_Gaussian_mat_poly_R(n, 1, k, width);
    const poly_R a = generate_random_poly_R(n);
    EXPECT_EQ(flatten_row(U0), flatten_row(T0));
    EXPECT_EQ(flatten_row(U1), flatten_row(T1));
    expect_equal_poly(A.entries[1], a);
    for (std::int64_t i = 0; i < k; ++i) {
        const poly_R t = mod_add_poly_R(mod_mul_poly_R(a, U1.entries[i]), U0.entries[i]);
        expect_equal_poly(A.entries[i + 2], mod_sub_poly_R(constant(n, std::int64_t{1} << i), t));
    }

    const auto msg = bytes_of("draw for draw");
    seed_draws(10);
    const mat_poly_R x = Sign(A, T0, T1, msg.data(), msg.size());
    seed_draws(10);
    const mat_poly_R p = Sample_P(n, modulo, s, r, T0, T1);
    const poly_R u = Hash(msg.data(), msg.size(), n);
    const poly_R y = mod_sub_poly_R(u, inner_product_mat_poly_R(A, p));
    mat_poly_R z = create_mat_poly_R(n, 1, k);
    std::vector<std::int64_t> digits(static_cast<std::size_t>(k));
    for (std::int64_t j = 0; j < n; ++j) {
        Sample_G(digits.data(), modulo, y.coeffs[j], r);
        for (std::int64_t i = 0; i < k; ++i) z.entries[i].coeffs[j] = digits[static_cast<std::size_t>(i)];
    }
    expect_equal_poly(x.entries[0], mod_add_poly_R(p.entries[0], inner_product_mat_poly_R(T0, z)));
    expect_equal_poly(x.entries[1], mod_add_poly_R(p.entries[1], inner_product_mat_poly_R(T1, z)));
    for (std::int64_t i = 0; i < k; ++i) expect_equal_poly(x.entries[i + 2], mod_add_poly_R(p.entries[i + 2], z.entries[i]));
    // Both consumed the same number of draws.
    const int next_after_plain = draw();
    seed_draws(10);
    (void)Sign(A, T0, T1, msg.data(), msg.size());
    EXPECT_EQ(draw(), next_after_plain);
}

TEST_P(SchemeLevel, VerificationAcceptsHonestSignaturesAndRejectsTampering) {
    seed_draws(4);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);
    std::vector<std::uint8_t> msg = bytes_of("message");
    const mat_poly_R x = Sign(A, T0, T1, msg.data(), msg.size());
    EXPECT_EQ(Verify(A, x, msg.data(), msg.size()), 1);
    EXPECT_LT(norm(x), 0.9 * norm_bound());  // honest signatures keep a wide margin

    // Any message byte changed.
    msg[3] ^= 1;
    EXPECT_EQ(Verify(A, x, msg.data(), msg.size()), 0);
    msg[3] ^= 1;

    // Adding or subtracting q keeps the residue class, and so validity.
    mat_poly_R shifted = make_row(flatten_row(x).data(), x.cols, P().n);
    shifted.entries[5].coeffs[7] += P().q;
    shifted.entries[0].coeffs[0] -= P().q;
    EXPECT_EQ(Verify(A, shifted, msg.data(), msg.size()), 1);

    // Negating a coefficient of x_0 changes A x by twice it.
    mat_poly_R negated = make_row(flatten_row(x).data(), x.cols, P().n);
    std::int64_t j = 0;
    while (negated.entries[0].coeffs[j] == 0) ++j;
    negated.entries[0].coeffs[j] = -negated.entries[0].coeffs[j];
    EXPECT_EQ(Verify(A, negated, msg.data(), msg.size()), 0);

    // Empty message, and signing it twice gives two different valid signatures.
    const mat_poly_R e1 = Sign(A, T0, T1, nullptr, 0), e2 = Sign(A, T0, T1, nullptr, 0);
    EXPECT_EQ(Verify(A, e1, nullptr, 0), 1);
    EXPECT_EQ(Verify(A, e2, nullptr, 0), 1);
    EXPECT_NE(flatten_row(e1), flatten_row(e2));
}

TEST_P(SchemeLevel, ForgeriesThatOnlySolveTheEquationAreRejected) {
    seed_draws(5);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);
    const auto msg = bytes_of("forged");
    const poly_R u = Hash(msg.data(), msg.size(), n);
    // Zero work: A_0 = 1, so x = (H(m), 0, ..., 0) solves A x = H(m).
    mat_poly_R x = create_mat_poly_R(P().n, 1, P().k + 2);
    x.entries[0] = u;
    EXPECT_EQ(Verify(A, x, msg.data(), msg.size()), 0);
    // Short entries 1 .. k+1 and x_0 = H(m) - sum A_i x_i.
    seed_draws(6);
    mat_poly_R y = generate_Gaussian_mat_poly_R(P().n, 1, P().k + 2, P().s);
    y.entries[0] = create_poly_R(P().n);
    y.entries[0] = mod_sub_poly_R(u, inner_product_mat_poly_R(A, y));
    ASSERT_EQ(centred_mod(inner_product_mat_poly_R(A, y).coeffs[0] - u.coeffs[0], modulo), 0);
    EXPECT_EQ(Verify(A, y, msg.data(), msg.size()), 0);
}

TEST_P(SchemeLevel, VerifyRejectsWrongShapes) {
    seed_draws(7);
    mat_poly_R A, T0, T1;
    KeyGen(&A, &T0, &T1);
    const mat_poly_R x = Sign(A, T0, T1, nullptr, 0);
    EXPECT_EQ(Verify(A, create_mat_poly_R(P().n, 1, P().k + 1), nullptr, 0), 0);
    EXPECT_EQ(Verify(A, create_mat_poly_R(P().n, 2, P().k + 2), nullptr, 0), 0);
    EXPECT_EQ(Verify(A, create_mat_poly_R(P().n - 1, 1, P().k + 2), nullptr, 0), 0);
    EXPECT_EQ(Verify(T0, x, nullptr, 0), 0);
    EXPECT_EQ(Verify(mat_poly_R{}, mat_poly_R{}, nullptr, 0), 0);
    EXPECT_THROW(Sign(T0, T0, T1, nullptr, 0), std::invalid_argument);
    EXPECT_THROW(Sign(A, A, T1, nullptr, 0), std::invalid_argument);
}

TEST_P(SchemeLevel, KeyGenerationIsReproducibleFromTheSeed) {
    mat_poly_R A1, A2, T0a, T0b, T1a, T1b;
    seed_draws(8);
    KeyGen(&A1, &T0a, &T1a);
    seed_draws(8);
    KeyGen(&A2, &T0b, &T1b);
    EXPECT_EQ(flatten_row(A1), flatten_row(A2));
    EXPECT_EQ(flatten_row(T0a), flatten_row(T0b));
}

TEST(Encoding, CoefficientExamples) {
    const std::pair<std::int64_t, std::array<std::uint8_t, 4>> cases[] = {
        {0, {0x00, 0x00, 0x00, 0x00}},     {300, {0x2C, 0x01, 0x00, 0x00}},     {-1, {0x01, 0x00, 0x00, 0x80}},
        {-300, {0x2C, 0x01, 0x00, 0x80}}, {-8385024, {0x00, 0xF2, 0x7F, 0x80}}, {2147483647, {0xFF, 0xFF, 0xFF, 0x7F}}};
    for (const auto& [value, bytes] : cases) {
        std::uint8_t out[4];
        encode_coeff(value, out);
        EXPECT_EQ(std::memcmp(out, bytes.data(), 4), 0) << value;
        EXPECT_EQ(decode_coeff(bytes.data()), value);
    }
    const std::uint8_t negative_zero[4] = {0, 0, 0, 0x80};
    EXPECT_EQ(decode_coeff(negative_zero), 0);
    EXPECT_FALSE(is_canonical_coeff(negative_zero, 10));
}

// A signing session runs in its order, once per thread at a time; a key pair
// that does not match yields a signature that fails the session's own check,
// and the key-pair test then tells it apart.
TEST_P(SchemeLevel, SigningSessionsAndTheirCheck) {
    seed_draws(30);
    core::PublicKey pk, other_pk;
    core::SecretKey sk, other_sk;
    core::keygen(P(), pk, sk);
    core::keygen(P(), other_pk, other_sk);
    const ParamSet& other_level = P().level == 128 ? kParams256 : kParams128;
    core::PublicKey foreign_pk;
    core::SecretKey foreign_sk;
    core::keygen(other_level, foreign_pk, foreign_sk);
    EXPECT_THROW(core::SignSession(pk, foreign_sk), std::invalid_argument);

    const auto msg = bytes_of("session");
    std::vector<std::int64_t> x(static_cast<std::size_t>((P().k + 2) * P().n));
    {
        core::SignSession session(pk, sk);
        EXPECT_THROW(core::SignSession(pk, sk), std::logic_error);
        EXPECT_THROW(static_cast<void>(session.finish(x.data())), std::logic_error);
        session.draw(msg.data(), msg.size());
        EXPECT_TRUE(session.finish(x.data()));
        EXPECT_THROW(static_cast<void>(session.finish(x.data())), std::logic_error);
    }
    EXPECT_TRUE(core::verify(pk, x.data(), msg.data(), msg.size()));
    EXPECT_TRUE(core::key_pair_matches(pk, sk));

    core::SignSession mismatched(pk, other_sk);
    mismatched.draw(msg.data(), msg.size());
    EXPECT_FALSE(mismatched.finish(x.data()));
    EXPECT_FALSE(core::verify(pk, x.data(), msg.data(), msg.size()));
    EXPECT_FALSE(core::key_pair_matches(pk, other_sk));
}

INSTANTIATE_TEST_SUITE_P(Levels, SchemeLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

// The byte-level interface.
class ByteInterface : public testing::PerLevel {
protected:
    void SetUp() override {
        PerLevel::SetUp();
        ASSERT_EQ(sig_select_level(GetParam()->level), 0);
        pk.resize(sig_public_key_bytes());
        sk.resize(sig_secret_key_bytes());
        sig.resize(sig_signature_bytes() + 16, 0xEE);  // canary bytes behind the signature
    }
    void TearDown() override { seed_draws_from_os(); }
    std::vector<unsigned char> pk, sk, sig;
};

TEST_P(ByteInterface, RoundTripSizesAndLayout) {
    EXPECT_EQ(pk.size(), P().public_key_bytes());
    EXPECT_EQ(sk.size(), P().secret_key_bytes());
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    // Entry A_0 is the constant 1.
    EXPECT_EQ(pk[0], 1);
    for (std::int64_t i = 1; i < 4 * P().n; ++i) ASSERT_EQ(pk[static_cast<std::size_t>(i)], 0) << i;
    // The global public matrix is the one written out.
    ASSERT_NE(_a, nullptr);
    std::vector<std::int64_t> a(static_cast<std::size_t>((P().k + 2) * P().n));
    decode_coeffs(pk.data(), a.size(), a.data());
    EXPECT_EQ(a, flatten_row(*_a));

    const unsigned char msg[] = "byte interface";
    std::uint64_t siglen = 0;
    ASSERT_EQ(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(siglen, P().signature_bytes());
    for (std::size_t i = siglen; i < sig.size(); ++i) ASSERT_EQ(sig[i], 0xEE) << "write past the end";
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 1);
    // Any length but the level's signature size is an invalid signature.
    for (const std::uint64_t len : {std::uint64_t{0}, siglen - 1, siglen + 1, std::uint64_t{12345}})
        EXPECT_EQ(sig_verf(pk.data(), sig.data(), len, msg, sizeof msg), 0) << len;
    // A different message fails; so does a sign bit flipped in x_0.
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg - 1), 0);
    std::size_t j = 0;
    while (decode_coeff(sig.data() + 4 * j) == 0) ++j;
    sig[4 * j + 3] ^= 0x80;
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 0);
}

TEST_P(ByteInterface, SigningNeedsTheSecretKeyOfTheLastKeyPair) {
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    std::vector<unsigned char> pk2(pk.size()), sk2(sk.size());
    ASSERT_EQ(sig_keygen(pk2.data(), sk2.data()), 0);
    const unsigned char msg[] = "old key";
    std::uint64_t siglen = 99;
    // The older secret key no longer matches the kept public matrix.
    EXPECT_NE(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(siglen, 0u);
    for (std::size_t i = 0; i < P().signature_bytes(); ++i) ASSERT_EQ(sig[i], 0) << "no half-signature is left";
    ASSERT_EQ(sig_sign(sk2.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk2.data(), sig.data(), siglen, msg, sizeof msg), 1);
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 0);
}

TEST_P(ByteInterface, MalformedPublicKeysAreInvalid) {
    ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    const unsigned char msg[] = "m";
    std::uint64_t siglen = 0;
    ASSERT_EQ(sig_sign(sk.data(), msg, 1, sig.data(), &siglen), 0);
    std::vector<unsigned char> bad = pk;
    bad[0] = 2;  // first entry not the constant 1
    EXPECT_EQ(sig_verf(bad.data(), sig.data(), siglen, msg, 1), 0);
    bad = pk;
    encode_coeff(P().q, bad.data() + 4 * P().n);  // a coefficient outside the centred range
    EXPECT_EQ(sig_verf(bad.data(), sig.data(), siglen, msg, 1), 0);
    std::vector<unsigned char> zeros(pk.size(), 0), ones(pk.size(), 0xFF);
    EXPECT_EQ(sig_verf(zeros.data(), sig.data(), siglen, msg, 1), 0);
    EXPECT_EQ(sig_verf(ones.data(), sig.data(), siglen, msg, 1), 0);
    EXPECT_EQ(sig_verf(pk.data(), zeros.data(), siglen, msg, 1), 0);
    EXPECT_EQ(sig_verf(pk.data(), ones.data(), siglen, msg, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, ByteInterface, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

TEST(ByteInterfaceState, SigningBeforeAnyKeyGenerationFailsCleanly) {
    // Run in a process where sig_keygen may already have happened: simulate the
    // initial state by clearing the reference.
    ASSERT_EQ(sig_select_level(128), 0);
    mat_poly_R* saved = _a;
    _a = nullptr;
    std::vector<unsigned char> sk(sig_secret_key_bytes()), sig(sig_signature_bytes(), 0x55);
    std::uint64_t siglen = 7;
    EXPECT_NE(sig_sign(sk.data(), nullptr, 0, sig.data(), &siglen), 0);
    EXPECT_EQ(siglen, 0u);
    _a = saved;
    EXPECT_EQ(sig_select_level(192), -1);
    EXPECT_EQ(sig_public_key_bytes(), 53248u);
}

}  // namespace
}  // namespace ringtrap
