// Compressed encoding of a signature: a 40-byte salt and a vector of integers.
//
// Layout, as a bit string packed least significant bit first within bytes:
// the 40 salt bytes, then for each coefficient x
//   - a sign bit (1 = negative; 0 is always positive),
//   - the low_bits low bits of |x|, least significant first,
//   - |x| >> low_bits in unary: that many 1 bits, then a 0,
// then zero bits up to exactly out_bytes.
//
// Every vector has exactly one encoding, and the decoder accepts nothing
// else: it rejects negative zero, a unary run of more than kMaxUnary ones,
// input that ends inside a coefficient, and any non-zero padding bit. So
// encodings can be compared byte for byte. The encoder accepts exactly the
// vectors the decoder can return: |x| >> low_bits <= kMaxUnary (and hence
// |x| < 2^(low_bits + 12)).
//
// Signatures are public once released, so the code branches on their values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ringtrap {

inline constexpr std::size_t kSaltBytes = 40;
// Longest unary part, in ones.
inline constexpr unsigned kMaxUnary = 12;
// Largest low_bits either function accepts.
inline constexpr unsigned kMaxLowBits = 48;

// Writes the encoding of (salt40, x[0 .. m)) to out[0 .. out_bytes). Returns
// false, with out_bytes zero bytes written, when low_bits > kMaxLowBits, when
// a magnitude's unary part exceeds kMaxUnary or when the encoding needs more
// than out_bytes bytes.
bool encode_compressed(const std::uint8_t* salt40, const std::int64_t* x, std::size_t m, unsigned low_bits,
                       std::uint8_t* out, std::size_t out_bytes);

// Reads an encoding of m coefficients from in[0 .. in_bytes). Returns false,
// with salt40 and x zeroed, for anything that is not the exact encoding of
// some vector (see above) or when low_bits > kMaxLowBits.
bool decode_compressed(const std::uint8_t* in, std::size_t in_bytes, std::size_t m, unsigned low_bits,
                       std::uint8_t* salt40, std::int64_t* x);

}  // namespace ringtrap
