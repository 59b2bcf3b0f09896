// Signing through the C++ API with a valid key pair (the reference pair of
// each level, made once at start-up) and arbitrary messages.
//
// Input: byte 0 bit 0 selects level 256; the rest is the message. The draw
// source is seeded from the input, so a saved input replays exactly.
//
// Checks: the signature has the level's size and is canonically encoded
// (centred coefficients, no negative zero), it verifies under the prepared and
// the one-shot verifier, and it fails for the message with a byte appended or
// its last byte changed.
#include <cstdint>

#include "fuzz_support.h"

using namespace ringtrap;
using namespace ringtrap::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Level level = (in.byte() & 1) ? Level::L256 : Level::L128;
    const ParamSet& p = params_of(level);
    const Reference& ref = reference(level);
    static const SigningKey keys[2] = {
        SigningKey::from_bytes(reference(Level::L128).pair.secret_key, reference(Level::L128).pair.public_key),
        SigningKey::from_bytes(reference(Level::L256).pair.secret_key, reference(Level::L256).pair.public_key)};
    const SigningKey& key = keys[level == Level::L256 ? 1 : 0];

    Bytes msg = to_bytes(in.rest());
    seed_draws(input_hash(data, size));
    const Bytes sig = key.sign(msg);
    check(sig.size() == p.signature_bytes(), "signature size");
    const std::int64_t half = (p.q - 1) / 2;
    for (std::size_t i = 0; i < sig.size(); i += 4)
        check(is_canonical_coeff(sig.data() + i, half), "signature coefficients are canonically encoded");
    check(key.verifying_key().verify(sig, msg), "the prepared verifier accepts a fresh signature");
    check(verify(ref.pair.public_key, sig, msg), "the one-shot verifier accepts a fresh signature");

    msg.push_back(0);
    check(!key.verifying_key().verify(sig, msg), "accepted with a byte appended to the message");
    msg.pop_back();
    if (!msg.empty()) {
        msg.back() ^= 0x01;
        check(!key.verifying_key().verify(sig, msg), "accepted with the message's last byte changed");
    }
    return 0;
}
