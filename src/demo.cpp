#include "demo.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "RandomGenerator.h"
#include "ringtrap.h"
#include "sig_api.h"

namespace ringtrap {

int run_demonstration() {
    // The draw source is keyed from operating-system entropy on first use; a
    // clock-seeded generator would make the keys predictable.
    if (sig_select_level(128) != 0) return 1;
    std::vector<unsigned char> pk(sig_public_key_bytes()), sig(sig_signature_bytes());
    SecretBytes sk(sig_secret_key_bytes());
    unsigned char message[100];
    for (unsigned char& byte : message) byte = static_cast<unsigned char>(draw() % 256);
    std::uint64_t siglen = 0;
    std::int32_t result = 0;
    if (sig_keygen(pk.data(), sk.data()) == 0 && sig_sign(sk.data(), message, sizeof message, sig.data(), &siglen) == 0)
        result = sig_verf(pk.data(), sig.data(), siglen, message, sizeof message);
    std::printf("%d", static_cast<int>(result));
    std::fflush(stdout);
    return result == 1 ? 0 : 1;
}

}  // namespace ringtrap
