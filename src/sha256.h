// SHA-256 (FIPS 180-4): incremental (Sha256), in one call over a message held
// in memory (sha256, sha256_words, both through Sha256), and a one-block entry
// point for rehashing a 32-byte digest, which the message hash chains.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ringtrap {

inline constexpr std::size_t kSha256DigestBytes = 32;
inline constexpr std::size_t kSha256BlockBytes = 64;

// The chaining words of a digest: word i is bytes 4i..4i+3 of the digest read
// big-endian. Convenient for callers that consume the digest as words.
using Sha256State = std::array<std::uint32_t, 8>;

// Incremental SHA-256: update() with the message in pieces of any size, then
// final_words() or final() once. Whole blocks are compressed straight from the
// caller's memory; only a partial block is copied (and wiped by final).
class Sha256 {
public:
    Sha256() noexcept;
    // data may be null when len == 0. The total length is counted modulo 2^64
    // bytes; its bit count modulo 2^64 (see sha256 on lengths).
    void update(const std::uint8_t* data, std::uint64_t len) noexcept;
    // The digest of everything given to update; the object is spent afterwards.
    Sha256State final_words() noexcept;
    void final(std::uint8_t out[kSha256DigestBytes]) noexcept;

private:
    Sha256State state_;
    std::uint8_t buf_[kSha256BlockBytes] = {};
    std::size_t fill_ = 0;  // bytes waiting in buf_, below one block
    std::uint64_t total_ = 0;
};

// Writes the SHA-256 digest of the `length` bytes at `data` to the 32 bytes at
// `out`. With out == nullptr the digest is computed and discarded. With
// length == 0 `data` is not read (it may be null).
//
// The length is a full 64-bit byte count and is encoded as the 64-bit bit count
// length * 8, so messages of 4 GiB and more hash as FIPS 180-4 says. Counts of
// 2^61 bytes or more have no 64-bit bit count (the standard's limit); their bit
// count wraps modulo 2^64. No such message can be held in memory.
//
// Returns 0. The one exception is data == nullptr with length > 0: nothing is
// read or written and the result is -1.
int sha256(const std::uint8_t* data, std::uint64_t length, std::uint8_t* out);

// As sha256, returning the eight words of the digest instead of its bytes.
// Requires data != nullptr whenever length > 0.
Sha256State sha256_words(const std::uint8_t* data, std::uint64_t length);

// Replaces `words` (a digest as eight words) by the words of the SHA-256 digest
// of its 32-byte big-endian encoding. Same result as sha256 over those 32
// bytes, but it compresses the single padded block directly.
void sha256_rehash_digest(Sha256State& words);

// Builds the padded tail of a message of `total_length` bytes whose last
// total_length mod 64 bytes are at `tail` (not read when that remainder is 0):
// the leftover bytes, 0x80, zeros and the 64-bit big-endian bit count. Writes
// the tail to `out` and returns its size, 64 or 128 bytes; bytes of `out`
// beyond that size are zero.
std::size_t sha256_pad_tail(std::uint64_t total_length, const std::uint8_t* tail, std::uint8_t (&out)[128]);

// The compression function on one block given as its sixteen big-endian
// message words: portable, and with the x86 SHA extensions (same results; the
// _shani one falls back to the portable code unless sha256_have_shani()).
// Every hash above dispatches to the faster one.
void sha256_compress_portable(const std::uint32_t* block_words, std::uint32_t* state) noexcept;
void sha256_compress_shani(const std::uint32_t* block_words, std::uint32_t* state) noexcept;
bool sha256_have_shani() noexcept;

}  // namespace ringtrap
