// Randomness: the single draw source, uniform and continuous Gaussian sources,
// and the discrete Gaussian samplers built on them.
//
// Every random value of the library is computed from draws of `draw()`, each an
// integer in [0, 32767]. Above it everything is deterministic, so a fixed seed
// (or a scripted source) reproduces a run exactly.
//
// The draw source is process-wide and not synchronised by itself. Code that may
// run on several threads holds `DrawLock` for the whole operation, so that each
// operation takes its draws as one uninterrupted run of the stream.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

#include "common.h"

namespace ringtrap {

// The next draw: an integer in [0, 32767], every value equally likely.
int draw();

// Makes the default (ChaCha20) source deterministic. The key is the seed as 8
// little-endian bytes followed by 24 zero bytes; nonce zero, block counter 0.
void seed_draws(std::uint64_t seed);
// The same with a full 32-byte key.
void seed_draws(const std::array<std::uint8_t, 32>& key);
// Back to a fresh key from operating-system entropy (taken at the next draw).
void seed_draws_from_os();
// Installs a caller-provided source of values in [0, 32767] (values outside
// that range are reduced to their low 15 bits). An empty function restores the
// default source, which continues where it was.
void set_draw_source(std::function<int()> source);

// Serialises whole operations on the shared draw source across threads.
class DrawLock {
public:
    DrawLock();
    ~DrawLock();
    DrawLock(const DrawLock&) = delete;
    DrawLock& operator=(const DrawLock&) = delete;

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

// Nearly uniform integer in [-floor(a/2), a - 1 - floor(a/2)] for a >= 1: two
// draws r1, r2 form u = r1 * 2^16 + r2 (bit 15 always 0), result u mod a - a/2.
std::int64_t generate_randomBnd(std::int64_t a);

// One sample of the normal distribution with centre c and standard deviation
// sigma (cosine branch of Box-Muller with the constants 32767.0 and 6.2831852).
// Takes two draws; a second draw of 0 is replaced by the next draw until it is
// non-zero, so every sample is finite.
double generate_Gaussian(double c, double sigma);

// n coefficients, each generate_randomBnd(modulo), in increasing index.
poly_R generate_random_poly_R(std::int64_t len);
// The same with an explicit modulus (no global read).
poly_R generate_random_poly_R_mod(std::int64_t len, std::int64_t q);

// round(generate_Gaussian(c, sigma)), halves away from zero.
std::int64_t Oracle_1(double c, double sigma);
// An integer with the parity of p near a centre-0 Gaussian of width sigma: the
// truncated sample, moved one step away from zero when its parity is wrong.
std::int64_t Oracle_2(std::int64_t p, double sigma);

// rows x cols ring elements of len coefficients, each Oracle_1(0, sigma), drawn
// row by row, entry by entry, coefficient by coefficient.
mat_poly_R generate_Gaussian_mat_poly_R(std::int64_t len, std::int64_t rows, std::int64_t cols, double sigma);
// len continuous samples generate_Gaussian(0, sigma).
poly_K generate_Gaussian_poly_K(std::int64_t len, double sigma);

}  // namespace ringtrap
