// Hash of a message to a ring element: a SHA-256 chain read as coefficients.
//
// Link 0 is the digest of the message and is never read as coefficients; link
// b + 1 is the digest of the 32 bytes of link b, and its eight big-endian words
// become coefficients 8b .. 8b + 7, each reduced to its centred representative
// modulo q (a plain remainder, no rejection). Signer and verifier must obtain
// the same element, so every step, byte orders included, is fixed.
//
// Deterministic: no randomness, no state kept between calls. A call costs
// count/8 + 1 SHA-256 evaluations.
#pragma once

#include <cstdint>

#include "common.h"

namespace ringtrap {

// Hash of the `length` bytes at `message` to a polynomial of `count`
// coefficients, centred modulo the current `modulo` (in [-(q-1)/2, (q-1)/2]
// for the built-in odd moduli). The chain yields 8 * floor(count/8)
// coefficients; when count is not a multiple of 8 the last count mod 8
// coefficients are 0. count <= 0, or message == nullptr with length > 0, gives
// the empty record. Throws std::logic_error when no parameter set is selected.
poly_R Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count);

// The same with an explicit modulus q (> 0); reads no global, so it may run on
// any thread. Throws std::invalid_argument when q <= 0.
poly_R Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count, std::int64_t q);

// The same into out[0 .. count-1], without allocating. Writes nothing for
// count <= 0 or for message == nullptr with length > 0. Throws
// std::invalid_argument when q <= 0.
void Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count, std::int64_t q, std::int64_t* out);

}  // namespace ringtrap
