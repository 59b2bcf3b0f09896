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
 */
#ifndef RINGTRAP_SIG_API_H
#define RINGTRAP_SIG_API_H

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

#ifdef __cplusplus
}
#endif

#undef RINGTRAP_NODISCARD
#undef RINGTRAP_C_API

#endif /* RINGTRAP_SIG_API_H */
