// The constant-time check of the key-independent levels through the public
// API, run under valgrind's memcheck by `make ct`:
//
//   valgrind --error-exitcode=42 build-ct/ringtrap_ct_api            # must report nothing
//   valgrind --error-exitcode=42 build-ct/ringtrap_ct_api --toy-leak # must be reported
//
// Secrets are marked as undefined memory: the library marks key generation's
// words, a loaded secret key and signing's words itself (see ct.h); this
// program also marks the secret-key bytes it hands over, as an outside
// reviewer would. memcheck then reports every branch, memory index or system
// call that depends on them. Key generation, key loading and a few signatures
// run at S128 and S256 with the ordinary library.
//
// --toy-leak runs, after the real work, a deliberately leaky toy function of
// this program (a table lookup and a branch on a secret byte). memcheck must
// report it: that shows the marking reaches the code it is meant to check.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ct.h"
#include "ringtrap.h"

namespace {

int check_level(ringtrap::Level level) {
    using namespace ringtrap;
    const KeyPair kp = generate_keypair(level);
    SecretBytes secret = kp.secret_key;
    ct::secret(secret.data(), secret.size());
    const SigningKey key = SigningKey::from_bytes(secret, kp.public_key);
    int valid = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string m = "constant time " + std::to_string(i);
        const std::vector<std::uint8_t> msg(m.begin(), m.end());
        valid += verify(kp.public_key, key.sign(msg), msg) ? 1 : 0;
    }
    // A preimage of an arbitrary target, as identity-based constructions use it.
    const std::vector<std::int64_t> target(static_cast<std::size_t>(parameters(level).n), 7);
    const std::size_t len = key.sample_preimage(target).size();
    std::printf("%s: %d of 3 signatures valid, preimage of %zu coefficients\n", level_name(level), valid, len);
    return valid == 3 ? 0 : 1;
}

// Everything a constant-time implementation must not do, on one secret byte.
__attribute__((noinline)) int leaky_toy(const unsigned char* secret_byte) {
    static const int table[256] = {1, 2, 3};
    int out = table[*secret_byte];     // an address that depends on the secret
    if (*secret_byte & 1) out += 7;    // a branch that depends on the secret
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const bool toy_leak = argc > 1 && std::strcmp(argv[1], "--toy-leak") == 0;
    if (!ringtrap::ct::under_valgrind()) std::fprintf(stderr, "note: not under valgrind; nothing is checked\n");
    int rc = check_level(ringtrap::Level::S128);
    rc |= check_level(ringtrap::Level::S256);
    if (toy_leak) {
        unsigned char secret = 0x5a;
        ringtrap::ct::secret(&secret, 1);
        std::printf("toy leak: %d\n", ringtrap::ct::declassified(leaky_toy(&secret)) > 0 ? 1 : 0);
    }
    return rc;
}
