// The number-theoretic transform with AVX-512: sixteen coefficients per
// vector, bit-identical to ntt_forward_portable and ntt_inverse_portable.
#pragma once

#include <cstdint>

#include "ntt.h"

namespace ringtrap {

// Whether the processor (and the operating system) runs AVX-512 F, BW, DQ
// and VL; checked once.
bool ntt_have_avx512() noexcept;

// The results of ntt_forward_portable and ntt_inverse_portable, bit for bit,
// for inputs in (-q, q). Lengths below 128, moduli of 2^30 and more, and
// processors without AVX-512 (or builds for other architectures) take the
// AVX2 or portable code instead, with the same results.
void ntt_forward_avx512(const NttTables& t, std::int32_t* a) noexcept;
void ntt_inverse_avx512(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept;

}  // namespace ringtrap
