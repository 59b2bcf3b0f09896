/* ringtrap: byte-level signature interface (C linkage; usable from C and C++).
 *
 * Keys and signatures are byte arrays in fixed formats: every key coefficient
 * is 4 bytes, sign-magnitude, least significant byte first; entries one after
 * the other, no header. Signatures of levels 128 and 256 have the same form;
 * those of the key-independent levels S128 and S256 are a 40-byte salt and a
 * compressed canonical form (see ringtrap.h). Sizes, level 128 / 256 / S128 / S256:
 *   public key  53248 / 122880 /  81920 / 172032   (sig_public_key_bytes())
 *   secret key  98304 / 229376 / 147456 / 311296   (sig_secret_key_bytes())
 *   signature   53248 / 122880 /  30880 /  67920   (sig_signature_bytes())
 * The caller provides arrays of at least these sizes.
 *
 * These functions use process-wide state (the selected level and the public key
 * of the last sig_keygen) and are not thread-safe; the C++ API in ringtrap.h
 * is. Select a level with sig_select_level before anything else.
 */
#ifndef RINGTRAP_SIG_API_H
#define RINGTRAP_SIG_API_H

#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define RINGTRAP_NODISCARD __attribute__((warn_unused_result))
#else
#define RINGTRAP_NODISCARD
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
RINGTRAP_NODISCARD int32_t sig_select_level(int32_t level);

/* Sizes in bytes at the selected level; 0 when no level is selected. */
uint64_t sig_public_key_bytes(void);
uint64_t sig_secret_key_bytes(void);
uint64_t sig_signature_bytes(void);

/* Generates a key pair into pk and sk. Returns 0, or -1 when no level is
 * selected (nothing is written then). The public key is also kept for sig_sign. */
RINGTRAP_NODISCARD int32_t sig_keygen(unsigned char* pk, unsigned char* sk);

/* Signs m (mlen bytes) with sk, which must be the secret key of the most recent
 * sig_keygen in this process. Writes the signature to sig and its length to
 * *siglen and returns 0. On failure returns non-zero and sets *siglen = 0
 * (when siglen is not null):
 *   -1  no level selected, a null argument, or no key pair generated yet (in the
 *       last case the signature area is zeroed);
 *   -2  sk does not belong to that key pair, or the fresh signature did not
 *       verify (the signature area is zeroed);
 *   -3  an internal error such as exhausted memory (the signature area is zeroed). */
RINGTRAP_NODISCARD int32_t sig_sign(const unsigned char* sk, const unsigned char* m, uint64_t mlen, unsigned char* sig,
                                    uint64_t* siglen);

/* 1 when sig is a valid signature of m under pk, 0 otherwise (also for a
 * malformed public key, or when no level is selected). siglen is not consulted:
 * the signature is always read as sig_signature_bytes() bytes. */
RINGTRAP_NODISCARD int32_t sig_verf(const unsigned char* pk, const unsigned char* sig, uint64_t siglen,
                                    const unsigned char* m, uint64_t mlen);

#ifdef __cplusplus
}
#endif

#undef RINGTRAP_NODISCARD

#endif /* RINGTRAP_SIG_API_H */
