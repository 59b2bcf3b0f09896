// Record types shared by every module, and the process-wide parameters.
//
// Records are small values. Copying one shares its coefficient array (as the
// arrays are reference counted); every operation that produces a record gives
// it a fresh array of its own. Arrays are wiped when the last owner lets go, so
// trapdoor rows and other secret intermediates do not linger on the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "params.h"

namespace ringtrap {

// Overwrites len bytes at p with zeros in a way the compiler may not elide.
void secure_zero(void* p, std::size_t len) noexcept;

// A polynomial with integer coefficients: coefficient i is coeffs[i].
struct poly_R {
    std::int64_t len = 0;
    std::int64_t* coeffs = nullptr;
    std::shared_ptr<std::int64_t[]> storage;  // owns coeffs; shared by copies
};

// A row-major matrix of poly_R: entry (i, j) is entries[j + cols * i].
struct mat_poly_R {
    std::int64_t rows = 0;
    std::int64_t cols = 0;
    poly_R* entries = nullptr;
    std::shared_ptr<poly_R[]> storage;  // owns entries; shared by copies
};

// A polynomial with real coefficients.
struct poly_K {
    std::int64_t len = 0;
    double* coeffs = nullptr;
    std::shared_ptr<double[]> storage;
};

// A row-major matrix of poly_K.
struct mat_poly_K {
    std::int64_t rows = 0;
    std::int64_t cols = 0;
    poly_K* entries = nullptr;
    std::shared_ptr<poly_K[]> storage;
};

// Process-wide parameters, written by parameter_init and read by the
// operations that follow the global-parameter convention. They are zero until
// a parameter set has been selected. Not synchronised: the thread-safe API in
// ringtrap.h never reads them.
extern std::int64_t modulo;  // q
extern std::int64_t n;       // ring degree
extern std::int64_t k;       // gadget length
extern double r;             // gadget sampler width
extern double s;             // signature width

// Transform tables, built by FFT_init (owned by the fft module).
extern std::int32_t* rev;        // rev[i]: i with its log2(n) low bits reversed
extern std::int64_t* roots;      // roots[L-1] = psi, roots[j-1] = roots[j]^2 mod q
extern std::int64_t* inv_roots;  // the same chain from psi^-1
extern std::int64_t _n;          // n^-1 mod q, centred

// Public matrix of the most recent sig_keygen, or nullptr before the first one.
extern mat_poly_R* _a;

// Selects the parameter set of a level (128 or 256): stores modulo, n, k, r, s
// and builds the transform tables. Returns false, and changes nothing, for any
// other level.
bool parameter_init(std::int32_t level);

// The built-in parameter set that the globals currently describe, or nullptr
// when none has been selected (or the globals were changed by hand).
const ParamSet* current_param_set();

}  // namespace ringtrap
