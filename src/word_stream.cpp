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
    : key_(other.key_), counter_(other.counter_), pos_(other.pos_), end_(other.end_), usable_(other.usable_) {
    std::memcpy(buf_, other.buf_, sizeof buf_);
    secure_zero(other.key_.data(), sizeof other.key_);
    secure_zero(other.buf_, sizeof other.buf_);
    other.counter_ = 0;
    other.pos_ = other.end_ = 0;
    other.usable_ = false;
}

namespace {
void generate(const chacha20::Key& key, std::uint64_t counter, std::uint64_t* out, std::size_t blocks) noexcept {
    chacha20::blocks(key, counter, 0, reinterpret_cast<std::uint8_t*>(out), blocks);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < blocks * chacha20::kBlockBytes / 8; ++i) out[i] = __builtin_bswap64(out[i]);
    }
}
}  // namespace

void WordStream::refill() noexcept {
    if (!usable_) std::terminate();
    generate(key_, counter_, buf_, kBlocksPerRefill);
    counter_ += kBlocksPerRefill;
    pos_ = 0;
    end_ = kRefillWords;
}

const std::uint64_t* WordStream::window(std::size_t count) noexcept {
    if (end_ - pos_ < count) {
        if (!usable_ || count > kMaxWindow) std::terminate();
        // left < count <= kMaxWindow, and at most two refills follow it (the
        // second only when left < kRefillWords): it all fits in kCapacity.
        const std::size_t left = end_ - pos_;
        std::memmove(buf_, buf_ + pos_, left * sizeof *buf_);
        pos_ = 0;
        end_ = left;
        while (end_ < count) {
            generate(key_, counter_, buf_ + end_, kBlocksPerRefill);
            counter_ += kBlocksPerRefill;
            end_ += kRefillWords;
        }
    }
    return buf_ + pos_;
}

void WordStream::fill(std::uint64_t* out, std::size_t count) noexcept {
    while (count > 0) {
        if (pos_ == end_) refill();
        const std::size_t take = count < end_ - pos_ ? count : end_ - pos_;
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
