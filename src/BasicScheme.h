// Parameter selection and the in-memory scheme operations on the process-wide
// parameters (see parameter_init in common.h).
#pragma once

#include <cstdint>

#include "common.h"

namespace ringtrap {

// Draws a key pair for the selected parameter set into the three locations:
// A (1 x (k+2)), T0 and T1 (1 x k each), with A [T0; T1; I_k] = (1, 2, ..., 2^(k-1))
// mod q. Draw order: T0, T1, then the uniform entry a. Throws std::logic_error
// when no built-in parameter set is selected.
void KeyGen(mat_poly_R* A, mat_poly_R* T0, mat_poly_R* T1);

// A signature row x (1 x (k+2), centred) with A x = H(m) mod q. Throws
// std::invalid_argument for rows of the wrong shape, std::logic_error when no
// built-in parameter set is selected.
mat_poly_R Sign(const mat_poly_R& A, const mat_poly_R& T0, const mat_poly_R& T1, const std::uint8_t* message,
                std::uint64_t length);

// 1 when x, reduced to centred residues, is short (Euclidean norm at most
// 1.5 s sqrt((k+2) n)) and A x = H(m) mod q; 0 otherwise, including for rows
// that are not 1 x (k+2) with entries of n coefficients.
std::int32_t Verify(const mat_poly_R& A, const mat_poly_R& x, const std::uint8_t* message, std::uint64_t length);

}  // namespace ringtrap
