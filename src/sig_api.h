/* ringtrap: byte-level signature interface (C linkage; usable from C and C++).
 *
 * Keys and signatures are byte arrays in fixed formats: every key coefficient
 * is 4 bytes, sign-magnitude, least significant byte first; entries one after
 * the other, no header. Signatures of levels 128 and 256 have the same form;
 * those of the key-independent levels S128 and S256 are a 40-byte salt and a
 * compressed canonical form (see ringtrap.h). Sizes, level 128 / 256 / S128 / S256:
 *   public key  53248 / 122880 /  45056 / 106496   (sig_public_key_bytes())
 *   secret key  98304 / 229376 /  73728 / 180224   (sig_secret_key_bytes())
 *   signature   53248 / 122880 /  17736 /  43424   (sig_signature_bytes())
 * The caller provides arrays of at least these sizes.
 *
 * Thread rules. These functions share process-wide state: the selected level
 * and the key pair of the last sig_keygen. A mutex guards it, so any of them
 * may be called from any thread at once, with these outcomes:
 *   - sig_verf and signing run in parallel; sig_select_level, sig_keygen and
 *     sig_forget change the state for every thread (a call that races one of
 *     them sees the state before or after the change, never a mix);
 *   - a signature already in progress finishes with the key pair it started
 *     with (that key pair is wiped once the last such signature is done);
 *   - switching the level while another thread uses the interface makes that
 *     thread's sizes and keys of the wrong level: select the level once, first.
 * The lower-level functions on the process-wide parameters (parameter_init and
 * the record operations) are not covered by this mutex. Do not fork while
 * another thread is inside one of these calls. The C++ API in ringtrap.h keeps
 * no shared state. Select a level with sig_select_level before anything else.
 *
 * The ringtrap_* functions at the end of this header are a second, stateless
 * interface: keys in and out as bytes or opaque handles, no selected level,
 * no kept key pair, no rules beyond "free a handle once nobody uses it".
 */
#ifndef RINGTRAP_SIG_API_H
#define RINGTRAP_SIG_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define RINGTRAP_NODISCARD __attribute__((warn_unused_result))
#define RINGTRAP_C_API __attribute__((visibility("default")))
#else
#define RINGTRAP_NODISCARD
#define RINGTRAP_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Selection codes of sig_select_level. S128 and S256 are the key-independent,
 * constant-time sets, recommended for new keys; 128 and 256 are the original
 * sets, whose signatures reveal the secret key after a few hundred. */
enum { SIG_LEVEL_128 = 128, SIG_LEVEL_256 = 256, SIG_LEVEL_S128 = 1128, SIG_LEVEL_S256 = 1256 };

/* Selects the parameter level (one of the codes above). Returns 0, or -1 for
 * any other value (nothing changes then). */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t sig_select_level(int32_t level);

/* Sizes in bytes at the selected level; 0 when no level is selected. */
RINGTRAP_C_API uint64_t sig_public_key_bytes(void);
RINGTRAP_C_API uint64_t sig_secret_key_bytes(void);
RINGTRAP_C_API uint64_t sig_signature_bytes(void);

/* Generates a key pair into pk and sk. Returns 0, or -1 when no level is
 * selected (nothing is written then). The key pair is also kept, prepared, for
 * sig_sign, replacing (and wiping) the one kept before. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t sig_keygen(unsigned char* pk, unsigned char* sk);

/* Signs m (mlen bytes) with sk, which must be the secret key of the most recent
 * sig_keygen in this process. Writes the signature to sig and its length to
 * *siglen and returns 0. On failure returns non-zero and sets *siglen = 0
 * (when siglen is not null):
 *   -1  no level selected, a null argument, or no key pair kept (none generated
 *       yet, or forgotten with sig_forget; in these cases the signature area
 *       is zeroed);
 *   -2  sk does not belong to that key pair, or the fresh signature did not
 *       verify (the signature area is zeroed);
 *   -3  an internal error such as exhausted memory (the signature area is zeroed). */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen,
                                                   unsigned char* sig, uint64_t* siglen);

