// Record types shared by every module.
//
// Records are small values. Copying one shares its coefficient array (as the
// arrays are reference counted); every operation that produces a record gives
// it a fresh array of its own. The arrays are secret buffers: wiped when the
// last owner lets go, so trapdoor rows and other secret intermediates do not
// linger on the heap.
#pragma once

#include <cstdint>
#include <memory>

#include "params.h"
#include "secret.h"

namespace ringtrap {

// A polynomial with integer coefficients: coefficient i is coeffs[i].
struct poly_R {
    std::int64_t len = 0;
    std::int64_t* coeffs = nullptr;
    std::shared_ptr<SecretBuffer<std::int64_t>> storage;  // owns coeffs; shared by copies
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
    std::shared_ptr<SecretBuffer<double>> storage;
};

// A row-major matrix of poly_K.
struct mat_poly_K {
    std::int64_t rows = 0;
    std::int64_t cols = 0;
    poly_K* entries = nullptr;
    std::shared_ptr<poly_K[]> storage;
};

}  // namespace ringtrap
