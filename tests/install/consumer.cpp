// A C++ program using the installed library: key pair, signature, verification,
// rejection of a changed message, and an error thrown across the library
// boundary. Exit status 0 when everything holds; the failed check otherwise.
#include <ringtrap.h>
#include <sig_api.h>

#include <cstdio>
#include <cstring>

#ifdef RINGTRAP_NODISCARD
#error "sig_api.h leaks its attribute macro"
#endif
#if defined(RINGTRAP_API) || defined(RINGTRAP_C_API)
#error "a public header leaks its export macro"
#endif

namespace {

int failed(const char* what) {
    std::fprintf(stderr, "consumer (C++): %s\n", what);
    return 1;
}

}  // namespace

int main() {
#ifdef EXPECTED_VERSION
    if (std::strcmp(ringtrap::version(), EXPECTED_VERSION) != 0) return failed("ringtrap::version() differs from the package version");
#endif

    const ringtrap::Level level = ringtrap::Level::L128;
    const ringtrap::Sizes sizes = ringtrap::sizes(level);
    const ringtrap::KeyPair pair = ringtrap::generate_keypair(level);
    if (pair.public_key.size() != sizes.public_key || pair.secret_key.size() != sizes.secret_key)
        return failed("key sizes");

    const ringtrap::SigningKey key = ringtrap::SigningKey::from_bytes(pair.secret_key, pair.public_key);
    ringtrap::Bytes message{'i', 'n', 's', 't', 'a', 'l', 'l', 'e', 'd'};
    const ringtrap::Bytes signature = key.sign(message);
    if (signature.size() != sizes.signature) return failed("signature size");
    if (!ringtrap::verify(pair.public_key, signature, message)) return failed("a fresh signature does not verify");
    message[0] ^= 1;
    if (key.verifying_key().verify(signature, message)) return failed("a changed message verifies");

    // The exception type must survive the trip out of the library (typeinfo
    // shared between library and program).
    try {
        (void)ringtrap::VerifyingKey::from_bytes(message);
        return failed("a 9-byte public key was accepted");
    } catch (const ringtrap::Error& e) {
        if (e.code() != ringtrap::Errc::bad_public_key_size) return failed("wrong error code for a short public key");
    }

    // The C interface from C++ agrees on the sizes.
    if (sig_select_level(128) != 0 || sig_public_key_bytes() != sizes.public_key ||
        sig_secret_key_bytes() != sizes.secret_key || sig_signature_bytes() != sizes.signature)
        return failed("C and C++ interfaces disagree on sizes");
    return 0;
}
