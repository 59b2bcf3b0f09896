// Shared by the fuzz targets: reading structured values out of the fuzz input,
// a check that turns a broken promise into a crash libFuzzer reports, and a
// reference key pair per level made once, from a fixed seed, at start-up.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "RandomGenerator.h"
#include "codec.h"
#include "params.h"
#include "ringtrap.h"

namespace ringtrap::fuzz {

// Aborts (a crash, for libFuzzer) when a promise is broken.
inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Consumes the fuzz input front to back; reads past the end give zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Little-endian, 3 bytes: enough for any object size of either level.
    std::size_t u24() {
        const std::size_t b0 = byte(), b1 = byte(), b2 = byte();
        return b0 | b1 << 8 | b2 << 16;
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        count = std::min(count, size_ - pos_);
        const std::span<const std::uint8_t> out(data_ + pos_, count);
        pos_ += count;
        return out;
    }
    std::span<const std::uint8_t> rest() { return take(size_ - pos_); }
    bool empty() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline Bytes to_bytes(std::span<const std::uint8_t> s) { return Bytes(s.begin(), s.end()); }

// Cut or zero-padded to exactly `size` bytes: the byte interface always reads
// full-size buffers.
inline Bytes fitted(std::span<const std::uint8_t> s, std::size_t size) {
    Bytes out(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(size, s.size())));
    out.resize(size, 0);
    return out;
}

inline const std::uint8_t* data_or_null(const Bytes& b) { return b.empty() ? nullptr : b.data(); }

inline const ParamSet& params_of(Level level) { return level == Level::L256 ? kParams256 : kParams128; }

// FNV-1a, to seed the draw source from the input so a run is reproducible.
inline std::uint64_t input_hash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

// A key pair, one message and its signature, for inputs that edit valid
// objects rather than build them from nothing. Fixed seed: the same pair in
// every run, so saved inputs replay.
struct Reference {
    KeyPair pair;
    Bytes msg;
    Bytes sig;
};

inline const Reference& reference(Level level) {
    static const std::array<Reference, 2> refs = [] {
        seed_draws(0x5eed);
        Reference r128{generate_keypair(Level::L128), Bytes{'f', 'u', 'z', 'z'}, {}};
        Reference r256{generate_keypair(Level::L256), Bytes{'f', 'u', 'z', 'z'}, {}};
        r128.sig = sign(r128.pair.secret_key, r128.pair.public_key, r128.msg);
        r256.sig = sign(r256.pair.secret_key, r256.pair.public_key, r256.msg);
        return std::array<Reference, 2>{std::move(r128), std::move(r256)};
    }();
    return refs[level == Level::L256 ? 1 : 0];
}

// Applies `count` edits read from the input to the concatenation of the
// buffers: each edit is a 3-byte position (modulo the total size) and a
// non-zero XOR mask.
template <typename A, typename B>
void apply_edits(Input& in, std::size_t count, A& first, B& second) {
    const std::size_t total = first.size() + second.size();
    for (std::size_t e = 0; e < count && !in.empty() && total > 0; ++e) {
        const std::size_t pos = in.u24() % total;
        const std::uint8_t b = in.byte();
        const std::uint8_t mask = b != 0 ? b : 0x80;
        if (pos < first.size())
            first[pos] ^= mask;
        else
            second[pos - first.size()] ^= mask;
    }
}

}  // namespace ringtrap::fuzz
