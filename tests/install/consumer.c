/* A C program using the installed byte interface: select a level, generate a
 * key pair, sign, verify, and check that a changed message or a foreign level
 * is refused. Exit status 0 when everything holds. */
#include <sig_api.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef RINGTRAP_NODISCARD
#error "sig_api.h leaks its attribute macro"
#endif
#if defined(RINGTRAP_API) || defined(RINGTRAP_C_API)
#error "a public header leaks its export macro"
#endif

static int failed(const char* what) {
    fprintf(stderr, "consumer (C): %s\n", what);
    return 1;
}

int main(void) {
    unsigned char message[] = "signed from C";
    const uint64_t mlen = sizeof message - 1;
    unsigned char *pk, *sk, *sig;
    uint64_t siglen = 0;
    int status = 0;

    if (sig_select_level(7) != -1) return failed("level 7 accepted");
    if (sig_select_level(128) != 0) return failed("level 128 refused");
    if (sig_public_key_bytes() != 53248 || sig_secret_key_bytes() != 98304 || sig_signature_bytes() != 53248)
        return failed("sizes at level 128");

    pk = malloc(sig_public_key_bytes());
    sk = malloc(sig_secret_key_bytes());
    sig = malloc(sig_signature_bytes());
    if (pk == NULL || sk == NULL || sig == NULL) return failed("out of memory");

    if (sig_keygen(pk, sk) != 0) status = failed("sig_keygen");
    else if (sig_sign(sk, message, mlen, sig, &siglen) != 0) status = failed("sig_sign");
    else if (siglen != sig_signature_bytes()) status = failed("signature length");
    else if (sig_verf(pk, sig, siglen, message, mlen) != 1) status = failed("a fresh signature does not verify");
    else {
        message[0] ^= 1;
        if (sig_verf(pk, sig, siglen, message, mlen) != 0) status = failed("a changed message verifies");
    }

    free(pk);
    free(sk);
    free(sig);
    return status;
}
