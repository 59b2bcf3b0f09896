#include "demo.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "ringtrap.h"
#include "sig_api.h"

namespace ringtrap {

int run_demonstration() {
    // The library's draws come from operating-system entropy; so does the
    // message (a clock-seeded generator would be predictable).
    if (sig_select_level(128) != 0) return 1;
    std::vector<unsigned char> pk(sig_public_key_bytes()), sig(sig_signature_bytes());
    SecretBytes sk(sig_secret_key_bytes());
    unsigned char message[100];
    std::random_device entropy;
    for (unsigned char& byte : message) byte = static_cast<unsigned char>(entropy() & 0xff);
    std::uint64_t siglen = 0;
    std::int32_t result = 0;
    if (sig_keygen(pk.data(), sk.data()) == 0 && sig_sign(sk.data(), message, sizeof message, sig.data(), &siglen) == 0)
        result = sig_verf(pk.data(), sig.data(), siglen, message, sizeof message);
    sig_forget();  // the kept key pair is not needed any more
    std::printf("%d", static_cast<int>(result));
    std::fflush(stdout);
    return result == 1 ? 0 : 1;
}

}  // namespace ringtrap
