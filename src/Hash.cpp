#include "Hash.h"

#include <stdexcept>

#include "BasicScheme.h"
#include "sha256.h"
#include "util.h"

namespace ringtrap {

void Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count, std::int64_t q, std::int64_t* out) {
    if (q <= 0) throw std::invalid_argument("ringtrap: Hash needs a positive modulus");
    if (count <= 0 || out == nullptr || (message == nullptr && length > 0)) return;

    // Link 0: the message digest, kept as words. Its bytes read big-endian are
    // exactly the chaining words, so the chain never needs the byte form.
    Sha256State link = sha256_words(message, length);
    const std::int64_t links = count >> 3;
    for (std::int64_t b = 0; b < links; ++b) {
        sha256_rehash_digest(link);
        for (std::int64_t j = 0; j < 8; ++j)
            out[8 * b + j] = centred_mod(static_cast<std::int64_t>(link[static_cast<std::size_t>(j)]), q);
    }
    // The chain defines no value for a trailing partial group of eight.
    for (std::int64_t i = 8 * links; i < count; ++i) out[i] = 0;
}

poly_R Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count, std::int64_t q) {
    if (q <= 0) throw std::invalid_argument("ringtrap: Hash needs a positive modulus");
    if (count <= 0 || (message == nullptr && length > 0)) return poly_R{};
    poly_R out = create_poly_R(count);
    Hash(message, length, count, q, out.coeffs);
    return out;
}

poly_R Hash(const std::uint8_t* message, std::uint64_t length, std::int64_t count) {
    if (modulo <= 0) throw std::logic_error("ringtrap: no parameter set selected (call parameter_init first)");
    return Hash(message, length, count, modulo);
}

}  // namespace ringtrap
