// Randomness: the single draw source, uniform and continuous Gaussian sources,
// and the discrete Gaussian samplers built on them.
//
// Every random value of the library is computed from draws of `draw()`, each an
// integer in [0, 32767]. Above it everything is deterministic, so a fixed seed
// (or a scripted source) reproduces a run exactly.
//
// Two kinds of source:
// - Operating-system entropy (the default): every thread has a ChaCha20 stream
//   of its own, keyed with 32 bytes from the operating system on first use,
//   so threads never wait for each other's draws. Fast key erasure: each refill
//   generates the next key together with the output and overwrites the old key
//   at once, so no key that produced past output stays in memory.
// - Shared (deterministic) sources, for known-answer runs and tests only: a
//   ChaCha20 stream keyed by seed_draws (nonce 0, block counter from 0, the
//   key kept for the whole run), or a caller's function (set_draw_source). All
//   threads share the one stream under DrawLock.
// Draw mapping, fixed because known-answer files depend on it: draw i is
// keystream bytes 2i and 2i+1 read as a little-endian 16-bit value with its
// top bit cleared, i.e. (b[2i] | b[2i+1] << 8) & 0x7fff. Drawn keystream is
// wiped from the buffer when the operation (the outermost DrawLock) ends, or
// at once by draw_bytes.
//
// Every drawing function here (and the record-level KeyGen, Sign and samplers)
// holds DrawLock for its whole run, so that with a shared source each
// operation takes its draws as one uninterrupted run of the stream. draw()
// itself takes no lock: callers of it hold a DrawLock. A change of source is
// seen by another thread at its next DrawLock.
//
// A forked child never continues its parent's operating-system stream: it
// keys a fresh one. A seeded source is inherited as it is, so the child
// continues the same deterministic stream.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

#include "common.h"
#include "gaussian_tables.h"
#include "secret.h"