/* 1 when sig (siglen bytes) is a valid signature of m under pk, 0 otherwise.
 * Reads at most siglen bytes of sig: any length other than
 * sig_signature_bytes() is an invalid signature (0), as are a malformed public
 * key, no selected level, and any coefficient not in the signer's encoding
 * (the centred representative, no negative zero): a signature has exactly one
 * valid byte form. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen,
                                                   const unsigned char* m, uint64_t mlen);

/* Wipes and drops the kept key pair (prepared secret key and public matrix).
 * Afterwards sig_sign fails (-1) until the next sig_keygen; signatures made
 * before still verify. Call it when done signing. */
RINGTRAP_C_API void sig_forget(void);

/* ---- Stateless interface (for bindings and C programs that keep keys) ----
 *
 * The functions below keep no process-wide state: keys are passed in and out
 * as bytes or held in opaque handles, and every function may be called from
 * any number of threads at once (a handle may be shared by threads; free it
 * only when no other call is using it). Levels are the codes above. Each
 * function checks every pointer and length before doing any work, writes
 * nothing to its outputs when it fails, and returns RINGTRAP_OK (0) or one of
 * these codes (codes 1 to 11 are the C++ API's ringtrap::Errc values plus one,
 * in that order): */
enum {
    RINGTRAP_OK = 0,
    RINGTRAP_E_BAD_LEVEL = 1,             /* not a level code */
    RINGTRAP_E_BAD_PUBLIC_KEY_SIZE = 2,   /* a length that is no level's public key size (or too small an output) */
    RINGTRAP_E_BAD_SECRET_KEY_SIZE = 3,   /* likewise for a secret key */
    RINGTRAP_E_BAD_SIGNATURE_SIZE = 4,    /* likewise for a signature; also not the key's level's size */
    RINGTRAP_E_LEVEL_MISMATCH = 5,        /* a secret key and a public key of different levels */
    RINGTRAP_E_MALFORMED_PUBLIC_KEY = 6,  /* first entry not 1, or coefficients out of range */
    RINGTRAP_E_KEY_MISMATCH = 7,          /* the secret key does not belong to the public key */
    RINGTRAP_E_SIGNING_FAILED = 8,        /* the fresh signature did not verify; it was discarded */
    RINGTRAP_E_ENTROPY_UNAVAILABLE = 9,   /* the operating system supplied no entropy */
    RINGTRAP_E_MALFORMED_SECRET_KEY = 10, /* not a secret key that key generation can produce */
    RINGTRAP_E_MALFORMED_SIGNATURE = 11,  /* not a canonical signature of its level (decoding only) */
    RINGTRAP_E_INVALID_ARGUMENT = 100,    /* a null pointer, too small a coefficient array, an unknown kind */
    RINGTRAP_E_INTERNAL = 101             /* out of memory or another internal failure */
};

/* Object kinds for ringtrap_level_of. */
enum { RINGTRAP_PUBLIC_KEY = 1, RINGTRAP_SECRET_KEY = 2, RINGTRAP_SIGNATURE = 3 };

/* The library version, "MAJOR.MINOR.PATCH" (static storage). */
RINGTRAP_C_API const char* ringtrap_version(void);

/* A one-line description of a code above (static storage); "unknown error
 * code" for any other value. */
RINGTRAP_C_API const char* ringtrap_error_message(int32_t code);

