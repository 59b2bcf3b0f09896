// Secret memory: the one place that wipes.
//
// Trapdoor rows, their transforms, signing workspaces, the draw source's key
// and keystream, cached secret keys: every secret the library holds for longer
// than one expression lives in a SecretBuffer, which zeroes it on destruction,
// on reassignment and when moved from (the source keeps nothing). Short-lived
// fixed-size arrays on the stack are cleared with secure_zero before they go.
//
// Released blocks of 4 KiB and more are kept (wiped, so all zero) in a small
// process-wide cache, up to 8 MB, and handed out again for requests of the
// same size: preparing a key then reuses the pages of the last one instead of
// faulting in fresh ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "ringtrap.h"  // detail::allocate_secret, detail::release_secret (SecretBytes uses them too)

namespace ringtrap {

// Overwrites len bytes at p with zeros in a way the compiler may not elide.
void secure_zero(void* p, std::size_t len) noexcept;

// True when the len bytes at a and b are equal, in time that depends only on
// len (no early exit that would tell how much of a secret a guess has right).
[[nodiscard]] bool equal_bytes_ct(const void* a, const void* b, std::size_t len) noexcept;

// An owning array of `size()` elements on the heap, zero-initialised and
// 64-byte aligned. Moves hand the array over and leave the source empty;
// destruction and assignment wipe what was held. No implicit copy: clone()
// makes one explicitly.
template <typename T>
class SecretBuffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "a secret buffer holds plain values that zero bytes can represent");

public:
    constexpr SecretBuffer() noexcept = default;
    explicit SecretBuffer(std::size_t count) : data_(allocate(count)), size_(count) {}
    SecretBuffer(SecretBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    SecretBuffer& operator=(SecretBuffer&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;
    ~SecretBuffer() { release(); }

    [[nodiscard]] SecretBuffer clone() const {
        SecretBuffer copy(size_);
        if (size_ != 0) std::memcpy(copy.data_, data_, size_ * sizeof(T));
        return copy;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }

    // Zeroes the contents and keeps the array.
    void wipe() noexcept { secure_zero(data_, size_ * sizeof(T)); }
    // Wipes and releases the array; the buffer is empty afterwards.
    void reset() noexcept { release(); }

private:
    static T* allocate(std::size_t count) {
        if (count == 0) return nullptr;
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        // Zero bytes are a valid T (static_assert above); the allocation
        // creates the array implicitly.
        return static_cast<T*>(detail::allocate_secret(count * sizeof(T)));
    }
    void release() noexcept {
        if (data_ != nullptr) detail::release_secret(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace ringtrap
