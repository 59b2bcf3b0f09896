#include "secret.h"

#include <cstring>
#include <new>

namespace ringtrap {

namespace {
// Whole cache lines, and enough for any vector load of the transforms.
constexpr std::align_val_t kSecretAlignment{64};
}  // namespace

void secure_zero(void* p, std::size_t len) noexcept {
    if (p == nullptr || len == 0) return;
    std::memset(p, 0, len);
    // The empty asm claims to read the memory behind p, so the compiler cannot
    // drop the memset as a dead store; memset itself stays at full speed.
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

bool equal_bytes_ct(const void* a, const void* b, std::size_t len) noexcept {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    std::uint64_t diff = 0;
    std::size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        std::uint64_t u, v;
        std::memcpy(&u, x + i, 8);
        std::memcpy(&v, y + i, 8);
        diff |= u ^ v;
    }
    for (; i < len; ++i) diff |= static_cast<std::uint64_t>(x[i] ^ y[i]);
    return diff == 0;
}

// Declared in ringtrap.h: the public SecretBytes allocates through these too.
void* detail::allocate_secret(std::size_t bytes) {
    void* p = ::operator new(bytes == 0 ? 1 : bytes, kSecretAlignment);
    std::memset(p, 0, bytes);
    return p;
}

void detail::release_secret(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    secure_zero(p, bytes);
    ::operator delete(p, kSecretAlignment);
}

}  // namespace ringtrap
