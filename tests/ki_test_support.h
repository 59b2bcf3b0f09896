// Shared helpers of the key-independent engine's tests.
#pragma once

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