/* Byte sizes of the public key, secret key and signature of a level. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_sizes(int32_t level, size_t* public_key, size_t* secret_key,
                                                         size_t* signature);

/* The level whose object of that kind (RINGTRAP_PUBLIC_KEY, ...) has `size`
 * bytes, in *level; RINGTRAP_E_BAD_..._SIZE of that kind when none has. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_level_of(int32_t kind, size_t size, int32_t* level);

/* What a level is made of (ringtrap::Parameters). Widths are standard deviations. */
struct ringtrap_params {
    int64_t n;               /* ring degree */
    int64_t q;               /* modulus */
    int64_t k;               /* gadget length */
    int64_t gadget_base;     /* the gadget is (1, b, ..., b^(k-1)) */
    double trapdoor_sigma;   /* width of the trapdoor coefficients */
    double gadget_sigma;     /* width the gadget sampler works at */
    double signature_sigma;  /* width of the signature */
    int64_t bound_squared;   /* verification accepts ||x||^2 <= bound_squared */
    int32_t level;           /* the level code */
    int32_t key_independent; /* 1 when signatures do not depend on the secret key */
};
/* Fills *out; `size` must be sizeof(struct ringtrap_params). */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_parameters(int32_t level, struct ringtrap_params* out, size_t size);

/* A fresh key pair of a level: pk_len and sk_len are the capacities of pk and
 * sk, at least the level's sizes (too small: RINGTRAP_E_BAD_PUBLIC_KEY_SIZE or
 * RINGTRAP_E_BAD_SECRET_KEY_SIZE); exactly the level's sizes are written. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_keygen(int32_t level, unsigned char* pk, size_t pk_len,
                                                          unsigned char* sk, size_t sk_len);

/* A secret key with its public key, checked to belong together and prepared
 * for signing, and a public key prepared for verifying. Levels come from the
 * sizes. The handles are immutable; _free wipes (signer) and releases them,
 * and accepts NULL. */
typedef struct ringtrap_signer ringtrap_signer;
typedef struct ringtrap_verifier ringtrap_verifier;

RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_signer_new(const unsigned char* sk, size_t sk_len,
                                                              const unsigned char* pk, size_t pk_len,
                                                              ringtrap_signer** out);
/* Signs m (mlen bytes; m may be NULL when mlen is 0) into sig, whose capacity
 * sig_cap must be at least the level's signature size; the length written
 * goes to *sig_len. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_signer_sign(const ringtrap_signer* signer, const unsigned char* m,
                                                               size_t mlen, unsigned char* sig, size_t sig_cap,
                                                               size_t* sig_len);
RINGTRAP_C_API void ringtrap_signer_free(ringtrap_signer* signer);

RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_verifier_new(const unsigned char* pk, size_t pk_len,
                                                                ringtrap_verifier** out);
/* *valid = 1 when sig is a valid signature of m, 0 when it is not (any
 * coefficient outside the signer's encoding included). A sig_len other than
 * the key's level's signature size is RINGTRAP_E_BAD_SIGNATURE_SIZE. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_verifier_verify(const ringtrap_verifier* verifier,
                                                                   const unsigned char* sig, size_t sig_len,
                                                                   const unsigned char* m, size_t mlen, int32_t* valid);
RINGTRAP_C_API void ringtrap_verifier_free(ringtrap_verifier* verifier);

/* One-shot verification: ringtrap_verifier_new, _verify and _free. */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_verify(const unsigned char* pk, size_t pk_len,
                                                          const unsigned char* sig, size_t sig_len,
                                                          const unsigned char* m, size_t mlen, int32_t* valid);

/* The signature vector x of a signature of any level: (k + 2) n centred
 * coefficients, entry after entry, into out (capacity `cap` coefficients),
 * their number in *count. With out NULL and cap 0 only *count is written
 * (then the length is checked, not the content). */
RINGTRAP_C_API RINGTRAP_NODISCARD int32_t ringtrap_decode_signature(const unsigned char* sig, size_t sig_len,
                                                                    int64_t* out, size_t cap, size_t* count);

#ifdef __cplusplus
}
#endif

#undef RINGTRAP_NODISCARD
#undef RINGTRAP_C_API

#endif /* RINGTRAP_SIG_API_H */