namespace ringtrap {

namespace detail {

// Bytes per keystream refill: 64 ChaCha20 blocks, so that the fixed cost of
// a refill (and of the key taken from it by an operating-system stream) is
// spread over a few thousand draws.
inline constexpr std::size_t kDrawBufferBytes = 64 * 64;

// The buffer a thread draws from: bytes[cursor .. limit) is unread keystream.
// It is either the thread's own stream, the shared stream (a custom source
// sets its limit to 0, so every draw takes the slow path), or an empty buffer
// before the first draw. The fast path of draw() reads it while cursor < limit.
struct DrawBuffer {
    std::size_t cursor = 0;       // next unread byte (always even)
    std::size_t limit = 0;
    std::uint8_t* bytes = nullptr;
    std::size_t wiped = 0;        // bytes[wiped .. cursor) are drawn but not yet wiped
};

extern thread_local constinit DrawBuffer* t_draw_view;
extern thread_local constinit int t_draw_lock_depth;

inline DrawBuffer& draw_buffer() noexcept { return *t_draw_view; }

// Refills the buffer (keying the source first if needed) or asks the custom
// source, then returns the next draw.
int draw_slow();

}  // namespace detail

// The next draw: an integer in [0, 32767], every value equally likely. Throws
// ringtrap::Error (entropy_unavailable) when the source has to be keyed from OS
// entropy and the operating system cannot supply it.
inline int draw() {
    detail::DrawBuffer& b = detail::draw_buffer();
    if (b.cursor < b.limit) [[likely]] {
        const int v = b.bytes[b.cursor] | b.bytes[b.cursor + 1] << 8;
        b.cursor += 2;
        return v & 0x7fff;
    }
    return detail::draw_slow();
}

namespace detail {

// The two draws of one Gaussian sample, r1 then r2, with zero second draws
// skipped (r2 in [1, 32767]). Exactly the draws of draw() followed by draws
// until one is non-zero; when the buffer holds four more bytes and the second
// draw is not zero, both come from one 32-bit load.
inline void draw_gaussian_pair(int& r1, int& r2) {
    if constexpr (std::endian::native == std::endian::little) {
        DrawBuffer& b = draw_buffer();
        if (b.cursor + 4 <= b.limit) [[likely]] {
            std::uint32_t w;
            std::memcpy(&w, b.bytes + b.cursor, sizeof w);
            r2 = static_cast<int>((w >> 16) & 0x7fff);
            if (r2 != 0) [[likely]] {
                r1 = static_cast<int>(w & 0x7fff);
                b.cursor += 4;
                return;
            }
        }
    }
    r1 = draw();
    r2 = draw();
    while (r2 == 0) r2 = draw();
}

// One continuous sample, c + cos(theta) (sigma rho), from the tables.
inline double gaussian_sample(const gaussian_tables::BoxMuller& t, double c, double sigma) {
    int r1, r2;
    draw_gaussian_pair(r1, r2);
    return c + t.cos_theta[r1] * (sigma * t.radius[r2]);
}

[[noreturn]] void throw_no_integer_value();

// Doubles in [-2^63, 2^63) truncate to a 64-bit integer; anything else (NaN,
// infinities, samples of absurd widths) has no integer value and throws.
inline std::int64_t truncate_checked(double x) {
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) [[unlikely]]
        throw_no_integer_value();
    return static_cast<std::int64_t>(x);
}

// g + 0.5 for g >= 0, else g - 0.5 (IEEE defines that as g + (-0.5)). The
// addend is taken as 0.5 with the sign of g, bit operations rather than a
// branch on the sign of a random sample. The one input where the two differ,
// g = -0.0, still gives 0: -0.0 - 0.5 and -0.0 + 0.5 both truncate to 0.
inline std::int64_t round_half_away(double g) { return truncate_checked(g + std::copysign(0.5, g)); }

// Oracle_1 and Oracle_2 with the tables passed in, for the samplers' loops.
inline std::int64_t oracle1_sample(const gaussian_tables::BoxMuller& t, double c, double sigma) {
    return round_half_away(gaussian_sample(t, c, sigma));
}

// Oracle_2's rule applied to its continuous sample g.
inline std::int64_t parity_step(double g, std::int64_t p) {
    const std::int64_t v = truncate_checked(g);
    // A value of the wrong parity steps one away from zero. The step is +1
    // exactly when g > 0: for v != 0, v has the sign of g; for v == 0 the rule
    // is +1 for g > 0 and -1 otherwise. Branch-free on the random sample.
    // |v| < 2^63 - 1023, so the step cannot overflow.
    const std::int64_t wrong = (v ^ p) & 1;
    const std::int64_t step = 2 * static_cast<std::int64_t>(g > 0.0) - 1;
    return v + wrong * step;
}

inline std::int64_t oracle2_sample(const gaussian_tables::BoxMuller& t, std::int64_t p, double sigma) {
    return parity_step(gaussian_sample(t, 0.0, sigma), p);
}

// The looked-up factors of `count` consecutive Gaussian samples, taking
// exactly the draws of `count` calls of gaussian_sample, in order: sample i
// is then c + cos_out[i * stride] * (sigma * radius_out[i * stride]). Lets a
// sampler that knows how many samples it will take draw them in one tight
// loop; a stride lays the samples of several draws side by side (one per
// vector lane). The factors are as secret as the samples; callers wipe them.
void gaussian_factors(const gaussian_tables::BoxMuller& t, double* cos_out, double* radius_out, std::size_t count,
                      std::size_t stride = 1);

// The draws of `count` consecutive Gaussian samples, taking exactly the draws
// of `count` calls of gaussian_sample: out[i * stride] = r1 | r2 << 16 for
// sample i (r2 never 0), so that its factors are cos_theta[w & 0x7fff] and
// radius[w >> 16]. For samplers that look the factors up themselves (several
// at a time). As secret as the samples; callers wipe them.
void gaussian_words(std::uint32_t* out, std::size_t count, std::size_t stride = 1);

// The sample of gaussian_sample from its factors (same operations, same order).
inline double gaussian_from(double cos_theta, double radius, double c, double sigma) {
    return c + cos_theta * (sigma * radius);
}

}  // namespace detail

// The next `len` bytes of the draw stream, for samplers that want whole
// random words rather than 15-bit draws: with the default source they are the
// keystream bytes at the current position (an odd length also consumes the
// byte after the last one, so that draws stay aligned on byte pairs); with a
// custom source each byte is the low 8 bits of one draw. Consumed keystream is
// wiped from the buffer.
void draw_bytes(std::uint8_t* out, std::size_t len);

// Makes the draw source deterministic, for known-answer runs and tests only
// (never for real keys): a shared ChaCha20 stream whose key is the seed as 8
// little-endian bytes followed by 24 zero bytes; nonce zero, block counter 0.
// The key is kept for the whole run (no key erasure), so that the stream is
// exactly the keystream. A custom source, if installed, stays installed (the
// seed applies once it is removed). The public form is
// use_deterministic_draws_for_known_answers in ringtrap.h.
void seed_draws(std::uint64_t seed);
// The same with a full 32-byte key.
void seed_draws(const std::array<std::uint8_t, 32>& key);
// Back to per-thread streams keyed from operating-system entropy (fresh keys
// at the next draw of each thread). A custom source stays installed.
void seed_draws_from_os();
// Installs a caller-provided source of values in [0, 32767] (values outside
// that range are reduced to their low 15 bits), shared by all threads under
// DrawLock. An empty function removes it: the seeded stream continues where it
// was, or each thread goes back to operating-system entropy. A source must
// not return 0 for ever: generate_Gaussian skips zero second draws.
void set_draw_source(std::function<int()> source);

