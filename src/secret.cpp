#include "secret.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define RINGTRAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RINGTRAP_ASAN 1
#endif
#endif
#ifdef RINGTRAP_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace ringtrap {

namespace {
// Whole cache lines, and enough for any vector load of the transforms.
constexpr std::align_val_t kSecretAlignment{64};

// Released blocks of secret memory kept for reuse. A prepared key of the
// larger sets holds about 0.8 MB; blocks that size come fresh from the system
// as new pages, and faulting them in was most of the cost of preparing a key.
// Kept blocks were wiped on release, so they are all zero and are handed out
// again without another fill. Small blocks are cheap from the heap and are not
// kept (they would only crowd the list).
constexpr std::size_t kCacheBytes = std::size_t{8} << 20;
constexpr std::size_t kMinCachedBytes = 4096;

class BlockCache {
public:
    // Room for every block the byte cap allows, so that keeping one never
    // allocates (release is noexcept).
    BlockCache() { blocks_.reserve(kCacheBytes / kMinCachedBytes); }

    // A kept block of exactly `bytes` bytes, or null.
    void* take(std::size_t bytes) noexcept {
        std::lock_guard<std::mutex> lock(mu_);
        for (std::size_t i = blocks_.size(); i-- > 0;) {
            if (blocks_[i].second != bytes) continue;
            void* p = blocks_[i].first;
            blocks_[i] = blocks_.back();
            blocks_.pop_back();
            held_ -= bytes;
            return p;
        }
        return nullptr;
    }

    // Keeps a wiped block; false when it does not fit under the cap.
    bool keep(void* p, std::size_t bytes) noexcept {
        std::lock_guard<std::mutex> lock(mu_);
        if (held_ + bytes > kCacheBytes) return false;
        blocks_.emplace_back(p, bytes);
        held_ += bytes;
        return true;
    }

private:
    std::mutex mu_;
    std::vector<std::pair<void*, std::size_t>> blocks_;
    std::size_t held_ = 0;
};

// Never destroyed: static objects (the byte interface's kept key pair) release
// their memory during exit, after a function-local static here would be gone.
BlockCache& block_cache() {
    static BlockCache* const cache = new BlockCache;
    return *cache;
}

// A kept block is off limits until it is handed out again, so that the
// address sanitizer still reports a use after release.
void mark_kept(void* p, std::size_t bytes) noexcept {
#ifdef RINGTRAP_ASAN
    ASAN_POISON_MEMORY_REGION(p, bytes);
#else
    (void)p;
    (void)bytes;
#endif
}

void mark_handed_out(void* p, std::size_t bytes) noexcept {
#ifdef RINGTRAP_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
#else
    (void)p;
    (void)bytes;
#endif
}
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
    if (bytes >= kMinCachedBytes) {
        if (void* p = block_cache().take(bytes)) {
            mark_handed_out(p, bytes);
            return p;  // zero since its release
        }
    }
    void* p = ::operator new(bytes == 0 ? 1 : bytes, kSecretAlignment);
    std::memset(p, 0, bytes);
    return p;
}

void detail::release_secret(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    secure_zero(p, bytes);
    if (bytes >= kMinCachedBytes) {
        // Marked before it is listed: another thread may take it at once.
        mark_kept(p, bytes);
        if (block_cache().keep(p, bytes)) return;
        mark_handed_out(p, bytes);
    }
    ::operator delete(p, kSecretAlignment);
}

}  // namespace ringtrap
