#include "gaussian_tables.h"

#include <cmath>
#include <memory>

namespace ringtrap::gaussian_tables {

double angle_cos_scalar(int r1) {
    const double u1 = r1 / 32767.0;
    const double theta = u1 * 6.2831852;
    return std::cos(theta);
}

double radius_scalar(int r2) {
    const double u2 = r2 / 32767.0;
    return std::sqrt(-2.0 * std::log(u2));
}

#ifdef RINGTRAP_BUILTIN_GAUSSIAN_TABLES

// Computed at build time by ringtrap_gen_tables with these very expressions
// (see gaussian_tables_gen.cpp); the tables test compares them bit for bit.
extern const BoxMuller kBuiltinBoxMuller;

const BoxMuller* build_box_muller() { return &kBuiltinBoxMuller; }

bool tables_are_built_in() noexcept { return true; }

#else

const BoxMuller* build_box_muller() {
    // Built once for the life of the process (the inline accessor keeps the
    // pointer in a function-local static); 512 KiB is too much for a stack.
    static const std::unique_ptr<const BoxMuller> tables = [] {
        auto t = std::make_unique<BoxMuller>();
        for (std::size_t i = 0; i < kDrawValues; ++i) {
            t->cos_theta[i] = angle_cos_scalar(static_cast<int>(i));
            t->radius[i] = radius_scalar(static_cast<int>(i));
        }
        return t;
    }();
    return tables.get();
}

bool tables_are_built_in() noexcept { return false; }

#endif

}  // namespace ringtrap::gaussian_tables
