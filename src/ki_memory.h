// Recycled storage for the key-independent engine's prepared keys.
//
// A prepared key holds a few hundred kilobytes of arrays (S256: about 0.8 MB).
// Fresh blocks of that size come from mmap, so every preparation would fault
// in and zero new pages, and every release would unmap them again; that was
// most of the cost of preparing a key. KeyAllocator takes blocks from a small
// process-wide cache instead (blocks of released arrays, kept up to a total
// of kCacheBytes) and leaves new elements default-initialised (no zero fill:
// every array is written in full before it is read).
//
// Blocks go back to the cache as they are: their owners wipe secrets first
// (as they would before handing memory back to the heap).
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace ringtrap::ki {

namespace block_cache {
inline constexpr std::size_t kCacheBytes = std::size_t{8} << 20;
// A block of at least `bytes` bytes (aligned for any scalar), from the cache
// or the heap; throws std::bad_alloc.
void* take(std::size_t bytes);
// Returns a block of `bytes` bytes obtained from take(bytes).
void give(void* p, std::size_t bytes) noexcept;
}  // namespace block_cache

template <typename T>
struct KeyAllocator {
    using value_type = T;
    KeyAllocator() noexcept = default;
    template <typename U>
    KeyAllocator(const KeyAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(block_cache::take(count * sizeof(T))); }
    void deallocate(T* p, std::size_t count) noexcept { block_cache::give(p, count * sizeof(T)); }
    // Default-initialise (no zero fill) when constructed without arguments.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const KeyAllocator&, const KeyAllocator&) noexcept { return true; }
};

template <typename T>
using KeyVector = std::vector<T, KeyAllocator<T>>;

}  // namespace ringtrap::ki
