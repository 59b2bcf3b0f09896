// Hostile input: every class of malformed key, signature and message, fed to
// every entry point (the C++ API, the byte interface and the in-memory Verify),
// each with the outcome its interface promises. Nothing may crash, nothing may
// throw anything but ringtrap::Error, and nothing the key did not sign may be
// called valid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BasicScheme.h"
#include "Hash.h"
#include "codec.h"
#include "ringtrap.h"
#include "scheme_core.h"
#include "sig_api.h"
#include "test_support.h"
#include "util.h"

namespace ringtrap {
namespace {

constexpr std::int64_t kMaxMagnitude = (std::int64_t{1} << 31) - 1;  // largest the encoding holds

const char* errc_name(Errc e) {
    switch (e) {
        case Errc::bad_level: return "bad_level";
        case Errc::bad_public_key_size: return "bad_public_key_size";
        case Errc::bad_secret_key_size: return "bad_secret_key_size";
        case Errc::bad_signature_size: return "bad_signature_size";
        case Errc::level_mismatch: return "level_mismatch";
        case Errc::malformed_public_key: return "malformed_public_key";
        case Errc::malformed_secret_key: return "malformed_secret_key";
        case Errc::malformed_signature: return "malformed_signature";
        case Errc::key_mismatch: return "key_mismatch";
        case Errc::signing_failed: return "signing_failed";
        case Errc::entropy_unavailable: return "entropy_unavailable";
    }
    return "?";
}

// What a C++ call must do: throw Error with `error`, or return `valid`.
struct Outcome {
    std::optional<Errc> error;
    bool valid = false;
};
Outcome returns(bool valid) { return {std::nullopt, valid}; }
Outcome fails(Errc e) { return {e, false}; }

// One row of the table. The C++ inputs carry their own lengths; the byte
// interface takes full-size keys, so the case gives them separately (nullopt
// when the bad input is a length the byte interface cannot express). The
// signature reaches sig_verf in a buffer of exactly c_siglen bytes.
// Unset expectations mean "the case does not concern this entry point".
struct Case {
    std::string name;
    Bytes pk, sig, msg;
    SecretBytes sk;
    std::optional<Bytes> c_pk, c_sig, c_sk;
    std::uint64_t c_siglen = 0;

