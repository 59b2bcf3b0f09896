// The ChaCha20 keystream generator (20 rounds, 256-bit key), the core of the
// default draw source.
//
// State words 12 and 13 hold a 64-bit block counter (low word first) and words
// 14 and 15 a 64-bit nonce. For counters below 2^32 this is exactly the
// 32-bit-counter, 96-bit-nonce layout of RFC 8439 with nonce words
// (counter >> 32, nonce_lo, nonce_hi), so the RFC test vectors apply; past 2^32
// blocks the counter carries into word 13 instead of wrapping, so a stream
// never repeats itself.
//
// Four implementations produce identical bytes: a one-block reference, a
// portable multi-block routine written lane by lane so that compilers can
// vectorise it, and AVX2 and AVX-512 routines (x86 only, chosen at run time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ringtrap::chacha20 {

inline constexpr std::size_t kBlockBytes = 64;
// Blocks produced by one pass of the multi-block routines.
inline constexpr std::size_t kLanes = 8;

using Key = std::array<std::uint32_t, 8>;  // the 32 key bytes as little-endian words

// The key words of 32 key bytes (little-endian).
Key load_key(const std::uint8_t bytes[32]) noexcept;

// The quarter round on four state words, in place.
void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) noexcept;

// One 64-byte keystream block for (key, counter, nonce). The reference
// implementation: plain, one block at a time.
void block_ref(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t out[kBlockBytes]) noexcept;

// nblocks consecutive keystream blocks starting at `counter`, written to
// out[0 .. 64 * nblocks). The portable routine, and the dispatching one that
// uses AVX2 when the processor has it. Both give the bytes of block_ref.
void blocks_portable(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                     std::size_t nblocks) noexcept;
void blocks(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out, std::size_t nblocks) noexcept;

// Whether blocks_avx2 exists in this build and the processor can run it.
bool have_avx2() noexcept;
// The AVX2 routine. Call only when have_avx2(); otherwise it falls back to the
// portable routine.
void blocks_avx2(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                 std::size_t nblocks) noexcept;

// The AVX-512 routine: sixteen blocks per pass in 512-bit vectors, then
// eight-block passes on 256-bit vectors with the AVX-512VL rotate for the
// rest; and whether this build and processor have it (AVX-512F and VL).
// blocks() prefers it. Falls back to the portable routine when called
// without it.
bool have_avx512vl() noexcept;
void blocks_avx512vl(const Key& key, std::uint64_t counter, std::uint64_t nonce, std::uint8_t* out,
                     std::size_t nblocks) noexcept;

// RFC 8439 addressing: 32-bit initial counter and 96-bit nonce given as bytes.
// Writes `len` keystream bytes. For tests against the published vectors.
void keystream_rfc8439(const std::uint8_t key[32], std::uint32_t counter, const std::uint8_t nonce[12],
                       std::uint8_t* out, std::size_t len) noexcept;

}  // namespace ringtrap::chacha20
