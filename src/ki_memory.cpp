#include "ki_memory.h"

#include <cstdlib>
#include <mutex>

namespace ringtrap::ki::block_cache {

namespace {

struct Cache {
    std::mutex mu;
    std::vector<std::pair<void*, std::size_t>> blocks;  // free blocks and their sizes
    std::size_t bytes = 0;
};

// Never destroyed: prepared keys held by other static objects (the byte
// interface's kept key pair) give their blocks back during exit, after any
// function-local static here would be gone.
Cache& cache() {
    static Cache* const c = new Cache;
    return *c;
}

}  // namespace

void* take(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    {
        Cache& c = cache();
        std::lock_guard<std::mutex> lock(c.mu);
        for (std::size_t i = c.blocks.size(); i-- > 0;) {
            if (c.blocks[i].second != bytes) continue;
            void* p = c.blocks[i].first;
            c.blocks[i] = c.blocks.back();
            c.blocks.pop_back();
            c.bytes -= bytes;
            return p;
        }
    }
    void* p = std::malloc(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void give(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes == 0) bytes = 1;
    Cache& c = cache();
    {
        std::lock_guard<std::mutex> lock(c.mu);
        if (c.bytes + bytes <= kCacheBytes) {
            try {
                c.blocks.emplace_back(p, bytes);
                c.bytes += bytes;
                return;
            } catch (...) {
                // No room to remember the block: free it below.
            }
        }
    }
    std::free(p);
}

}  // namespace ringtrap::ki::block_cache
