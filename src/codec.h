// The byte forms of keys and signatures: the one codec behind the C++ API and
// the byte interface.
//
// Every coefficient is 4 bytes, sign-magnitude, least significant byte first;
// bit 7 of the last byte is the sign. Magnitudes must be below 2^31. A public
// key is the (k+2) n coefficients of A, a signature the (k+2) n coefficients of
// x, a secret key the k n coefficients of T0 followed by those of T1; entries
// one after the other, no header.
//
// The single-coefficient forms just below state the format plainly (tests and
// fuzz targets check the row codec against them); the library itself encodes
// and decodes whole rows with the branch-free forms in namespace core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "params.h"
#include "scheme_core.h"

namespace ringtrap {

inline void encode_coeff(std::int64_t c, std::uint8_t* out) noexcept {
    const bool negative = c < 0;
    const std::uint64_t m = negative ? static_cast<std::uint64_t>(-c) : static_cast<std::uint64_t>(c);
    out[0] = static_cast<std::uint8_t>(m);
    out[1] = static_cast<std::uint8_t>(m >> 8);
    out[2] = static_cast<std::uint8_t>(m >> 16);
    out[3] = static_cast<std::uint8_t>(((m >> 24) & 0x7F) | (negative ? 0x80u : 0x00u));
}

// Any 4 bytes decode to an integer of magnitude below 2^31; a set sign bit with
// magnitude 0 ("negative zero") decodes to 0.
inline std::int64_t decode_coeff(const std::uint8_t* in) noexcept {
    const std::int64_t m = (static_cast<std::int64_t>(in[3] & 0x7F) << 24) | (static_cast<std::int64_t>(in[2]) << 16) |
                           (static_cast<std::int64_t>(in[1]) << 8) | static_cast<std::int64_t>(in[0]);
    return (in[3] & 0x80) ? -m : m;
}

// True when the 4 bytes are the encoder's own output for a value in
// [-bound, bound] (no negative zero).
inline bool is_canonical_coeff(const std::uint8_t* in, std::int64_t bound) noexcept {
    const std::int64_t v = decode_coeff(in);
    if (v == 0 && (in[3] & 0x80)) return false;
    return v >= -bound && v <= bound;
}

inline void encode_coeffs(const std::int64_t* c, std::size_t count, std::uint8_t* out) noexcept {
    for (std::size_t i = 0; i < count; ++i) encode_coeff(c[i], out + 4 * i);
}

inline void decode_coeffs(const std::uint8_t* in, std::size_t count, std::int64_t* c) noexcept {
    for (std::size_t i = 0; i < count; ++i) c[i] = decode_coeff(in + 4 * i);
}

namespace core {

// Whole rows, without branches on the signs (random in signatures).
// encode_row needs magnitudes below 2^31.
void encode_row(const std::int64_t* coeffs, std::size_t count, std::uint8_t* out) noexcept;
void decode_row(const std::uint8_t* in, std::size_t count, std::int64_t* coeffs) noexcept;
// decode_row that also checks every coefficient is the encoder's own form of a
// value in [-bound, bound] (no negative zero). One flag for the whole row, so
// that secret rows decode without data-dependent branches; the coefficients
// are written either way.
[[nodiscard]] bool decode_row_checked(const std::uint8_t* in, std::size_t count, std::int64_t bound,
                                      std::int64_t* coeffs) noexcept;

// Decodes public-key bytes ((k+2) n coefficients), or returns false when they are
// not a key the key generator can have written: entry 0 must be the constant 1
// and every coefficient a canonically encoded centred residue.
[[nodiscard]] bool decode_public_key(const ParamSet& p, const std::uint8_t* bytes, std::vector<std::int64_t>& out);

// Decodes signature bytes ((k+2) n coefficients) into out, or returns false
// when any coefficient is not in the signer's form: the centred representative
// (magnitude at most (q-1)/2) without a negative zero. One encoding per
// signature, so a valid signature cannot be turned into another valid one.
[[nodiscard]] bool decode_signature(const ParamSet& p, const std::uint8_t* bytes, std::int64_t* out);

// Whether public-key bytes pass decode_public_key's checks, without keeping
// the coefficients.
[[nodiscard]] bool public_key_bytes_ok(const ParamSet& p, const std::uint8_t* bytes) noexcept;

// Entry i of public-key bytes into the transform domain at out (n values);
// entry 0, the constant 1, becomes the value 1 at every point without a
// transform. Returns whether the entry passes decode_public_key's checks (the
// values are written either way).
[[nodiscard]] bool load_public_entry_ntt(const ParamSet& p, const std::uint8_t* bytes, std::int64_t i,
                                         std::int32_t* out) noexcept;

// decode_public_key and prepare_public_key in one, for verification only:
// fills pk.a_ntt (reusing its array) and leaves pk.a empty. Returns false,
// with pk.params null, for bytes that decode_public_key refuses.
[[nodiscard]] bool decode_public_key_for_verify(const ParamSet& p, const std::uint8_t* bytes, PublicKey& pk);

// The bytes of a key pair: p.public_key_bytes() to pk_out and
// p.secret_key_bytes() to sk_out.
void encode_key_pair(const ParamSet& p, const PublicKey& pk, const SecretKey& sk, std::uint8_t* pk_out,
                     std::uint8_t* sk_out) noexcept;

// A prepared secret key from p.secret_key_bytes() bytes. Throws
// Error(malformed_secret_key) unless every coefficient is canonically encoded
// (no negative zero) and within trapdoor_coeff_bound(p), and
// std::invalid_argument for trapdoor rows the perturbation sampler cannot use.
SecretKey decode_secret_key(const ParamSet& p, const std::uint8_t* bytes);
// The same for signing only: the rows go straight into the transform domain
// and the key keeps nothing else (t0 and t1 empty).
SecretKey decode_secret_key_ntt(const ParamSet& p, const std::uint8_t* bytes);

}  // namespace core

}  // namespace ringtrap
