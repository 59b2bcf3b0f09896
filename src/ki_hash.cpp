#include "ki_hash.h"

#include <cstring>
#include <string>

#include "secret.h"
#include "sha256.h"

namespace ringtrap::ki {

namespace {

constexpr std::uint32_t kInit[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                    0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};

std::uint32_t load_be32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

}  // namespace

Sha256Stream::Sha256Stream() noexcept { std::memcpy(state_, kInit, sizeof state_); }

void Sha256Stream::compress(const std::uint8_t* block) noexcept {
    static const bool shani = sha256_have_shani();
    std::uint32_t words[16];
    for (std::size_t t = 0; t < 16; ++t) words[t] = load_be32(block + 4 * t);
    if (shani)
        sha256_compress_shani(words, state_);
    else
        sha256_compress_portable(words, state_);
}

void Sha256Stream::update(const std::uint8_t* data, std::size_t len) noexcept {
    if (len == 0) return;  // data may be null
    total_ += len;
    if (fill_ > 0) {
        const std::size_t take = len < 64 - fill_ ? len : 64 - fill_;
        std::memcpy(buf_ + fill_, data, take);
        fill_ += take;
        data += take;
        len -= take;
        if (fill_ < 64) return;
        compress(buf_);
        fill_ = 0;
    }
    for (; len >= 64; data += 64, len -= 64) compress(data);
    if (len > 0) std::memcpy(buf_, data, len);
    fill_ = len;
}

void Sha256Stream::finish(std::uint8_t out[32]) noexcept {
    std::uint8_t tail[128];
    const std::size_t size = sha256_pad_tail(total_, buf_, tail);
    for (std::size_t off = 0; off < size; off += 64) compress(tail + off);
    for (std::size_t i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<std::uint8_t>(state_[i] >> 24);
        out[4 * i + 1] = static_cast<std::uint8_t>(state_[i] >> 16);
        out[4 * i + 2] = static_cast<std::uint8_t>(state_[i] >> 8);
        out[4 * i + 3] = static_cast<std::uint8_t>(state_[i]);
    }
    secure_zero(buf_, sizeof buf_);
    secure_zero(tail, sizeof tail);
}

void hash_to_ring(const KiParamSet& p, const std::uint8_t* salt, const std::uint8_t* msg, std::size_t len,
                  std::int64_t* u) {
    const std::string tag = std::string("ringtrap-") + p.name + "-hash";
    std::uint8_t seed[36];
    Sha256Stream h;
    h.update(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
    h.update(salt, kSaltBytes);
    h.update(msg, len);
    h.finish(seed);
    const std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << p.q_bits()) - 1);
    const auto q = static_cast<std::uint32_t>(p.q);
    const auto n = static_cast<std::size_t>(p.n);
    std::size_t filled = 0;
    for (std::uint32_t counter = 0; filled < n; ++counter) {
        for (std::size_t b = 0; b < 4; ++b) seed[32 + b] = static_cast<std::uint8_t>(counter >> (8 * b));
        std::uint8_t block[32];
        Sha256Stream hb;
        hb.update(seed, sizeof seed);
        hb.finish(block);
        for (std::size_t w = 0; w < 8 && filled < n; ++w) {
            const std::uint32_t v = (std::uint32_t{block[4 * w]} | std::uint32_t{block[4 * w + 1]} << 8 |
                                     std::uint32_t{block[4 * w + 2]} << 16 | std::uint32_t{block[4 * w + 3]} << 24) &
                                    mask;
            if (v < q) u[filled++] = v;
        }
    }
}

}  // namespace ringtrap::ki
