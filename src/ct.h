// Constant-time discipline for the key-independent parameter sets.
//
// Code on secret values must not branch on them, index memory with them or
// feed them to instructions whose timing depends on the operands. valgrind's
// memcheck checks exactly that when secrets are marked as undefined memory:
// every branch, address or system call that depends on them is reported. The
// annotations below do the marking; they compile to nothing without the
// valgrind headers and cost a few instructions outside valgrind, so they stay
// in every build. Defining RINGTRAP_NO_CT_ANNOTATIONS removes them, which is
// only useful to measure what they cost.
//
// `declassify` is the one way to let a value decide a branch: use it only where
// the value is public or independent of the secrets by construction, with a
// one-line comment saying why it leaks nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(__has_include) && !defined(RINGTRAP_NO_CT_ANNOTATIONS)
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define RINGTRAP_CT_MEMCHECK 1
#endif
#endif

namespace ringtrap::ct {

// Marks len bytes at p as secret (undefined for memcheck).
inline void secret(const void* p, std::size_t len) noexcept {
#ifdef RINGTRAP_CT_MEMCHECK
    (void)VALGRIND_MAKE_MEM_UNDEFINED(p, len);
#else
    (void)p;
    (void)len;
#endif
}

// Marks len bytes at p as public again.
inline void declassify(const void* p, std::size_t len) noexcept {
#ifdef RINGTRAP_CT_MEMCHECK
    (void)VALGRIND_MAKE_MEM_DEFINED(p, len);
#else
    (void)p;
    (void)len;
#endif
}

// A copy of v that may decide branches (see the rule above).
template <typename T>
inline T declassified(T v) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    declassify(&v, sizeof v);
    return v;
}

// True when running under valgrind (for the check's own self-test).
inline bool under_valgrind() noexcept {
#ifdef RINGTRAP_CT_MEMCHECK
    return RUNNING_ON_VALGRIND != 0;
#else
    return false;
#endif
}

// All ones when the condition bit is 1, zero when it is 0.
inline std::uint64_t mask_from_bit(std::uint64_t bit) noexcept { return 0 - (bit & 1); }

// a when mask is all ones, b when it is zero.
inline std::uint64_t select(std::uint64_t mask, std::uint64_t a, std::uint64_t b) noexcept { return b ^ (mask & (a ^ b)); }

// 1 when a < b (unsigned), without a comparison instruction the compiler could
// turn into a branch.
inline std::uint64_t lt(std::uint64_t a, std::uint64_t b) noexcept {
    return ((a ^ ((a ^ b) | ((a - b) ^ b))) >> 63);
}

}  // namespace ringtrap::ct
