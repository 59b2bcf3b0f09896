// Gadget sampler: random short preimages of one integer under the base-2
// gadget vector g = (1, 2, 4, ..., 2^(k-1)).
#pragma once

#include <cstdint>

namespace ringtrap {

// Longest gadget the sampler handles; its working arrays live on the stack.
inline constexpr std::int64_t kMaxGadgetLength = 64;
// Widest sigma the sampler accepts (2^40). Far above any useful width, and low
// enough that every intermediate digit stays well inside 64 bits.
inline constexpr double kMaxGadgetWidth = 1099511627776.0;

// Writes k integers x_0 .. x_{k-1} (k = the global gadget length) to out with
// x_0 + 2 x_1 + ... + 2^(k-1) x_{k-1} = u (mod q), exactly over the integers.
// q is the modulus (0 < q < 2^k), u any 64-bit target, sigma the base width (a
// standard deviation). Takes exactly 3k Gaussian samples (6k draws when no
// second draw is 0). On inputs it cannot serve (see the overload below) it
// writes k zeros and draws nothing. out must have room for k elements.
void Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma);

// Sample_G with the gadget length given explicitly; reads no global. Returns
// false, writes `digits` zeros (none if digits <= 0) and draws nothing unless
// 1 <= digits <= kMaxGadgetLength, 0 < q < 2^digits, and sigma is finite with
// |sigma| <= kMaxGadgetWidth. out must have room for `digits` elements.
[[nodiscard]] bool Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma, std::int64_t digits);

}  // namespace ringtrap
