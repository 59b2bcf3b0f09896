#include "sig_compress.h"

#include <bit>
#include <cstring>

namespace ringtrap {

namespace {

// Appends bits least significant first; bytes are written out as they fill.
class BitWriter {
public:
    BitWriter(std::uint8_t* out, std::size_t bytes) : out_(out), bytes_(bytes) {}

    // Appends the n <= 57 low bits of v; false once the output is full.
    bool put(std::uint64_t v, unsigned n) {
        acc_ |= (v & ((std::uint64_t{1} << n) - 1)) << fill_;
        fill_ += n;
        while (fill_ >= 8) {
            if (pos_ == bytes_) return false;
            out_[pos_++] = static_cast<std::uint8_t>(acc_);
            acc_ >>= 8;
            fill_ -= 8;
        }
        return true;
    }

    // Flushes the last partial byte and pads with zero bytes.
    bool finish() {
        if (fill_ > 0) {
            if (pos_ == bytes_) return false;
            out_[pos_++] = static_cast<std::uint8_t>(acc_);
        }
        std::memset(out_ + pos_, 0, bytes_ - pos_);
        return true;
    }

private:
    std::uint8_t* out_;
    std::size_t bytes_;
    std::size_t pos_ = 0;
    std::uint64_t acc_ = 0;
    unsigned fill_ = 0;
};

// Reads bits least significant first.
class BitReader {
public:
    BitReader(const std::uint8_t* in, std::size_t bytes) : in_(in), bytes_(bytes) {}

    // The next n <= 56 bits as an integer; false when the input ends first.
    bool get(unsigned n, std::uint64_t& v) {
        if (fill_ < n) {
            top_up();
            if (fill_ < n) return false;
        }
        v = acc_ & ((std::uint64_t{1} << n) - 1);
        acc_ >>= n;
        fill_ -= n;
        return true;
    }

    // A unary count: the number of one bits before the next zero bit, which is
    // consumed too. False when the input ends first or the count exceeds max.
    // Reads whole runs of ones at a time (acc_ holds fill_ bits, zeros above).
    bool get_unary(std::uint64_t max, std::uint64_t& count) {
        count = 0;
        for (;;) {
            if (fill_ == 0) {
                top_up();
                if (fill_ == 0) return false;
            }
            const auto ones = static_cast<unsigned>(std::countr_one(acc_));
            if (ones < fill_) {
                count += ones;
                acc_ >>= ones + 1;
                fill_ -= ones + 1;
                return count <= max;
            }
            count += fill_;
            acc_ = 0;
            fill_ = 0;
            if (count > max) return false;
        }
    }

    // Whole bytes into the accumulator until it holds at least 56 bits or the
    // input ends: eight at a time (one load) while they last.
    void top_up() {
        if (fill_ >= 56) return;
        if (bytes_ - pos_ >= 8) {
            std::uint64_t w = 0;
            for (unsigned i = 0; i < 8; ++i) w |= std::uint64_t{in_[pos_ + i]} << (8 * i);
            const unsigned take = (63 - fill_) / 8;  // 1..7 bytes: fill_ ends in [56, 63]
            acc_ |= (w & ((std::uint64_t{1} << (8 * take)) - 1)) << fill_;
            pos_ += take;
            fill_ += 8 * take;
            return;
        }
        while (fill_ < 56 && pos_ < bytes_) {
            acc_ |= std::uint64_t{in_[pos_++]} << fill_;
            fill_ += 8;
        }
    }

    // Whether every bit after the current position is zero.
    bool rest_is_zero() const {
        if (acc_ != 0) return false;
        for (std::size_t i = pos_; i < bytes_; ++i)
            if (in_[i] != 0) return false;
        return true;
    }

private:
    const std::uint8_t* in_;
    std::size_t bytes_;
    std::size_t pos_ = 0;
    std::uint64_t acc_ = 0;
    unsigned fill_ = 0;
};

}  // namespace

bool encode_compressed(const std::uint8_t* salt40, const std::int64_t* x, std::size_t m, unsigned low_bits,
                       std::uint8_t* out, std::size_t out_bytes) {
    auto fail = [&] {
        if (out_bytes > 0) std::memset(out, 0, out_bytes);
        return false;
    };
    if (low_bits > kMaxLowBits || out_bytes < kSaltBytes) return fail();
    std::memcpy(out, salt40, kSaltBytes);
    BitWriter w(out + kSaltBytes, out_bytes - kSaltBytes);
    for (std::size_t i = 0; i < m; ++i) {
        const bool negative = x[i] < 0;
        // |x| without overflow, also for the most negative value.
        const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(x[i]) : static_cast<std::uint64_t>(x[i]);
        const std::uint64_t high = mag >> low_bits;
        if (high > kMaxUnary) return fail();
        // Sign and low bits (at most 49 bits), then the unary part (at most 13).
        if (!w.put(static_cast<std::uint64_t>(negative) | (mag << 1), 1 + low_bits)) return fail();
        if (!w.put((std::uint64_t{1} << high) - 1, static_cast<unsigned>(high) + 1)) return fail();
    }
    if (!w.finish()) return fail();
    return true;
}

bool decode_compressed(const std::uint8_t* in, std::size_t in_bytes, std::size_t m, unsigned low_bits,
                       std::uint8_t* salt40, std::int64_t* x) {
    auto fail = [&] {
        std::memset(salt40, 0, kSaltBytes);
        if (m > 0) std::memset(x, 0, m * sizeof *x);
        return false;
    };
    if (low_bits > kMaxLowBits || in_bytes < kSaltBytes) return fail();
    BitReader r(in + kSaltBytes, in_bytes - kSaltBytes);
    // Signs are random bits: applied with masks rather than branches, and a
    // negative zero is remembered and refused at the end.
    std::uint64_t negative_zero = 0;
    for (std::size_t i = 0; i < m; ++i) {
        std::uint64_t head;
        if (!r.get(1 + low_bits, head)) return fail();
        std::uint64_t high;
        if (!r.get_unary(kMaxUnary, high)) return fail();
        const std::uint64_t negative = head & 1;
        const std::uint64_t mag = (high << low_bits) | (head >> 1);
        negative_zero |= negative & static_cast<std::uint64_t>(mag == 0);
        const std::int64_t mask = -static_cast<std::int64_t>(negative);
        x[i] = (static_cast<std::int64_t>(mag) ^ mask) - mask;
    }
    if (negative_zero != 0 || !r.rest_is_zero()) return fail();
    std::memcpy(salt40, in, kSaltBytes);
    return true;
}

}  // namespace ringtrap
