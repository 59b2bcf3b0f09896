// Lookup tables for the continuous Gaussian source.
//
// A Gaussian sample takes two draws, each one of 32768 values, so the two
// transcendental factors of the cosine-branch Box-Muller transform can be
// tabulated once and looked up afterwards. The tables are built with the very
// expressions of the scalar form, so a lookup is bit-identical to computing it.
#pragma once

#include <cstddef>

namespace ringtrap::gaussian_tables {

inline constexpr std::size_t kDrawValues = 32768;

// cos(theta) for theta = (r1 / 32767.0) * 6.2831852, r1 in [0, 32767]. The angle
// factor is the literal 6.2831852, deliberately not 2*pi at full precision.
double angle_cos_scalar(int r1);
// sqrt(-2.0 * log(r2 / 32767.0)), r2 in [0, 32767]; +infinity for r2 = 0 and
// exactly 0.0 for r2 = 32767.
double radius_scalar(int r2);

struct BoxMuller {
    double cos_theta[kDrawValues];  // cos_theta[r1] == angle_cos_scalar(r1)
    double radius[kDrawValues];     // radius[r2] == radius_scalar(r2)
};

// The tables: computed at build time and kept in read-only data when the
// build could run its generator, otherwise built here once (thread-safe).
const BoxMuller* build_box_muller();
// Whether this build carries the build-time tables (a process then spends
// nothing on them at start-up).
bool tables_are_built_in() noexcept;

// The tables, built on first use. Inline so that the hot path pays one
// predictable initialisation check rather than a call.
inline const BoxMuller& box_muller() {
    static const BoxMuller* const tables = build_box_muller();
    return *tables;
}

}  // namespace ringtrap::gaussian_tables
