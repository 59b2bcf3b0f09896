// Message hashing of the key-independent sets: an incremental SHA-256 and the
// map from (salt, message) to a uniform element of R_q.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ki_params.h"

namespace ringtrap::ki {

// Incremental SHA-256 over the library's compression function (the one with
// the processor's SHA extensions when present; same digests either way).
class Sha256Stream {
public:
    Sha256Stream() noexcept;
    void update(const std::uint8_t* data, std::size_t len) noexcept;  // data may be null when len == 0
    void finish(std::uint8_t out[32]) noexcept;                       // the stream is spent afterwards

private:
    void compress(const std::uint8_t* block) noexcept;
    std::uint32_t state_[8];
    std::uint8_t buf_[64] = {};
    std::size_t fill_ = 0;
    std::uint64_t total_ = 0;
};

// u = H(salt || message) in [0, q)^n: seed = SHA-256("ringtrap-<name>-hash" ||
// salt || message); then blocks SHA-256(seed || LE32(counter)), counter = 0,
// 1, ..., each read as eight little-endian 32-bit words, each masked to its k
// low bits and kept when below q (exactly uniform; variable time, the message
// is public). salt: kSaltBytes bytes.
void hash_to_ring(const KiParamSet& p, const std::uint8_t* salt, const std::uint8_t* msg, std::size_t len,
                  std::int64_t* u);

}  // namespace ringtrap::ki
