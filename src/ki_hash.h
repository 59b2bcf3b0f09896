// Message hashing of the key-independent sets: the map from (salt, message) to
// a uniform element of R_q.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ki_params.h"

namespace ringtrap::ki {

// u = H(salt || message) in [0, q)^n: seed = SHA-256("ringtrap-<name>-hash" ||
// salt || message); then blocks SHA-256(seed || LE32(counter)), counter = 0,
// 1, ..., each read as eight little-endian 32-bit words, each masked to its k
// low bits and kept when below q (exactly uniform; variable time, the message
// is public). salt: kSaltBytes bytes.
void hash_to_ring(const KiParamSet& p, const std::uint8_t* salt, const std::uint8_t* msg, std::size_t len,
                  std::int64_t* u);

}  // namespace ringtrap::ki
