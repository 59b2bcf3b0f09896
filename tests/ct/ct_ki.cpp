// Constant-time check of the key-independent engine under valgrind's memcheck:
//
//   valgrind --error-exitcode=1 build/ringtrap_ct_ki
//
// Key generation's word stream is marked secret, so the trapdoor it draws is
// secret from the start; a key is also loaded from trapdoor coefficients that
// are marked secret by hand. Signing then runs on the secret key (its own
// stream is marked secret as well), at a toy set and at S128. Any branch,
// memory address or system call that depends on a secret is reported; the
// only values let out are those declassified in the engine (key redraw,
// signature redraw, the released signature and salt, the public row).
//
// With --self-test the program branches on a trapdoor coefficient on purpose:
// memcheck must then report an error, which shows that the marking works.
#include <cstdio>
#include <cstring>
#include <vector>

#include "ct.h"
#include "ki_params.h"
#include "ki_scheme.h"
#include "../ki_test_support.h"
#include "word_stream.h"

namespace {

using namespace ringtrap;

int run(const ki::KiParamSet& p, std::uint8_t tag, bool self_test) {
    std::uint8_t seed[32];
    for (std::size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<std::uint8_t>(5 * i + tag);
    WordStream kws(seed);
    kws.mark_secret();
    ki::KeyPair kp = ki::keygen(p, kws);

    // The same trapdoor loaded as if from bytes: coefficients marked secret.
    ki::SecretKey loaded;
    loaded.params = &p;
    loaded.t = kp.sk.t.clone();
    ct::secret(loaded.t.data(), loaded.t.size() * sizeof(std::int64_t));
    if (!ki::check_secret_key(p, loaded.t.data())) return 1;
    const ki::SigningKey key(kp.pk, loaded);

    seed[0] ^= 0xff;
    WordStream ws(seed);
    ws.mark_secret();
    int valid = 0;
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t msg[3] = {'m', static_cast<std::uint8_t>('0' + i), tag};
        const ki::Signature sig = key.sign(msg, sizeof msg, ws);
        valid += ki::verify(kp.pk, sig, msg, sizeof msg) ? 1 : 0;
    }
    if (self_test && loaded.t[0] > 0) ++valid;  // a branch on a secret, reported by memcheck
    std::printf("%s: %d of 3 signatures valid\n", p.name, valid);
    return valid >= 3 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool self_test = argc > 1 && std::strcmp(argv[1], "--self-test") == 0;
    if (!ct::under_valgrind()) std::fprintf(stderr, "note: not running under valgrind, nothing is checked\n");
    int rc = run(ki::kToy16, 1, self_test);
    rc |= run(ki::kS128, 2, false);
    return rc;
}
