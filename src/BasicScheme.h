// The global-parameter layer: the process-wide parameters, their selection,
// and the in-memory scheme operations on them.
//
// Only the modules that serve the global-parameter interface include this
// header; the engine (scheme_core, codec, ntt, the C++ API) works on explicit
// parameters and never sees these globals.
#pragma once

#include <cstdint>

#include "common.h"
#include "params.h"

namespace ringtrap {

// Process-wide parameters, written by parameter_init and read by the
// operations that follow the global-parameter convention. They are zero until
// a parameter set has been selected. Not synchronised: the thread-safe API in
// ringtrap.h never reads them.
extern std::int64_t modulo;  // q
extern std::int64_t n;       // ring degree
extern std::int64_t k;       // gadget length
extern double r;             // gadget sampler width
extern double s;             // signature width

// Public matrix of the most recent sig_keygen, or nullptr before the first one.
extern mat_poly_R* _a;

// Selects the parameter set of a level (128 or 256): stores modulo, n, k, r, s
// and builds the transform tables. Returns false, and changes nothing, for any
// other level.
[[nodiscard]] bool parameter_init(std::int32_t level);

// The built-in parameter set that the globals currently describe, or nullptr
// when none has been selected (or the globals were changed by hand).
[[nodiscard]] const ParamSet* current_param_set();

// How many times parameter_init has selected a set: lets the byte interface
// tell whether a selection of its own is still the latest one.
std::uint64_t parameter_generation() noexcept;

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
[[nodiscard]] std::int32_t Verify(const mat_poly_R& A, const mat_poly_R& x, const std::uint8_t* message,
                                  std::uint64_t length);

}  // namespace ringtrap
