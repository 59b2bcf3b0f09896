// Shared helpers of the key-independent engine's tests: toy parameter sets and
// sample counts.
#pragma once

#include "ki_params.h"

namespace ringtrap::ki::testing {

// Sample counts of the statistical tests: full size in optimised builds, a
// tenth without optimisation or under sanitizers (those runs check memory and
// undefined behaviour; the tolerances follow the count either way).
constexpr int samples(int full) {
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
    return full / 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
    return full / 10;
#else
    return full;
#endif
#else
    return full;
#endif
}

}  // namespace ringtrap::ki::testing

namespace ringtrap::ki {

// Toy rings for the statistical tests, small enough for dense covariance
// matrices: q = 16193 = 506 * 32 + 1, which has 14 binary and 7 base-4 digits
// (0.75 * 4^7 = 12288 <= q < 4^7). n = 16: psi = 1919 or 1150, 16 * (-1012) =
// 1; n = 8: psi = 6750, psi_inv = 463, 8 * (-2024) = 1. K_T = 6 makes the
// trapdoor's share of the covariance large enough to matter. rho, s1_max (the
// exact law's 90 % point; toy8: the real sampler's 90th percentile), K_w and s
// follow the rules of the real sets (tools/estimate.py design()).
inline constexpr KiParamSet kToy16{
    .name = "toy16", .level = 0, .n = 16, .log_n = 4, .q = 16193, .base = 2, .k = 14, .psi = 1919,
    .psi_inv = 14075, .n_inv = -1012, .K_T = 6, .r = 1.70, .rho = 5.1447388829364753, .s1_max = 108.0,
    .K_w = 696, .s = 591.15036056980261, .tau = 1.04, .beta_squared = 96761493, .low_bits = 9,
    .signature_bytes = 431};
inline constexpr KiParamSet kToy8{
    .name = "toy8", .level = 0, .n = 8, .log_n = 3, .q = 16193, .base = 2, .k = 14, .psi = 6750,
    .psi_inv = 463, .n_inv = -2024, .K_T = 6, .r = 1.70, .rho = 5.1447388829364753, .s1_max = 75.0,
    .K_w = 512, .s = 434.88319436093622, .tau = 1.04, .beta_squared = 26183150, .low_bits = 8,
    .signature_bytes = 229};
// The base-4 gadget on the same ring as kToy16.
inline constexpr KiParamSet kToy16b4{
    .name = "toy16b4", .level = 0, .n = 16, .log_n = 4, .q = 16193, .base = 4, .k = 7, .psi = 1150,
    .psi_inv = 9054, .n_inv = -1012, .K_T = 6, .r = 1.70, .rho = 8.433483679983144, .s1_max = 86.0,
    .K_w = 886, .s = 752.5463718640978, .tau = 1.467, .beta_squared = 175504902, .low_bits = 9,
    .signature_bytes = 264};

static_assert(check_ki_params(kToy16) && check_ki_params(kToy8) && check_ki_params(kToy16b4));

}  // namespace ringtrap::ki
