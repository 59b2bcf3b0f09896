// Per-operation streams of uniform 64-bit words for the constant-time samplers.
//
// A WordStream is ChaCha20 keyed with 32 seed bytes, nonce 0, block counter
// from 0; word i is keystream bytes 8i .. 8i+7 read little-endian. Each
// operation (a signature, a key generation) takes one stream seeded from the
// process-wide draw source, so its randomness is reproducible from that
// source and no other code can interleave with it.
//
// The words are secret: the stream wipes its key and buffered keystream when
// destroyed or moved from. mark_secret() tells valgrind's memcheck to treat
// them as secret (see ct.h), so that the constant-time check follows every
// word into the samplers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chacha20.h"

namespace ringtrap {

namespace gauss::detail {
struct StreamAccess;
}

class WordStream {
public:
    // ChaCha20 keyed with the 32 seed bytes, nonce 0, block counter from 0;
    // word i = keystream bytes 8i .. 8i+7, little-endian.
    explicit WordStream(const std::uint8_t* seed32);
    // Seed = the next 32 bytes of the process-wide draw source (draw_bytes in
    // RandomGenerator.h). The caller holds DrawLock if it needs whole runs.
    static WordStream from_draws();
    ~WordStream();                      // wipes key and buffered words
    WordStream(WordStream&&) noexcept;  // the source is left wiped and unusable
    WordStream(const WordStream&) = delete;
    WordStream& operator=(const WordStream&) = delete;

    // The next word. Drawing from a moved-from stream terminates the program
    // (it has no key left, and guessable words must never come out of it).
    std::uint64_t next() noexcept {
        if (pos_ == end_) [[unlikely]] refill();
        return buf_[pos_++];
    }
    // The next count words, in order (the same words as count calls of next()).
    void fill(std::uint64_t* out, std::size_t count) noexcept;
    // Words handed out so far (for benchmarks: the keystream an operation
    // needs). Public: the count follows from declassified decisions only.
    std::uint64_t words_used() const noexcept { return counter_ * (chacha20::kBlockBytes / 8) - (end_ - pos_); }
    // ct::secret on the key and the buffer (for the valgrind check).
    void mark_secret() noexcept;

private:
    friend struct gauss::detail::StreamAccess;
    // Words produced by one refill: 16 ChaCha20 blocks.
    static constexpr std::size_t kBlocksPerRefill = 16;
    static constexpr std::size_t kRefillWords = kBlocksPerRefill * chacha20::kBlockBytes / 8;
    // The samplers' bulk paths read up to kMaxWindow unread words in place.
    static constexpr std::size_t kMaxWindow = 256;
    static constexpr std::size_t kCapacity = kMaxWindow + kRefillWords;

    // Empties the buffer and generates the next kRefillWords words.
    void refill() noexcept;
    // At least count <= kMaxWindow unread words in a row, in stream order
    // (unread words move to the front of the buffer and new ones follow them).
    const std::uint64_t* window(std::size_t count) noexcept;
    void advance(std::size_t count) noexcept { pos_ += count; }

    chacha20::Key key_{};
    std::uint64_t counter_ = 0;  // next block to generate
    std::size_t pos_ = 0;        // next unread word of buf_
    std::size_t end_ = 0;        // end of the generated words
    bool usable_ = true;
    alignas(64) std::uint64_t buf_[kCapacity] = {};
};

}  // namespace ringtrap