// One whole operation on the draw source. With a shared (seeded or custom)
// source it holds the process-wide draw mutex, so that the operation takes its
// draws as one unbroken run; with operating-system entropy each thread draws
// from its own stream and nothing is locked. Nested locks on one thread are
// free. Taking it also makes the thread follow a change of source made by
// another thread; releasing the outermost one wipes the keystream the
// operation drew.
class DrawLock {
public:
    DrawLock() {
        if (detail::t_draw_lock_depth > 0)
            ++detail::t_draw_lock_depth;
        else
            acquire();
    }
    ~DrawLock() {
        if (detail::t_draw_lock_depth > 1)
            --detail::t_draw_lock_depth;
        else
            release();
    }
    DrawLock(const DrawLock&) = delete;
    DrawLock& operator=(const DrawLock&) = delete;

private:
    static void acquire();
    static void release() noexcept;
};

// Nearly uniform integer in [-floor(a/2), a - 1 - floor(a/2)] for a >= 1: two
// draws r1, r2 form u = r1 * 2^16 + r2 (bit 15 always 0), result u mod a - a/2.
// Throws std::invalid_argument for a < 1, before taking any draw.
std::int64_t generate_randomBnd(std::int64_t a);

// One sample of the normal distribution with centre c and standard deviation
// sigma (cosine branch of Box-Muller with the constants 32767.0 and 6.2831852):
// c + cos(r1 / 32767.0 * 6.2831852) * (sigma * sqrt(-2 ln(r2 / 32767.0))).
// Takes two draws; a second draw of 0 is replaced by the next draw until it is
// non-zero, so every sample is finite for finite c and sigma.
double generate_Gaussian(double c, double sigma);

// len coefficients, each generate_randomBnd(modulo), in increasing index;
// centred in [-(q-1)/2, (q-1)/2]. Empty for len <= 0 (no draw). Throws
// std::logic_error when no parameter set is selected.
poly_R generate_random_poly_R(std::int64_t len);
// The same with an explicit modulus q >= 1 (no global read); throws
// std::invalid_argument for q < 1.
poly_R generate_random_poly_R(std::int64_t len, std::int64_t q);

// round(generate_Gaussian(c, sigma)), halves away from zero: the truncation of
// g + 0.5 (g >= 0) or g - 0.5 (g < 0), formed in double arithmetic. Throws
// std::domain_error when the sample has no 64-bit integer value (non-finite
// or out-of-range c or sigma).
std::int64_t Oracle_1(double c, double sigma);
// An integer with the parity of p near a centre-0 Gaussian of width sigma: the
// truncated sample, moved one step away from zero when its parity is wrong
// (to +1 or -1 by the sign of the sample when it truncates to 0 and p is odd;
// a sample of exactly 0.0 goes to -1). Throws as Oracle_1.
std::int64_t Oracle_2(std::int64_t p, double sigma);

// rows x cols ring elements of len coefficients, each Oracle_1(0, sigma), drawn
// row by row, entry by entry, coefficient by coefficient. Coefficients are not
// reduced. No draw when rows, cols or len is 0.
mat_poly_R generate_Gaussian_mat_poly_R(std::int64_t len, std::int64_t rows, std::int64_t cols, double sigma);
// len continuous samples generate_Gaussian(0, sigma), unrounded.
poly_K generate_Gaussian_poly_K(std::int64_t len, double sigma);

// Internal helpers for the samplers. Each fills out[0 .. count) with exactly
// the values of `count` successive calls of the named operation, taking the
// same draws in the same order; `out` must hold count elements.
void fill_randomBnd(std::int64_t* out, std::size_t count, std::int64_t a);  // throws as generate_randomBnd
void fill_Gaussian(double* out, std::size_t count, double c, double sigma);
void fill_Oracle_1(std::int64_t* out, std::size_t count, double c, double sigma);  // throws as Oracle_1

// The plain form of generate_Gaussian, computing cos, log and sqrt for each
// sample instead of looking them up; same draws, bit-identical results. The
// oracle for the tabulated version.
double generate_Gaussian_reference(double c, double sigma);

}  // namespace ringtrap
