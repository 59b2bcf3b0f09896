/* A C program on the installed shared library's stateless interface: for every
 * level, a key pair, a signature, its verification, a changed message refused,
 * the signature decoded; and the checks on bad arguments. Exit status 0 when
 * everything holds. */
#include <sig_api.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failed(int level, const char* what) {
    fprintf(stderr, "consumer (C, shared, level %d): %s\n", level, what);
    return 1;
}

static int round_trip(int32_t level) {
    size_t pk_len = 0, sk_len = 0, sig_len = 0, written = 0, count = 0;
    unsigned char msg[] = "signed through libringtrap.so";
    unsigned char *pk, *sk, *sig;
    int64_t* x;
    int32_t valid = -1;
    ringtrap_signer* signer = NULL;
    ringtrap_verifier* verifier = NULL;
    struct ringtrap_params params;
    int status = 0;

    if (ringtrap_sizes(level, &pk_len, &sk_len, &sig_len) != RINGTRAP_OK) return failed(level, "ringtrap_sizes");
    if (ringtrap_parameters(level, &params, sizeof params) != RINGTRAP_OK) return failed(level, "ringtrap_parameters");
    pk = malloc(pk_len);
    sk = malloc(sk_len);
    sig = malloc(sig_len);
    x = malloc((size_t)((params.k + 2) * params.n) * sizeof *x);
    if (pk == NULL || sk == NULL || sig == NULL || x == NULL) return failed(level, "out of memory");

    if (ringtrap_keygen(level, pk, pk_len, sk, sk_len) != RINGTRAP_OK) status = failed(level, "ringtrap_keygen");
    else if (ringtrap_signer_new(sk, sk_len, pk, pk_len, &signer) != RINGTRAP_OK) status = failed(level, "signer_new");
    else if (ringtrap_signer_sign(signer, msg, sizeof msg, sig, sig_len, &written) != RINGTRAP_OK || written != sig_len)
        status = failed(level, "signer_sign");
    else if (ringtrap_verifier_new(pk, pk_len, &verifier) != RINGTRAP_OK) status = failed(level, "verifier_new");
    else if (ringtrap_verifier_verify(verifier, sig, sig_len, msg, sizeof msg, &valid) != RINGTRAP_OK || valid != 1)
        status = failed(level, "a fresh signature does not verify");
    else if (ringtrap_verify(pk, pk_len, sig, sig_len, msg, sizeof msg - 1, &valid) != RINGTRAP_OK || valid != 0)
        status = failed(level, "a changed message verifies");
    else if (ringtrap_decode_signature(sig, sig_len, x, (size_t)((params.k + 2) * params.n), &count) != RINGTRAP_OK ||
             count != (size_t)((params.k + 2) * params.n))
        status = failed(level, "decode_signature");
    else if (ringtrap_signer_sign(signer, msg, sizeof msg, NULL, sig_len, &written) != RINGTRAP_E_INVALID_ARGUMENT)
        status = failed(level, "a null signature array is accepted");
    else if (ringtrap_verifier_verify(verifier, sig, sig_len - 1, msg, sizeof msg, &valid) != RINGTRAP_E_BAD_SIGNATURE_SIZE)
        status = failed(level, "a short signature is not a size error");

    ringtrap_signer_free(signer);
    ringtrap_verifier_free(verifier);
    free(pk);
    free(sk);
    free(sig);
    free(x);
    return status;
}

int main(void) {
    const int32_t levels[] = {SIG_LEVEL_S128, SIG_LEVEL_S256, SIG_LEVEL_128, SIG_LEVEL_256};
    size_t i, a, b, c;
    if (strcmp(ringtrap_version(), EXPECTED_VERSION) != 0) return failed(0, "ringtrap_version");
    if (ringtrap_sizes(7, &a, &b, &c) != RINGTRAP_E_BAD_LEVEL) return failed(7, "level 7 accepted");
    if (strcmp(ringtrap_error_message(RINGTRAP_E_KEY_MISMATCH), ringtrap_error_message(RINGTRAP_E_BAD_LEVEL)) == 0)
        return failed(0, "error messages");
    for (i = 0; i < sizeof levels / sizeof levels[0]; ++i)
        if (round_trip(levels[i]) != 0) return 1;
    return 0;
}