    Outcome vk;                     // VerifyingKey::from_bytes(pk); `valid` unused
    Outcome verify;                 // verify(pk, sig, msg) and VerifyingKey::verify
    std::optional<Outcome> signing;  // SigningKey::from_bytes(sk, pk) + sign, and sign(sk, pk, msg): valid = made a verifying signature
    int c_verf = 1;                 // sig_verf(c_pk, c_sig, c_siglen, msg)
    std::optional<bool> c_sign;     // sig_sign(c_sk, msg) succeeds (or fails cleanly)
    int mem_verify = 1;             // Verify on the rows decoded from c_pk and c_sig (full-size ones only)
};

template <typename B>
std::int64_t get(const B& bytes, std::size_t index) {
    return decode_coeff(bytes.data() + 4 * index);
}
template <typename B>
void put(B& bytes, std::size_t index, std::int64_t value) {
    encode_coeff(value, bytes.data() + 4 * index);
}
template <typename B>
void put_raw(B& bytes, std::size_t index, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    std::uint8_t* at = bytes.data() + 4 * index;
    at[0] = b0, at[1] = b1, at[2] = b2, at[3] = b3;
}
// Cut or zero-padded to `size` bytes.
template <typename B>
B fitted(const B& bytes, std::size_t size) {
    B out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
    out.resize(size, 0);
    return out;
}
template <typename B>
B filled(std::size_t size, std::uint8_t value) {
    return B(size, value);
}
Bytes plain(const SecretBytes& s) { return Bytes(s.begin(), s.end()); }
SecretBytes secret(const Bytes& b) { return SecretBytes(b.begin(), b.end()); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

mat_poly_R row_of(const Bytes& bytes, const ParamSet& p) {
    std::vector<std::int64_t> c(bytes.size() / 4);
    decode_coeffs(bytes.data(), c.size(), c.data());
    return make_row(c.data(), p.k + 2, p.n);
}

const std::uint8_t* data_or_null(const Bytes& b) { return b.empty() ? nullptr : b.data(); }

template <typename Fn>
void expect_outcome(const Outcome& want, const char* what, Fn&& fn) {
    try {
        const bool got = fn();
        if (want.error)
            ADD_FAILURE() << what << ": expected Error(" << errc_name(*want.error) << "), returned " << got;
        else
            EXPECT_EQ(got, want.valid) << what;
    } catch (const Error& e) {
        if (!want.error)
            ADD_FAILURE() << what << ": unexpected Error(" << errc_name(e.code()) << "): " << e.what();
        else
            EXPECT_EQ(errc_name(e.code()), std::string(errc_name(*want.error))) << what << ": " << e.what();
        EXPECT_FALSE(std::string(e.what()).empty()) << what;
    }
    // Anything else escapes and fails the test as an uncaught exception.
}

class Hostile : public testing::PerLevel {
protected:
    void SetUp() override {
        PerLevel::SetUp();
        ASSERT_EQ(sig_select_level(P().level), 0);
        // The byte interface signs with the public row of the last sig_keygen, so
        // the key pair under test comes from there.
        Bytes pk(sig_public_key_bytes()), sk(sig_secret_key_bytes());
        ASSERT_EQ(sig_keygen(pk.data(), sk.data()), 0);
        pk_ = pk;
        sk_ = secret(sk);
    }
    void TearDown() override { ASSERT_EQ(sig_select_level(P().level), 0); }

    Level level() const { return static_cast<Level>(P().level); }
    Level other_level() const { return level() == Level::L128 ? Level::L256 : Level::L128; }

    Bytes pk_;
    SecretBytes sk_;
};

// Every entry point on the same inputs: the C++ API, the byte interface and
// the in-memory Verify.
void run_case(const Case& c, const ParamSet& p, const Bytes& sig_keygen_pk) {
    SCOPED_TRACE(c.name);
    expect_outcome(c.vk, "VerifyingKey::from_bytes", [&] {
        const VerifyingKey key = VerifyingKey::from_bytes(c.pk);
        EXPECT_EQ(key.to_bytes(), c.pk) << "a key that loads writes back the same bytes";
        return false;
    });
    expect_outcome(c.verify, "verify", [&] { return verify(c.pk, c.sig, c.msg); });
    if (!c.vk.error)
        expect_outcome(c.verify, "VerifyingKey::verify",
                       [&] { return VerifyingKey::from_bytes(c.pk).verify(c.sig, c.msg); });

    if (c.signing) {
        expect_outcome(*c.signing, "SigningKey", [&] {
            const SigningKey key = SigningKey::from_bytes(c.sk, c.pk);
            const Bytes s = key.sign(c.msg);
            return s.size() == p.signature_bytes() && verify(c.pk, s, c.msg) && key.verifying_key().verify(s, c.msg);
        });
        expect_outcome(*c.signing, "sign", [&] {
            const Bytes s = sign(c.sk, c.pk, c.msg);
            return verify(c.pk, s, c.msg);
        });
    }

    if (c.c_pk && c.c_sig) {
        ASSERT_EQ(c.c_pk->size(), p.public_key_bytes());
        ASSERT_EQ(c.c_sig->size(), c.c_siglen);
        // A heap block of exactly siglen bytes (never null), so that the
        // sanitizers catch any read past it.
        const std::unique_ptr<unsigned char[]> exact(new unsigned char[c.c_sig->size()]);
        std::copy(c.c_sig->begin(), c.c_sig->end(), exact.get());
        EXPECT_EQ(sig_verf(c.c_pk->data(), exact.get(), c.c_siglen, data_or_null(c.msg), c.msg.size()), c.c_verf)
            << "sig_verf";
        if (c.c_sig->size() == p.signature_bytes()) {
            EXPECT_EQ(Verify(row_of(*c.c_pk, p), row_of(*c.c_sig, p), data_or_null(c.msg), c.msg.size()), c.mem_verify)
                << "Verify";
        }
    }

    if (c.c_sign && c.c_sk) {
        ASSERT_EQ(c.c_sk->size(), p.secret_key_bytes());
        const std::size_t size = p.signature_bytes();
        std::vector<unsigned char> out(size + 16, 0xEE);  // canary bytes behind the signature
        std::uint64_t siglen = 12345;
        const std::int32_t rc = sig_sign(c.c_sk->data(), data_or_null(c.msg), c.msg.size(), out.data(), &siglen);
        for (std::size_t i = size; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "sig_sign wrote past the signature";
        if (*c.c_sign) {
            EXPECT_EQ(rc, 0) << "sig_sign";
            EXPECT_EQ(siglen, size);
            EXPECT_EQ(sig_verf(sig_keygen_pk.data(), out.data(), siglen, data_or_null(c.msg), c.msg.size()), 1)
                << "sig_sign made a signature that does not verify";
        } else {
            EXPECT_NE(rc, 0) << "sig_sign";
            EXPECT_EQ(siglen, 0u);
            EXPECT_TRUE(std::all_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size),
                                    [](unsigned char b) { return b == 0; }))
                << "a failed sig_sign leaves a zeroed signature area";
        }
    }
}

TEST_P(Hostile, EveryEntryPointGivesTheDocumentedOutcome) {
    const ParamSet& p = P();
    const auto nn = static_cast<std::size_t>(p.n);
    const auto kk = static_cast<std::size_t>(p.k);
    const std::int64_t q = p.q, half = (q - 1) / 2;
    const auto congruent = [q](std::int64_t a, std::int64_t b) { return centred_mod(a - b, q) == 0; };

    const SigningKey signer = SigningKey::from_bytes(sk_, pk_);
    const Bytes msg = text("a message under attack");
    const Bytes sig = signer.sign(msg);
    const KeyPair stranger = generate_keypair(level());
    const KeyPair foreign = generate_keypair(other_level());
    const Bytes foreign_sig = sign(foreign.secret_key, foreign.public_key, msg);

    Case honest;
    honest.name = "honest inputs";
    honest.pk = pk_, honest.sig = sig, honest.msg = msg, honest.sk = sk_;
    honest.c_pk = pk_, honest.c_sig = sig, honest.c_sk = plain(sk_);
    honest.c_siglen = sig.size();
    honest.verify = returns(true);
    honest.signing = returns(true);
    honest.c_sign = true;

    std::vector<Case> cases{honest};
    const auto add = [&](const std::string& name, auto&& edit) {
        Case c = honest;
        c.name = name;
        c.signing.reset();  // only cases that change the key or the message sign again
        c.c_sign.reset();
        edit(c);
        cases.push_back(std::move(c));
    };

    // --- Public keys -------------------------------------------------------
    const std::size_t a1 = nn;  // coefficient 0 of entry A_1
    const std::int64_t a10 = get(pk_, a1);
    const auto pk_size = [&](const std::string& name, Bytes bad) {
        add(name, [&](Case& c) {
            c.pk = bad;
            c.c_pk.reset();
            c.vk = c.verify = fails(Errc::bad_public_key_size);
            c.signing = fails(Errc::bad_public_key_size);
        });
    };
    pk_size("public key of 0 bytes", Bytes{});
    pk_size("public key one byte short", Bytes(pk_.begin(), pk_.end() - 1));
    pk_size("public key one byte long", fitted(pk_, pk_.size() + 1));
    pk_size("public key one coefficient long", fitted(pk_, pk_.size() + 4));

    // Right size, but not a key the generator can have written. The in-memory
    // Verify takes rows as they are (reduced), so it accepts exactly the rows
    // that are congruent to the real key.
    const auto malformed = [&](const std::string& name, Bytes bad, bool mem_accepts) {
        add(name, [&](Case& c) {
            c.pk = bad;
            c.c_pk = bad;
            c.vk = c.verify = fails(Errc::malformed_public_key);
            c.signing = fails(Errc::malformed_public_key);
            c.c_verf = 0;
            c.mem_verify = mem_accepts ? 1 : 0;
        });
    };
    const auto with_coeff = [&](std::size_t index, std::int64_t value) {
        Bytes b = pk_;
        put(b, index, value);
        return b;
    };
    malformed("public key all zero", filled<Bytes>(pk_.size(), 0x00), false);
    malformed("public key all 0xFF", filled<Bytes>(pk_.size(), 0xFF), false);
    {
        Bytes b = pk_;
        put_raw(b, 1, 0, 0, 0, 0x80);  // A_0 coefficient 1 as "negative zero"
        malformed("public key with a negative zero in A_0", b, true);
    }
    for (const std::int64_t v : {kMaxMagnitude, -kMaxMagnitude, half + 1, -half - 1, q, -q})
        malformed("public key coefficient " + std::to_string(v), with_coeff(a1, v), congruent(v, a10));
    malformed("public key coefficient shifted by +q", with_coeff(a1, a10 + q), true);
    malformed("public key coefficient shifted by -q", with_coeff(a1, a10 - q), true);
    malformed("public key whose first entry is 0", with_coeff(0, 0), false);
    malformed("public key whose first entry is 2", with_coeff(0, 2), false);
    malformed("public key whose first entry is -1", with_coeff(0, -1), false);
    malformed("public key whose first entry is 1 + x", with_coeff(1, 1), false);
    malformed("public key whose first entry is 1 + q", with_coeff(0, 1 + q), true);
    malformed("signature in the public-key slot", sig, false);

    add("public key of the other level", [&](Case& c) {
        c.pk = foreign.public_key;
        c.c_pk = fitted(foreign.public_key, pk_.size());
        c.vk = returns(false);  // a valid key, just not of this level
        c.verify = fails(Errc::bad_signature_size);
        c.signing = fails(Errc::level_mismatch);
        c.c_verf = c.mem_verify = 0;
    });
    add("public key of another key pair", [&](Case& c) {
        c.pk = stranger.public_key;
        c.c_pk = stranger.public_key;
        c.verify = returns(false);
        c.signing = fails(Errc::key_mismatch);
        c.c_verf = c.mem_verify = 0;
    });
    {
        std::size_t j = a1;
        while (std::abs(get(pk_, j)) > q / 4) ++j;  // stays in range when bit 0 flips
        Bytes b = pk_;
        b[4 * j] ^= 0x01;
        add("public key with one bit flipped", [&](Case& c) {
            c.pk = b;
            c.c_pk = b;
            c.verify = returns(false);
            c.signing = fails(Errc::key_mismatch);
            c.c_verf = c.mem_verify = 0;
        });
    }

    // --- Signatures --------------------------------------------------------
    // Every length but the level's is invalid, and sig_verf reads none of it.
    for (const std::size_t size : {std::size_t{0}, std::size_t{4}, sig.size() - 1, sig.size() + 1}) {
        add("signature of " + std::to_string(size) + " bytes", [&](Case& c) {
            c.sig = c.c_sig.emplace(fitted(sig, size));
            c.c_siglen = size;
            c.verify = fails(Errc::bad_signature_size);
            c.c_verf = 0;
        });
    }
    add("signature of the other level", [&](Case& c) {
        c.sig = c.c_sig.emplace(foreign_sig);
        c.c_siglen = foreign_sig.size();
        c.verify = fails(Errc::bad_signature_size);
        c.c_verf = 0;
    });
    // Bytes carry exactly one encoding of a signature (the signer's); the
    // in-memory Verify works on numbers and reduces them, so it accepts every
    // congruent row (mem_valid).
    const auto sig_case = [&](const std::string& name, Bytes s, bool valid, std::optional<bool> mem_valid = {}) {
        add(name, [&](Case& c) {
            c.sig = s;
            c.c_sig = s;
            c.verify = returns(valid);
            c.c_verf = valid ? 1 : 0;
            c.mem_verify = mem_valid.value_or(valid) ? 1 : 0;
        });
    };
    sig_case("signature all zero", filled<Bytes>(sig.size(), 0x00), false);
    sig_case("signature all 0xFF", filled<Bytes>(sig.size(), 0xFF), false);
    {
        Bytes b(sig.size(), 0);
        for (std::size_t i = 0; i < b.size() / 4; ++i) b[4 * i + 3] = 0x80;
        sig_case("signature of negative zeros only", b, false);
    }
    std::size_t nz = 0;  // a non-zero coefficient of x_0
    while (get(sig, nz) == 0) ++nz;
    const std::int64_t x = get(sig, nz);
    const auto sig_with = [&](std::int64_t value) {
        Bytes b = sig;
        put(b, nz, value);
        return b;
    };
    // Another encoding of the same numbers modulo q is not a second valid signature.
    for (const std::int64_t shift : {q, -q, 2 * q, -2 * q})
        sig_case("signature coefficient shifted by " + std::to_string(shift / q) + "q", sig_with(x + shift), false, true);
    sig_case("signature coefficient 2^31-1", sig_with(kMaxMagnitude), false, congruent(kMaxMagnitude, x));
    sig_case("signature coefficient -(2^31-1)", sig_with(-kMaxMagnitude), false, congruent(-kMaxMagnitude, x));
    sig_case("signature coefficient (q-1)/2 + 1", sig_with(half + 1), false, congruent(half + 1, x));
    for (std::size_t j = 0; j < sig.size() / 4; ++j)
        if (get(sig, j) == 0) {
            Bytes b = sig;
            put_raw(b, j, 0, 0, 0, 0x80);
            sig_case("signature with a negative zero", b, false, true);
            break;
        }
    sig_case("signature coefficient negated", sig_with(-x), false);
    {
        Bytes b = sig;
        b[b.size() - 4] ^= 0x01;
        sig_case("signature with one byte changed in the last entry", b, false);
    }
    sig_case("public key in the signature slot", pk_, false);
    {
        // x = (H(m), 0, ..., 0) solves A x = H(m), since A_0 = 1: only the norm
        // bound tells it from a real signature.
        std::vector<std::int64_t> forged((kk + 2) * nn, 0);
        Hash(msg.data(), msg.size(), p.n, q, forged.data());
        Bytes b(sig.size());
        encode_coeffs(forged.data(), forged.size(), b.data());
        sig_case("forgery (H(m), 0, ..., 0)", b, false);
    }
    {
        // x + (-a, 1, 0, ..., 0) still solves the equation (A_0 = 1, A_1 = a) but is long.
        Bytes b = sig;
        for (std::size_t j = 0; j < nn; ++j) put(b, j, centred_mod(get(sig, j) - get(pk_, a1 + j), q));
        put(b, a1, centred_mod(get(sig, a1) + 1, q));
        sig_case("honest signature moved along the kernel by (-a, 1, 0, ...)", b, false);
    }
    sig_case("signature of another message", signer.sign(text("another message")), false);
    sig_case("signature made with another key pair", sign(stranger.secret_key, stranger.public_key, msg), false);

    // --- Secret keys -------------------------------------------------------
    const auto sk_size = [&](const std::string& name, SecretBytes bad) {
        add(name, [&](Case& c) {
            c.sk = bad;
            c.c_sk.reset();
            c.signing = fails(Errc::bad_secret_key_size);
        });
    };
    sk_size("secret key of 0 bytes", SecretBytes{});
    sk_size("secret key one byte short", SecretBytes(sk_.begin(), sk_.end() - 1));
    sk_size("secret key one byte long", fitted(sk_, sk_.size() + 1));
    const auto sk_case = [&](const std::string& name, SecretBytes s, bool matches, Errc error = Errc::key_mismatch) {
        add(name, [&](Case& c) {
            c.sk = s;
            c.c_sk = plain(s);
            c.signing = matches ? returns(true) : fails(error);
            c.c_sign = matches;
        });
    };
    const auto sk_malformed = [&](const std::string& name, SecretBytes s) {
        sk_case(name, std::move(s), false, Errc::malformed_secret_key);
    };
    const auto sk_with = [&](std::size_t index, std::int64_t value) {
        SecretBytes b = sk_;
        put(b, index, value);
        return b;
    };
    sk_case("secret key all zero", filled<SecretBytes>(sk_.size(), 0x00), false);
    sk_malformed("secret key all 0xFF", filled<SecretBytes>(sk_.size(), 0xFF));
    sk_malformed("secret key coefficient 2^31-1", sk_with(0, kMaxMagnitude));
    sk_malformed("secret key coefficient -(2^31-1)", sk_with(kk * nn, -kMaxMagnitude));
    sk_case("secret key coefficient off by one", sk_with(0, get(sk_, 0) + (get(sk_, 0) < 0 ? 1 : -1)), false);
    // Only the generator's encoding of its own range loads: not the same
    // trapdoor moved by q, not a negative zero.
    sk_malformed("secret key coefficient shifted by +q", sk_with(0, get(sk_, 0) + q));
    sk_malformed("secret key coefficient shifted by -q", sk_with(kk * nn + 1, get(sk_, kk * nn + 1) - q));
    for (std::size_t j = 0; j < kk * nn; ++j)
        if (get(sk_, j) == 0) {
            SecretBytes b = sk_;
            put_raw(b, j, 0, 0, 0, 0x80);
            sk_malformed("secret key with a negative zero", b);
            break;
        }
    {
        SecretBytes b(sk_.size());
        const std::size_t half_size = sk_.size() / 2;
        std::copy(sk_.begin() + static_cast<std::ptrdiff_t>(half_size), sk_.end(), b.begin());
        std::copy(sk_.begin(), sk_.begin() + static_cast<std::ptrdiff_t>(half_size), b.begin() + static_cast<std::ptrdiff_t>(half_size));
        sk_case("secret key with T0 and T1 swapped", b, false);
    }
    sk_case("secret key of another key pair", stranger.secret_key, false);
    add("secret key of the other level", [&](Case& c) {
        c.sk = foreign.secret_key;
        c.c_sk = plain(fitted(foreign.secret_key, sk_.size()));
        c.signing = fails(Errc::level_mismatch);
        c.c_sign = false;
    });

    // --- Messages ----------------------------------------------------------
    const auto message_case = [&](const std::string& name, Bytes m) {
        add(name, [&](Case& c) {
            c.msg = m;
            c.sig = signer.sign(m);
            c.c_sig = c.sig;
            c.signing = returns(true);
            c.c_sign = true;
        });
    };
    message_case("empty message", Bytes{});
    {
        Bytes every(256);
        for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
        message_case("message with every byte value", every);
    }
    add("message one byte short", [&](Case& c) {
        c.msg.pop_back();
        c.verify = returns(false);
        c.c_verf = c.mem_verify = 0;
    });
    add("message one byte long", [&](Case& c) {
        c.msg.push_back(0);
        c.verify = returns(false);
        c.c_verf = c.mem_verify = 0;
    });

    for (const Case& c : cases) run_case(c, p, pk_);
}

// Loading a secret key checks that its trapdoor is one key generation can
// produce: every coefficient within trapdoor_coeff_bound, which the generator
// reaches exactly (first draws 0 and 1: cosine 1, widest radius). A made-up
// pair with the public key its trapdoor implies passes the key-pair check, so
// only the bound tells it apart.
TEST_P(Hostile, SecretKeysBeyondWhatKeyGenerationMakesAreMalformed) {
    const ParamSet& p = P();
    const auto kk = static_cast<std::size_t>(p.k), nn = static_cast<std::size_t>(p.n);
    const std::int64_t bound = core::trapdoor_coeff_bound(p);
    {
        const testing::ScriptedDraws draws(3, {0, 1});
        const KeyPair kp = generate_keypair(level());
        EXPECT_EQ(get(kp.secret_key, 0), bound) << "the bound is what the generator makes at its extreme";
    }
    // T0 = (v, 0, ...), T1 = 0: A_(i+2) = 2^i - T0_i.
    const auto made_up = [&](std::int64_t v) {
        KeyPair kp{level(), pk_, SecretBytes(sk_.size(), 0)};
        put(kp.secret_key, 0, v);
        for (std::size_t i = 0; i < kk; ++i)
            for (std::size_t j = 0; j < nn; ++j) put(kp.public_key, (i + 2) * nn + j, 0);
        for (std::size_t i = 0; i < kk; ++i) put(kp.public_key, (i + 2) * nn, centred_mod(std::int64_t{1} << i, p.q));
        put(kp.public_key, 2 * nn, centred_mod(1 - v, p.q));
        return kp;
    };
    const Bytes msg = text("made up");
    const KeyPair edge = made_up(bound);
    EXPECT_TRUE(verify(edge.public_key, sign(edge.secret_key, edge.public_key, msg), msg));
    for (const std::int64_t v : {bound + 1, -(bound + 1), (p.q - 1) / 2}) {
        SCOPED_TRACE(v);
        const KeyPair bad = made_up(v);
        expect_outcome(fails(Errc::malformed_secret_key), "SigningKey::from_bytes",
                       [&] { return SigningKey::from_bytes(bad.secret_key, bad.public_key).level() == level(); });
    }
}

// The in-memory Verify takes rows of any 64-bit coefficients, which no byte
// string can carry: it reduces them, so congruent rows give the same answer and
// nothing overflows.
TEST_P(Hostile, InMemoryVerifyReducesAnyCoefficient) {
    const ParamSet& p = P();
    const Bytes msg = text("records");
    const Bytes sig = SigningKey::from_bytes(sk_, pk_).sign(msg);
    const mat_poly_R A = row_of(pk_, p), x = row_of(sig, p);
    ASSERT_EQ(Verify(A, x, msg.data(), msg.size()), 1);

    constexpr std::int64_t lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max();
    struct Edit {
        const char* name;
        bool in_key;
        std::int64_t (*value)(std::int64_t original, std::int64_t q);
        bool valid;
    };
    const Edit edits[] = {
        {"x coefficient INT64_MIN", false, [](std::int64_t, std::int64_t) { return lo; }, false},
        {"x coefficient INT64_MAX", false, [](std::int64_t, std::int64_t) { return hi; }, false},
        {"x coefficient moved by q 2^32", false, [](std::int64_t v, std::int64_t q) { return v + (q << 32); }, true},
        {"x coefficient moved by -q 2^32", false, [](std::int64_t v, std::int64_t q) { return v - (q << 32); }, true},
        {"A coefficient INT64_MIN", true, [](std::int64_t, std::int64_t) { return lo; }, false},
        {"A coefficient INT64_MAX", true, [](std::int64_t, std::int64_t) { return hi; }, false},
        {"A coefficient moved by q 2^32", true, [](std::int64_t v, std::int64_t q) { return v + (q << 32); }, true},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.name);
        const mat_poly_R A2 = row_of(pk_, p), x2 = row_of(sig, p);
        // Coefficient 3 of entry 1: non-zero in every key and almost every signature.
        std::int64_t& c = (e.in_key ? A2 : x2).entries[1].coeffs[3];
        const std::int64_t before = c;
        c = e.value(before, p.q);
        const bool valid = e.valid || centred_mod(c, p.q) == centred_mod(before, p.q);
        EXPECT_EQ(Verify(A2, x2, msg.data(), msg.size()), valid ? 1 : 0);
    }
    // Rows of the wrong shape are invalid, not read past their end.
    const mat_poly_R short_x = make_row(flatten_row(x).data(), p.k + 1, p.n);
    EXPECT_EQ(Verify(A, short_x, msg.data(), msg.size()), 0);
    EXPECT_EQ(Verify(short_x, x, msg.data(), msg.size()), 0);
    EXPECT_EQ(Verify(A, mat_poly_R{}, msg.data(), msg.size()), 0);
    EXPECT_EQ(Verify(A, x, nullptr, 1), 0);
}

// The byte interface's pointers and process-wide state: null pointers and a
// level switched under a key pair fail cleanly.
TEST_P(Hostile, ByteInterfaceRejectsNullPointersAndStaleState) {
    const ParamSet& p = P();
    const Bytes msg = text("state");
    Bytes sig(p.signature_bytes());
    std::uint64_t siglen = 0;
    const Bytes sk = plain(sk_);
    ASSERT_EQ(sig_sign(sk.data(), msg.data(), msg.size(), sig.data(), &siglen), 0);

    EXPECT_EQ(sig_verf(nullptr, sig.data(), siglen, msg.data(), msg.size()), 0);
    EXPECT_EQ(sig_verf(pk_.data(), nullptr, siglen, msg.data(), msg.size()), 0);
    EXPECT_EQ(sig_verf(pk_.data(), sig.data(), siglen, nullptr, msg.size()), 0);
    Bytes empty_sig(p.signature_bytes());
    ASSERT_EQ(sig_sign(sk.data(), nullptr, 0, empty_sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk_.data(), empty_sig.data(), siglen, nullptr, 0), 1);

    Bytes out(p.signature_bytes(), 0x55);
    siglen = 99;
    EXPECT_NE(sig_sign(nullptr, msg.data(), msg.size(), out.data(), &siglen), 0);
    EXPECT_EQ(siglen, 0u);
    siglen = 99;
    EXPECT_NE(sig_sign(sk.data(), nullptr, 1, out.data(), &siglen), 0);
    EXPECT_EQ(siglen, 0u);
    EXPECT_NE(sig_sign(sk.data(), msg.data(), msg.size(), nullptr, &siglen), 0);
    EXPECT_NE(sig_sign(sk.data(), msg.data(), msg.size(), out.data(), nullptr), 0);

    // Switching the level keeps the key pair of the old level: signing at the
    // new level has no public row to use, and the old key reads as malformed.
    const int other = p.level == 128 ? 256 : 128;
    ASSERT_EQ(sig_select_level(other), 0);
    Bytes big_sk = fitted(sk, sig_secret_key_bytes()), big_out(sig_signature_bytes() + 16, 0xEE);
    siglen = 99;
    EXPECT_NE(sig_sign(big_sk.data(), msg.data(), msg.size(), big_out.data(), &siglen), 0);
    EXPECT_EQ(siglen, 0u);
    EXPECT_TRUE(std::all_of(big_out.begin(), big_out.end() - 16, [](unsigned char b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(big_out.end() - 16, big_out.end(), [](unsigned char b) { return b == 0xEE; }));
    const Bytes big_pk = fitted(pk_, sig_public_key_bytes()), big_sig = fitted(sig, sig_signature_bytes());
    EXPECT_EQ(sig_verf(big_pk.data(), big_sig.data(), big_sig.size(), msg.data(), msg.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, Hostile, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
