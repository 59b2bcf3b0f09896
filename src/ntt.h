// Fast exact negacyclic NTT over Z_q for odd q < 2^31, with precomputed
// twiddles in Montgomery form (R = 2^32).
//
// This is the engine behind FFT_R, the ring products and the scheme. It works
// on 32-bit coefficients held in (-q, q) between calls; values are exact
// residues, so any result mapped to its centred representative equals that of
// the plain definition. Inside a transform, sums stay unreduced for as many
// layers as 32 bits allow (a per-modulus schedule in NttTables), and AVX2 and
// AVX-512 versions (ntt_avx2.cpp, ntt_avx512.cpp) run the same arithmetic
// eight or sixteen coefficients at a time; the transforms pick the widest the
// processor has.
//
// Layout of the transform domain: after ntt_forward, a[i] = a(psi^(2 brv(i) + 1))
// where brv reverses log2(n) bits. Pointwise products and sums are taken in that
// order; FFT_R permutes to natural order itself.
#pragma once

#include <cstdint>
#include <vector>

#include "params.h"

namespace ringtrap {

// i with its `bits` low bits reversed (bits <= 63; higher bits of i are
// ignored). All 64 bits are reversed by swapping ever larger groups, then the
// top `bits` of the result are the answer: a few operations, no loop, which
// matters to the field sampler's per-leaf indexing.
constexpr std::uint64_t reverse_bits(std::uint64_t i, int bits) noexcept {
    if (bits <= 0) return 0;
    i = ((i >> 1) & 0x5555555555555555u) | ((i & 0x5555555555555555u) << 1);
    i = ((i >> 2) & 0x3333333333333333u) | ((i & 0x3333333333333333u) << 2);
    i = ((i >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((i & 0x0F0F0F0F0F0F0F0Fu) << 4);
    i = __builtin_bswap64(i);
    return i >> (64 - bits);
}
static_assert(reverse_bits(1, 3) == 4 && reverse_bits(6, 3) == 3 && reverse_bits(0b1011, 4) == 0b1101);
static_assert(reverse_bits(1, 63) == std::uint64_t{1} << 62 && reverse_bits(5, 0) == 0);

// The permutation i -> reverse_bits(i, bits) of 0 .. 2^bits - 1 (bits <= 30).
std::vector<std::int32_t> bit_reversal_table(int bits);

// a b mod q and b^e mod q in [0, q), for 0 < q < 2^31, any a, b and e >= 0.
std::int64_t mul_mod(std::int64_t a, std::int64_t b, std::int64_t q) noexcept;
std::int64_t pow_mod(std::int64_t b, std::int64_t e, std::int64_t q) noexcept;

struct NttTables {
    std::int32_t q = 0;
    std::int32_t n = 0;
    int log_n = 0;
    std::uint32_t qinv = 0;                // q^-1 mod 2^32
    std::int32_t inv_scale = 0;            // n^-1 * R mod q  (inverse of a plain forward)
    std::int32_t inv_scale_mont = 0;       // n^-1 * R^2 mod q (inverse after Montgomery products)
    std::int32_t r2 = 0;                   // R^2 mod q: to_mont(x) = montmul(x, r2)
    std::int32_t r_mod = 0;                // R mod q, centred: montmul(x, r_mod) = x mod q in (-q, q)
    std::vector<std::int32_t> zetas;       // zetas[i] = psi^brv(i) * R mod q, centred
    std::vector<std::int32_t> zetas_inv;   // inverse of zetas[i], times R, centred
    std::vector<std::int32_t> brv;         // bit reversal of log_n bits

    // Lazy reduction: sums are left unreduced while they provably fit 32 bits.
    // Bit j of a mask asks for a full reduction to (-q, q) before layer j
    // (forward layers counted from the longest span, inverse from the
    // shortest). `lazy` is false for q >= 2^30, where even one unreduced sum
    // may not fit; such tables take the 64-bit route.
    bool lazy = false;
    std::uint32_t fwd_reduce_before = 0;
    bool fwd_reduce_after = false;
    std::uint32_t inv_reduce_before = 0;

    // Montgomery twiddles with their products by qinv precomputed
    // (zq = z * qinv mod 2^32 saves one multiplication per butterfly).
    std::vector<std::int32_t> zetas_qinv, zetas_inv_qinv;
    // The three shortest spans (4, 2, 1) as the vectorised path consumes
    // them: per group of 16 coefficients, one zeta per lane. Layer s of the
    // forward table starts at s * n / 2. Empty for n < 16.
    std::vector<std::int32_t> lane_zetas, lane_zetas_qinv;
    std::vector<std::int32_t> lane_zetas_inv, lane_zetas_inv_qinv;

    // psi must be a primitive 2n-th root of unity mod q; q odd, 2 < q < 2^31.
    NttTables(std::int64_t q_, int log_n_, std::int64_t psi);
};

// Tables of a built-in parameter set, built once (thread-safe) and kept.
const NttTables& ntt_tables(const ParamSet& p);

// Montgomery reduction: for |a| < q * 2^31 returns a * 2^-32 mod q in (-q, q).
inline std::int32_t montgomery_reduce(std::int64_t a, std::int32_t q, std::uint32_t qinv) noexcept {
    const std::int32_t t = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(a)) * qinv);
    return static_cast<std::int32_t>((a - static_cast<std::int64_t>(t) * q) >> 32);
}

// a * b * 2^-32 mod q in (-q, q), for |a|, |b| < 2^31 with |a b| < q 2^31.
inline std::int32_t montmul(std::int32_t a, std::int32_t b, std::int32_t q, std::uint32_t qinv) noexcept {
    return montgomery_reduce(static_cast<std::int64_t>(a) * b, q, qinv);
}

// Reduces any 64-bit integer to (-q, q) (its remainder).
inline std::int32_t reduce64(std::int64_t x, std::int32_t q) noexcept { return static_cast<std::int32_t>(x % q); }

// Centred representative of x in (-q, q).
inline std::int32_t centre(std::int32_t x, std::int32_t q) noexcept {
    const std::int32_t h = q / 2;
    if (x > h) return x - q;
    if (x < -h) return x + q;
    return x;
}

// In place, inputs in (-q, q); outputs in (-q, q), bit-reversed order.
void ntt_forward(const NttTables& t, std::int32_t* a) noexcept;
// In place, inputs in (-q, q) in bit-reversed order; outputs in (-q, q) in
// natural order. `after_montmul` compensates the 2^-32 factor of one preceding
// Montgomery pointwise product.
void ntt_inverse(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept;

// out[i] = a[i] * b[i] * 2^-32 mod q (pair with ntt_inverse(..., true)).
// Inputs in (-q, q); out may alias a or b.
void ntt_pointwise(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept;
// acc[i] = acc[i] + a[i] * b[i] * 2^-32, reduced back into (-q, q).
void ntt_pointwise_acc(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;

// Wide accumulation: sums of many pointwise products with a single reduction
// at the end, for inner products of rows in the transform domain. An
// accumulator is n signed 64-bit values in the wide layout: within each group
// of 8 positions, positions 0, 2, 4, 6 and then 1, 3, 5, 7 (the order in which
// the even and odd lanes of 32 x 32 -> 64-bit vector products come out); for
// n < 8 the natural order. Start from zeros (ntt_wide_clear).
//
// ntt_mul_acc_wide adds a[i] b[i] exactly, for inputs in (-q, q); at most
// ntt_wide_terms(t) products may go into one accumulator. ntt_reduce_wide
// then writes sum * 2^-32 mod q to out, in (-q, q): the residue that chaining
// ntt_pointwise_acc over the same products gives (pair it with
// ntt_inverse(..., true)), though not necessarily the same representative.
std::int64_t ntt_wide_terms(const NttTables& t) noexcept;
// The same bound for a modulus q, at compile time: each product is at most
// (q - 1)^2 in magnitude, and a sum below 2^62 keeps the reduction's
// intermediate values inside 64 and then 31 bits.
constexpr std::int64_t ntt_wide_capacity(std::int64_t q) noexcept {
    return ((std::int64_t{1} << 62) - 1) / ((q - 1) * (q - 1));
}
void ntt_wide_clear(const NttTables& t, std::int64_t* acc) noexcept;
void ntt_mul_acc_wide(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_reduce_wide(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept;

// Loads n 64-bit coefficients (any values) into (-q, q); stores centred values.
void ntt_load(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept;
void ntt_store_centred(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept;

// Loads n coefficients in the byte form of keys and signatures (4 bytes each,
// sign-magnitude, least significant byte first) into (-q, q): the values of
// decoding them and calling ntt_load. Returns whether every coefficient was
// in canonical form, a centred residue (magnitude at most (q-1)/2) without a
// negative zero, as a public key's must be. With `bound` (0 <= bound <= q/2),
// canonical means a magnitude of at most bound, as for trapdoor rows.
bool ntt_load_bytes(const NttTables& t, std::int32_t* dst, const std::uint8_t* src) noexcept;
bool ntt_load_bytes(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept;

// Centres n values of (-q, q) in place and returns the sum of their squares,
// or some value above `limit` as soon as the sum exceeds it (the row may then
// be left partly centred).
std::uint64_t ntt_centre_norm(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept;

// x[j] = the centred residue of a[j] + b[j] (64-bit values whose sum does not
// overflow), written both to x and, as ntt_load would load it, to dst.
void ntt_load_sum(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                  const std::int64_t* b) noexcept;

// a[j] = a[j] - b[j] for values in (-q, q), back in (-q, q).
void ntt_sub(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept;

// The two implementations behind the calls above, which pick the vectorised
// one when the processor has AVX2. Both give bit-identical results; the
// portable one is the reference. The _avx2 functions may be called only when
// ntt_have_avx2() (otherwise they run the portable code).
bool ntt_have_avx2() noexcept;
void ntt_forward_portable(const NttTables& t, std::int32_t* a) noexcept;
void ntt_inverse_portable(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept;
void ntt_pointwise_portable(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_pointwise_acc_portable(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_forward_avx2(const NttTables& t, std::int32_t* a) noexcept;
void ntt_inverse_avx2(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept;
void ntt_pointwise_avx2(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_pointwise_acc_avx2(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_load_portable(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept;
void ntt_load_avx2(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept;
void ntt_store_centred_portable(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept;
void ntt_store_centred_avx2(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept;
bool ntt_load_bytes_portable(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept;
bool ntt_load_bytes_avx2(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept;
std::uint64_t ntt_centre_norm_portable(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept;
std::uint64_t ntt_centre_norm_avx2(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept;
void ntt_load_sum_portable(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                           const std::int64_t* b) noexcept;
void ntt_load_sum_avx2(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                       const std::int64_t* b) noexcept;
void ntt_sub_portable(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_sub_avx2(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_mul_acc_wide_portable(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_mul_acc_wide_avx2(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept;
void ntt_reduce_wide_portable(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept;
void ntt_reduce_wide_avx2(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept;

// Montgomery product with a precomputed zq = z * qinv mod 2^32: the value of
// montmul(x, z, q, qinv), one multiplication fewer. |x| < 2^31, |z| <= q/2.
inline std::int32_t montmul_pre(std::int32_t x, std::int32_t z, std::int32_t zq, std::int32_t q) noexcept {
    const std::int32_t t = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) * static_cast<std::uint32_t>(zq));
    return static_cast<std::int32_t>((static_cast<std::int64_t>(x) * z - static_cast<std::int64_t>(t) * q) >> 32);
}

}  // namespace ringtrap
