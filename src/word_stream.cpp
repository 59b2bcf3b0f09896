#include "word_stream.h"

#include <bit>
#include <cstring>
#include <exception>
#include <utility>

#include "RandomGenerator.h"
#include "common.h"
#include "ct.h"

namespace ringtrap {

WordStream::WordStream(const std::uint8_t* seed32) : key_(chacha20::load_key(seed32)) {}

WordStream WordStream::from_draws() {
    std::uint8_t seed[32];
    draw_bytes(seed, sizeof seed);
    WordStream ws(seed);
    secure_zero(seed, sizeof seed);
    return ws;
}

WordStream::~WordStream() {
    secure_zero(key_.data(), sizeof key_);
    secure_zero(buf_, sizeof buf_);
    secure_zero(&counter_, sizeof counter_);
}

WordStream::WordStream(WordStream&& other) noexcept
    : key_(other.key_), counter_(other.counter_), pos_(other.pos_), usable_(other.usable_) {
    std::memcpy(buf_, other.buf_, sizeof buf_);
    secure_zero(other.key_.data(), sizeof other.key_);
    secure_zero(other.buf_, sizeof other.buf_);
    other.counter_ = 0;
    other.pos_ = kBufferWords;
    other.usable_ = false;
}

void WordStream::refill() noexcept {
    if (!usable_) std::terminate();
    chacha20::blocks(key_, counter_, 0, reinterpret_cast<std::uint8_t*>(buf_), kBlocksPerRefill);
    if constexpr (std::endian::native == std::endian::big) {
        for (auto& w : buf_) w = __builtin_bswap64(w);
    }
    counter_ += kBlocksPerRefill;
    pos_ = 0;
}

void WordStream::fill(std::uint64_t* out, std::size_t count) noexcept {
    while (count > 0) {
        if (pos_ == kBufferWords) refill();
        const std::size_t take = count < kBufferWords - pos_ ? count : kBufferWords - pos_;
        std::memcpy(out, buf_ + pos_, take * sizeof *out);
        pos_ += take;
        out += take;
        count -= take;
    }
}

void WordStream::mark_secret() noexcept {
    ct::secret(key_.data(), sizeof key_);
    ct::secret(buf_, sizeof buf_);
}

}  // namespace ringtrap
