// The C++ API's decoders and verifier on inputs of any length:
// VerifyingKey::from_bytes, SigningKey::from_bytes, verify and the one-shot
// forms. Only ringtrap::Error may be thrown (anything else escapes and is a
// crash), with the code the lengths and contents call for.
//
// Input: byte 0 selects the call (low two bits) and, for the edited form, the
// level (bit 2). Raw forms: two 3-byte lengths, then two objects of those
// lengths (fewer bytes if the input ends), then the message.
//   0: VerifyingKey::from_bytes(first), then verify(second, message)
//   1: SigningKey::from_bytes(first as secret key, second as public key), then sign
//   2: edited form: one byte of edit count, then edits (3-byte position, XOR
//      mask) applied to the reference secret key and public key, then
//      SigningKey::from_bytes and sign; the rest of the input is the message.
#include <cstdint>
#include <optional>

#include "fuzz_support.h"
#include "tool_args.h"
#include "util.h"

using namespace ringtrap;
using namespace ringtrap::fuzz;

namespace {

void decode_and_verify(std::span<const std::uint8_t> pk, std::span<const std::uint8_t> sig,
                       std::span<const std::uint8_t> msg) {
    const std::optional<Level> level = level_of_public_key_size(pk.size());
    std::optional<VerifyingKey> key;
    std::optional<Errc> key_error;
    try {
        key = VerifyingKey::from_bytes(pk);
        check(level.has_value(), "a key of no level's size was accepted");
    } catch (const Error& e) {
        key_error = e.code();
        check(e.code() == (level ? Errc::malformed_public_key : Errc::bad_public_key_size),
              "VerifyingKey::from_bytes: error code fits the input");
    }

    // The one-shot form throws exactly when the prepared key does.
    std::optional<bool> one_shot;
    std::optional<Errc> one_shot_error;
    try {
        one_shot = verify(pk, sig, msg);
    } catch (const Error& e) {
        one_shot_error = e.code();
    }
    if (!key) {
        check(one_shot_error == key_error, "one-shot verify fails as the key does");
        return;
    }

    check(key->level() == *level, "key level from its size");
    check(key->to_bytes() == to_bytes(pk), "a key that loads writes back the same bytes");
    const std::optional<cli::FileInfo> info = cli::classify_file(pk);
    check(info && info->kind == cli::ObjectKind::public_key && info->level == *level,
          "the tool recognises a loadable key as a public key of its level");
    try {
        const bool valid = key->verify(sig, msg);
        check(sig.size() == params_of(*level).signature_bytes(), "a signature of the wrong size was verified");
        check(one_shot == valid, "one-shot and prepared verification agree");
    } catch (const Error& e) {
        check(e.code() == Errc::bad_signature_size && sig.size() != params_of(*level).signature_bytes(),
              "VerifyingKey::verify: only a wrong size is an error");
        check(one_shot_error == Errc::bad_signature_size, "one-shot verify reports the same error");
    }
}

// The error SigningKey::from_bytes must report for these lengths, if the
// lengths alone decide it.
std::optional<Errc> size_error(std::size_t sk_size, std::size_t pk_size) {
    const std::optional<Level> sk_level = level_of_secret_key_size(sk_size);
    const std::optional<Level> pk_level = level_of_public_key_size(pk_size);
    if (!sk_level) return Errc::bad_secret_key_size;
    if (!pk_level) return Errc::bad_public_key_size;
    if (*sk_level != *pk_level) return Errc::level_mismatch;
    return std::nullopt;
}

// Loads the pair and, if it loads, signs the message; the signature must
// verify under the public key. Returns whether the pair loaded.
bool load_and_sign(std::span<const std::uint8_t> sk, std::span<const std::uint8_t> pk,
                   std::span<const std::uint8_t> msg, std::uint64_t seed) {
    const std::optional<Errc> expected = size_error(sk.size(), pk.size());
    std::optional<Errc> got;
    try {
        const SigningKey key = SigningKey::from_bytes(sk, pk);
        seed_draws(seed);
        const Bytes sig = key.sign(msg);
        check(verify(pk, sig, msg), "a signature from a loaded key pair verifies");
    } catch (const Error& e) {
        got = e.code();
    }
    if (expected) {
        check(got == expected, "SigningKey::from_bytes: size errors come first, in order");
    } else if (got) {
        check(*got == Errc::malformed_public_key || *got == Errc::malformed_secret_key || *got == Errc::key_mismatch,
              "SigningKey::from_bytes: a pair of the right sizes fails only on its content");
        // The one-shot form fails the same way, before any signing.
        try {
            (void)sign(sk, pk, msg);
            check(false, "one-shot sign accepted a pair that does not load");
        } catch (const Error& e) {
            check(e.code() == *got, "one-shot sign reports the same error");
        }
    }
    return !got.has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t mode = in.byte();
    const std::uint64_t seed = input_hash(data, size);
    switch (mode & 3) {
        case 0:
        case 3: {
            const std::size_t n1 = in.u24(), n2 = in.u24();
            const auto pk = in.take(n1);
            const auto sig = in.take(n2);
            decode_and_verify(pk, sig, in.rest());
            break;
        }
        case 1: {
            const std::size_t n1 = in.u24(), n2 = in.u24();
            const auto sk = in.take(n1);
            const auto pk = in.take(n2);
            load_and_sign(sk, pk, in.rest(), seed);
            break;
        }
        case 2: {
            const Level level = (mode & 4) ? Level::L256 : Level::L128;
            const Reference& ref = reference(level);
            SecretBytes sk = ref.pair.secret_key;
            Bytes pk = ref.pair.public_key;
            apply_edits(in, in.byte(), sk, pk);
            const Bytes msg = to_bytes(in.rest());
            if (load_and_sign(sk, pk, msg, seed) && pk == ref.pair.public_key) {
                // Under the real public key only the real trapdoor, in its one
                // encoding, loads.
                check(sk == ref.pair.secret_key, "a secret key that is not the real trapdoor loaded");
            }
            break;
        }
    }
    return 0;
}
