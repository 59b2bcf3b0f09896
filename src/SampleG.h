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

// Sample_G for `count` targets u[0 .. count) in turn, taking exactly the draws
// of `count` successive calls: digit i of target j goes to out[i * stride + j],
// the layout of k rows of gadget solutions (stride >= count). Returns false,
// writing and drawing nothing, on the inputs the explicit-parameter Sample_G
// refuses. The AVX2 form, chosen at run time, works on four targets at once
// whenever every intermediate value provably fits 32 bits (|sigma| <= 2^20,
// q < 2^31); both forms give the digits of the one-by-one calls.
[[nodiscard]] bool sample_gadget_batch(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                       std::int64_t count, std::int64_t* out, std::int64_t stride);
[[nodiscard]] bool sample_gadget_batch_portable(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                                std::int64_t count, std::int64_t* out, std::int64_t stride);
// Falls back to the portable form unless gadget_have_avx2().
[[nodiscard]] bool sample_gadget_batch_avx2(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                            std::int64_t count, std::int64_t* out, std::int64_t stride);
bool gadget_have_avx2() noexcept;
// Eight targets at once with AVX-512 (F, DQ, VL, BW), preferred by
// sample_gadget_batch; falls back to the AVX2 form unless gadget_have_avx512().
[[nodiscard]] bool sample_gadget_batch_avx512(std::int64_t q, double sigma, std::int64_t digits, const std::int64_t* u,
                                              std::int64_t count, std::int64_t* out, std::int64_t stride);
bool gadget_have_avx512() noexcept;

}  // namespace ringtrap
