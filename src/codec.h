// The coefficient byte encoding shared by keys and signatures: 4 bytes,
// sign-magnitude, least significant byte first; bit 7 of the last byte is the
// sign. Magnitudes must be below 2^31.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace ringtrap
