// Constant-time samplers: see gauss_ct.h for the contract and docs/sampling.md
// for the derivations. Notation: rho_s(x) = exp(-x^2 / (2 s^2)).
#include "gauss_ct.h"

#include <algorithm>
#include <stdexcept>

#include "chacha20.h"
#include "secret.h"
#include "ct.h"
#include "gauss_ct_detail.h"
#include "gauss_ct_tables.h"

// The bulk paths run one attempt for each pending sample in tight loops that
// the compiler vectorises; on x86-64 an AVX2 copy of each loop is chosen at run
// time. Both copies perform the same integer and IEEE double operations (no
// contraction), so their results are identical.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RINGTRAP_GAUSS_AVX2 1
#define RINGTRAP_AVX2_TARGET __attribute__((target("avx2")))
#include <emmintrin.h>
#endif

namespace ringtrap::gauss {

bool detail::g_allow_avx2 = true;

using namespace detail;

namespace {

// Samples handled together by the bulk paths: a batch is cut into chunks of
// this many samples (pairs for the normals), and each chunk runs in rounds:
// one attempt for every sample still pending, in order, until none is left.
constexpr std::size_t kChunk = 64;

bool use_avx2() noexcept {
#ifdef RINGTRAP_GAUSS_AVX2
    static const bool have = chacha20::have_avx2();
    return have && g_allow_avx2;
#else
    return false;
#endif
}

template <typename T, std::size_t N>
void wipe(T (&a)[N]) noexcept {
    secure_zero(a, sizeof a);
}

// RINGTRAP_KERNEL defines name_generic and (on x86-64) name_avx2, both running
// the always-inlined body; RINGTRAP_DISPATCH calls the AVX2 copy when the
// processor has it.
#ifdef RINGTRAP_GAUSS_AVX2
#define RINGTRAP_DISPATCH(name, ...) (use_avx2() ? name##_avx2(__VA_ARGS__) : name##_generic(__VA_ARGS__))
#define RINGTRAP_KERNEL(name, body, params, args)                 \
    void name##_generic params noexcept { body args; }             \
    RINGTRAP_AVX2_TARGET void name##_avx2 params noexcept { body args; }
#else
#define RINGTRAP_DISPATCH(name, ...) name##_generic(__VA_ARGS__)
#define RINGTRAP_KERNEL(name, body, params, args) \
    void name##_generic params noexcept { body args; }
#endif

constexpr double kLn2 = 0.69314718055994530942;

}  // namespace

// ---------------------------------------------------------------------------
// Narrow sampler.
//
// Proposal: z0 ~ D+_{sigma0} (P(z0) ~ rho_sigma0(z0), z0 >= 0), sign bit s,
// z = s + (2s - 1) z0: s = 1 gives z = z0 + 1 >= 1, s = 0 gives z = -z0 <= 0,
// so every integer comes from exactly one (z0, s), with probability
// rho_sigma0(z0) / (2 Z+). With c = c0 + r (c0 integer, r in [0, 1]) we accept
// with probability rho_sigma(z - r) / rho_sigma0(z0), which is <= 1 because
// |z - r| >= z0 (z0 + 1 - r >= z0 and z0 + r >= z0) and sigma <= sigma0. The
// accepted z then has probability proportional to rho_sigma(z - r), and z + c0
// follows D_{Z, c, sigma}. The acceptance rate is sum_z rho_sigma(z - r) / (2 Z+):
// by Poisson summation sigma sqrt(2 pi) (1 + 2 sum_k exp(-2 pi^2 sigma^2 k^2)
// cos(2 pi k r)) / (2 Z+), independent of r up to the relative term stated in
// the header.

struct NarrowTable {
    const Rcdt96* rcdt;
    double sigma0;
    double inv_2s02_ln2;  // 1 / (2 sigma0^2 ln 2)
};

namespace {

constexpr NarrowTable kTableR{kNarrowRcdt, 1.70, 1.0 / (2.0 * 1.70 * 1.70 * kLn2)};
constexpr NarrowTable kTableRWide{kNarrowWideRcdt, 1.70 / 0.75, 1.0 / (2.0 * (1.70 / 0.75) * (1.70 / 0.75) * kLn2)};

void check_narrow_width(const NarrowTable& t, double sigma) {
    if (!(sigma >= 0.5 * t.sigma0 && sigma <= t.sigma0))
        throw std::invalid_argument("sample_narrow: width outside [base / 2, base]");
}

double narrow_a(double sigma) noexcept { return 1.0 / (2.0 * sigma * sigma * kLn2); }

// c = c0 + r with c0 = floor(c) and r in [0, 1] (a tie may give r = 1, which
// the argument above allows); |c| < 2^40, so c - 1/2 and c - c0 are exact.
inline double split_floor(double centre, i64& c0) noexcept {
    const double c0d = round_nearest(centre - 0.5);
    c0 = static_cast<i64>(c0d);
    return centre - c0d;
}

// One attempt, a = 1 / (2 sigma^2 ln 2), b = 1 / (2 sigma0^2 ln 2). Words: w0 and
// the top 32 bits of w1 give z0, bit 0 of w1 the sign, bits 1..31 of w1 the
// trial's first halvings, w2 the trial's uniform.
// z is returned in two's complement.
template <std::size_t N>
inline u64 narrow_attempt(const Rcdt96 (&table)[N], u64 w0, u64 w1, u64 w2, double r, double a, double b,
                          u64& z) noexcept {
    const u64 z0 = rcdt_sample(table, w0, w1);
    const u64 sign = w1 & 1;
    const u64 spare = (w1 >> 1) & 0x7fffffffu;
    const u64 m = sign - 1;  // 0 when sign = 1, all ones when sign = 0
    z = sign + ((z0 ^ m) - m);
    const double d = small_to_double(z) - r;
    // Exponent in base 2: (z - r)^2 / (2 sigma^2 ln2) - z0^2 / (2 sigma0^2 ln2) >= 0.
    const double e = d * d * a - small_to_double(z0 * z0) * b;
    return accept_word_spare(w2, spare, threshold_base2(e, 1.0));
}

template <std::size_t N>
i64 narrow_one(WordStream& ws, const Rcdt96 (&table)[N], double b, double centre, double a) {
    i64 c0;
    const double r = split_floor(centre, c0);
    for (;;) {
        const u64 w0 = ws.next(), w1 = ws.next(), w2 = ws.next();
        u64 z;
        const u64 accept = narrow_attempt(table, w0, w1, w2, r, a, b, z);
        // The acceptance rate depends on the public width only (see above).
        if (ct::declassified(accept)) return static_cast<i64>(z) + c0;
    }
}

// One round: attempt j takes the words w[j], w[np + j], w[2 np + j].
template <std::size_t N>
[[gnu::always_inline]] inline void narrow_round_body(const Rcdt96 (&table)[N], const u64* w, std::size_t np,
                                                     const double* r, double a, double b, u64* z, u64* acc) noexcept {
    for (std::size_t j = 0; j < np; ++j) acc[j] = narrow_attempt(table, w[j], w[np + j], w[2 * np + j], r[j], a, b, z[j]);
}

#define NARROW_PARAMS(N) (const Rcdt96(&table)[N], const u64* w, std::size_t np, const double* r, double a, double b, u64* z, u64* acc)
RINGTRAP_KERNEL(narrow_round_r, narrow_round_body, NARROW_PARAMS(sizeof kNarrowRcdt / sizeof kNarrowRcdt[0]), (table, w, np, r, a, b, z, acc))
RINGTRAP_KERNEL(narrow_round_rw, narrow_round_body, NARROW_PARAMS(sizeof kNarrowWideRcdt / sizeof kNarrowWideRcdt[0]), (table, w, np, r, a, b, z, acc))
#undef NARROW_PARAMS

// The end of a round of attempts (acc already declassified): accepted samples
// go to their places in out, the rejected slots (index, r, c0) move to the
// front to be tried again first; returns how many there are.
inline std::size_t settle_round(const u64* acc, const u64* z, std::size_t np, std::size_t* idx, double* rr, i64* c0,
                                i64* out) noexcept {
    std::size_t retry = 0;
    for (std::size_t j = 0; j < np; ++j) {
        if (acc[j] != 0) {
            out[idx[j]] = static_cast<i64>(z[j]) + c0[j];
        } else {
            idx[retry] = idx[j];
            rr[retry] = rr[j];
            c0[retry] = c0[j];
            ++retry;
        }
    }
    return retry;
}

// Rounds of up to kChunk attempts: the samples rejected in a round are tried
// again first in the next one, and the round is filled up with the next new
// samples, so every round but the last few is full (no shrinking rounds of a
// few lanes). A slot keeps its sample's index, r and c0 while it is retried.
template <std::size_t N, typename Round>
void narrow_batch(WordStream& ws, const Rcdt96 (&table)[N], double b, const double* centres, double a, i64* out,
                  std::size_t count, Round round) {
    double rr[kChunk];
    i64 c0[kChunk];
    u64 z[kChunk], acc[kChunk];
    std::size_t idx[kChunk];
    std::size_t next = 0, retry = 0;
    while (retry > 0 || next < count) {
        std::size_t np = retry;
        for (; np < kChunk && next < count; ++np, ++next) {
            rr[np] = split_floor(centres[next], c0[np]);
            idx[np] = next;
        }
        round(table, StreamAccess::window(ws, 3 * np), np, rr, a, b, z, acc);
        StreamAccess::advance(ws, 3 * np);
        // The acceptance rate depends on the public width only. (One request per round.)
        ct::declassify(acc, np * sizeof *acc);
        retry = settle_round(acc, z, np, idx, rr, c0, out);
    }
    wipe(rr);
    wipe(c0);
    wipe(z);
}

}  // namespace

const NarrowTable& narrow_table_r() { return kTableR; }
const NarrowTable& narrow_table_r_wide() { return kTableRWide; }
double narrow_base_sigma(const NarrowTable& t) noexcept { return t.sigma0; }

std::int64_t sample_narrow(WordStream& ws, const NarrowTable& t, double centre, double sigma) {
    check_narrow_width(t, sigma);
    if (&t == &kTableR) return narrow_one(ws, kNarrowRcdt, t.inv_2s02_ln2, centre, narrow_a(sigma));
    return narrow_one(ws, kNarrowWideRcdt, t.inv_2s02_ln2, centre, narrow_a(sigma));
}

void sample_narrow_batch(WordStream& ws, const NarrowTable& t, const double* centres, double sigma,
                         std::int64_t* out, std::size_t count) {
    check_narrow_width(t, sigma);
    const double a = narrow_a(sigma);
    if (&t == &kTableR) {
        narrow_batch(ws, kNarrowRcdt, t.inv_2s02_ln2, centres, a, out, count, [](auto&&... x) {
            RINGTRAP_DISPATCH(narrow_round_r, x...);
        });
    } else {
        narrow_batch(ws, kNarrowWideRcdt, t.inv_2s02_ln2, centres, a, out, count, [](auto&&... x) {
            RINGTRAP_DISPATCH(narrow_round_rw, x...);
        });
    }
}

// ---------------------------------------------------------------------------
// Centred sampler.
//
// x ~ D+ (P(x) = 2^(-x^2) / Z), y uniform in [0, K), z = K x + y: the pair is
// determined by z, with probability 2^(-x^2) / (K Z). Accepting with
// probability 2^-((y^2 + 2 K x y) / K^2) leaves 2^(-(x + y/K)^2) / (K Z) =
// exp(-z^2 / (2 (K sigma_bin)^2)) / (K Z), as 2 sigma_bin^2 = 1 / ln 2. A sign bit
// s gives -z for s = 1, except that z = 0 with s = 1 is rejected so that 0 is
// not counted twice. The exponent is at most 1 + 2x <= 19.

namespace {

// One attempt from the words w0..w3 (see bin_proposal; w3 is the trial's).
inline u64 centred_attempt(u64 K, double inv_k2, u64 w0, u64 w1, u64 w2, u64 w3, u64& z) noexcept {
    const BinProposal p = bin_proposal(K, w0, w1, w2);
    // y^2 + 2 K x y < 19 K^2 <= 2^45: exact in a double.
    const double e = small_to_double(p.y * p.y + 2 * K * p.x * p.y) * inv_k2;
    z = (p.zabs ^ (0 - p.b)) + p.b;  // (-1)^b |z| in two's complement
    return accept_word(w3, threshold_base2(e, 1.0)) & ~(is_zero(p.zabs) & p.b);
}

[[gnu::always_inline]] inline void centred_round_body(const u64* w, std::size_t np, u64 K, double inv_k2, u64* z,
                                                      u64* acc) noexcept {
    for (std::size_t j = 0; j < np; ++j)
        acc[j] = centred_attempt(K, inv_k2, w[j], w[np + j], w[2 * np + j], w[3 * np + j], z[j]);
}

RINGTRAP_KERNEL(centred_round, centred_round_body, (const u64* w, std::size_t np, u64 K, double inv_k2, u64* z, u64* acc),
                (w, np, K, inv_k2, z, acc))

}  // namespace

// K = 1 (the trapdoor's width) needs no rejection: |z| comes straight from
// the table of D_{Z, sigma_bin} folded onto {0, 1, ...} (kBinSymRcdt: weight 1 at
// 0 and 2 * 2^(-x^2) at x >= 1), and a fair sign bit unfolds it; a negative
// zero is zero, so 0 keeps exactly its weight. Sample j takes words 2j, 2j + 1
// of its chunk (96-bit uniform from w0 and the top 32 bits of w1, the sign bit
// 0 of w1), so the distribution is the table's exactly: the same bounds as
// every base table (ratio <= 1 + 2^-90, cut tail 2^-100).
namespace {

[[gnu::always_inline]] inline void bin_sym_body(const u64* w, std::size_t count, i64* out) noexcept {
    for (std::size_t j = 0; j < count; ++j) {
        const u64 w0 = w[2 * j], w1 = w[2 * j + 1];
        out[j] = apply_sign(rcdt_sample(kBinSymRcdt, w0, w1), w1 & 1);
    }
}

RINGTRAP_KERNEL(bin_sym_chunk, bin_sym_body, (const u64* w, std::size_t count, i64* out), (w, count, out))

}  // namespace

void sample_centred_batch(WordStream& ws, std::int64_t K, std::int64_t* out, std::size_t count) {
    if (K < 1 || K > (std::int64_t{1} << 20)) throw std::invalid_argument("sample_centred_batch: K outside [1, 2^20]");
    if (K == 1) {
        for (std::size_t base = 0; base < count; base += kChunk) {
            const std::size_t np = std::min(kChunk, count - base);
            RINGTRAP_DISPATCH(bin_sym_chunk, StreamAccess::window(ws, 2 * np), np, out + base);
            StreamAccess::advance(ws, 2 * np);
        }
        return;
    }
    const u64 k = static_cast<u64>(K);
    const double inv_k2 = 1.0 / (static_cast<double>(K) * static_cast<double>(K));
    u64 z[kChunk], acc[kChunk];
    // The samples have no parameters of their own: each round makes one
    // attempt for each of the next min(kChunk, remaining) outputs, and its
    // accepted values take the next output slots in order.
    for (std::size_t done = 0; done < count;) {
        const std::size_t np = std::min(kChunk, count - done);
        RINGTRAP_DISPATCH(centred_round, StreamAccess::window(ws, 4 * np), np, k, inv_k2, z, acc);
        StreamAccess::advance(ws, 4 * np);
        // The acceptance rate depends on the public K only. (One request per round.)
        ct::declassify(acc, np * sizeof *acc);
        for (std::size_t j = 0; j < np; ++j) {
            if (acc[j] != 0) out[done++] = static_cast<i64>(z[j]);
        }
    }
    wipe(z);
}

// ---------------------------------------------------------------------------
// Wide sampler.
//
// Proposal: z' = +-(K x + y) as in the centred sampler (probability
// 2^(-x^2) / (2 K Z) for every z', 0 included), output z = c0 + z' with
// c0 = round(c), r = c - c0 in [-1/2, 1/2]. Target: rho_sigma(z' - r). Accept with
//   p(z') = ccs * 2^-(B + (z' - r)^2 / (2 sigma^2 ln 2) - x^2).
// Bound: with K sigma_bin >= sigma (1 + delta) and |z'| >= K x,
//   x^2 / (2 sigma_bin^2) - (z' - r)^2 / (2 sigma^2)
//     <= max_u [u^2 - ((1 + delta) u - 1/(2 sigma))^2] / 2   (u = x / sigma_bin)
//      = 1 / (8 sigma^2 (2 delta + delta^2)),
// so the exponent in base 2 is >= -1 / (8 ln2 sigma^2 (2 delta + delta^2)) >=
// -0.0014 for sigma >= 64, delta = 2^-6: with B = 2^-9 it is never negative.
// The accepted z' has probability proportional to ccs 2^-B rho_sigma(z' - r) /
// (2 K Z), and the acceptance rate is ccs 2^-B sum_z rho_sigma(z - r) / (2 K Z)
// = ccs 2^-B sigma sqrt(2 pi) / (2 K Z) (the theta-function correction is
// below exp(-2 pi^2 64^2)). Taking ccs = A K sigma_bin / sigma makes it
// A sigma_bin sqrt(2 pi) 2^-B / (2 Z) ~ 0.66 whatever sigma and c; A keeps ccs
// <= 1, since K sigma_bin / sigma < 1 + delta + sigma_bin / sigma
// <= 1 + delta + sigma_bin / 64.

namespace {
constexpr double kWideDelta = 0x1p-6;
constexpr double kWideShift = 0x1p-9;  // B
// 1 / (1 + delta + sigma_bin / 64) = 0.971919..., rounded down.
constexpr double kWideA = 0.97191;
}  // namespace

WideWidth prepare_wide(double sigma) noexcept {
    // Clamp to the documented range through the bit pattern (sigma > 0).
    u64 b = bits_of(sigma);
    const u64 lo = bits_of(kWideMinSigma), hi = bits_of(kWideMaxSigma);
    b = ct::select(ct::mask_from_bit(ct::lt(b, lo) | (b >> 63)), lo, b);
    b = ct::select(ct::mask_from_bit(ct::lt(hi, b)), hi, b);
    sigma = double_of(b);
    WideWidth w;
    // floor(sigma (1 + delta) / sigma_bin) + 1 > sigma (1 + delta) / sigma_bin: the
    // rounded quotient never falls below the integer part of the exact one.
    const double kd = sigma * (1.0 + kWideDelta) / kSigmaBin;
    w.k = static_cast<i64>(kd) + 1;
    w.inv_2s2_ln2 = 1.0 / (2.0 * sigma * sigma * kLn2);
    w.ccs = kWideA * static_cast<double>(w.k) * kSigmaBin / sigma;
    return w;
}

namespace {

// One attempt around r in [-1/2, 1/2] from the words w0..w3 (see
// bin_proposal; w3 is the trial's); z' in two's complement.
inline u64 wide_attempt(u64 K, double inv_2s2_ln2, double ccs, double r, u64 w0, u64 w1, u64 w2, u64 w3,
                        u64& z) noexcept {
    const BinProposal p = bin_proposal(K, w0, w1, w2);
    z = (p.zabs ^ (0 - p.b)) + p.b;
    const double d = small_to_double(z) - r;
    const double e = kWideShift + d * d * inv_2s2_ln2 - small_to_double(p.x * p.x);
    return accept_word(w3, threshold_base2(e, ccs)) & ~(is_zero(p.zabs) & p.b);
}

constexpr std::size_t kWideLanes = 4;

}  // namespace

std::int64_t sample_wide(WordStream& ws, const WideWidth& w, double centre) {
    std::int64_t z;
    sample_wide_batch(ws, w, &centre, &z, 1);
    return z;
}

// Rounds as in narrow_batch, with up to kWideLanes attempts: the attempts of
// a round are independent, so the processor overlaps their long dependency
// chains (the batches here are short: the field sampler's leaves come in
// pairs, and the next pair's centres depend on these samples).
void sample_wide_batch(WordStream& ws, const WideWidth& w, const double* centres, std::int64_t* out,
                       std::size_t count) {
    const u64 k = static_cast<u64>(w.k);
    double rr[kWideLanes];
    i64 c0[kWideLanes];
    u64 z[kWideLanes], acc[kWideLanes];
    std::size_t idx[kWideLanes];
    std::size_t next = 0, retry = 0;
    while (retry > 0 || next < count) {
        std::size_t np = retry;
        for (; np < kWideLanes && next < count; ++np, ++next) {
            const double c0d = round_nearest(centres[next]);
            rr[np] = centres[next] - c0d;
            c0[np] = static_cast<i64>(c0d);
            idx[np] = next;
        }
        const u64* words = StreamAccess::window(ws, 4 * np);
        for (std::size_t j = 0; j < np; ++j)
            acc[j] = wide_attempt(k, w.inv_2s2_ln2, w.ccs, rr[j], words[j], words[np + j], words[2 * np + j],
                                  words[3 * np + j], z[j]);
        StreamAccess::advance(ws, 4 * np);
        // The acceptance rate is the constant above, whatever the width and centre. (One request per round.)
        ct::declassify(acc, np * sizeof *acc);
        retry = settle_round(acc, z, np, idx, rr, c0, out);
    }
    wipe(rr);
    wipe(c0);
    wipe(z);
}

// ---------------------------------------------------------------------------
// ---------------------------------------------------------------------------
// Normals.
//
// Marsaglia's polar method: (u, v) uniform in the square, kept when
// 0 < s = u^2 + v^2 < 1 (probability pi/4, whatever the later values), then
// u sqrt(-2 ln s / s) and v sqrt(-2 ln s / s) are independent standard normals.
// u = w / 2^63 for the word read as a signed integer, rounded to a double: a
// grid of step 2^-63 near 0, so s >= 2^-126 and |value| <= sqrt(2 * 126 ln 2)
// < 13.3: the cut tail has mass about 2^-126.

namespace {

// The word read as a signed integer, rounded to a double: the exact halves
// hi * 2^32 and lo added with one rounding, which is the rounding of the whole
// (and vectorises, unlike the 64-bit conversion).
inline double signed_word_to_double(u64 w) noexcept {
    // The signed top half, formed with logical shifts only: (w >> 32) - 2^32 [w < 0].
    const u64 top = (w >> 32) - ((w >> 63) << 32);
    return small_to_double(top) * 0x1p32 + small_to_double(w & 0xffffffffu);
}

// One try: the point, whether it is inside the disk, and the factor
// -2 ln s / s (computed on s = 1/2 for points outside, so that no special value
// ever enters the arithmetic).
inline u64 polar_try(u64 w0, u64 w1, double& u, double& v, double& q) noexcept {
    u = signed_word_to_double(w0) * 0x1p-63;
    v = signed_word_to_double(w1) * 0x1p-63;
    const double s = u * u + v * v;
    const u64 sb = bits_of(s);
    const u64 inside = (1 ^ is_zero(sb)) & ct::lt(sb, bits_of(1.0));
    const double sc = double_of(pick(inside, sb, bits_of(0.5)));
    q = -2.0 * ct_log(sc) / sc;
    return inside;
}

[[gnu::always_inline]] inline void polar_round_body(const u64* w, std::size_t np, double* u, double* v, double* q,
                                                    u64* inside) noexcept {
    for (std::size_t j = 0; j < np; ++j) inside[j] = polar_try(w[j], w[np + j], u[j], v[j], q[j]);
}

RINGTRAP_KERNEL(polar_round, polar_round_body, (const u64* w, std::size_t np, double* u, double* v, double* q, u64* inside),
                (w, np, u, v, q, inside))

}  // namespace

void sample_normals(WordStream& ws, double* out, std::size_t count) {
    double u[kChunk], v[kChunk], q[kChunk];
    u64 inside[kChunk];
    const std::size_t pairs = (count + 1) / 2;
    // Each round tries one point for each of the next min(kChunk, remaining)
    // pairs; the points inside the disk give the next pairs in order.
    for (std::size_t done = 0; done < pairs;) {
        const std::size_t np = std::min(kChunk, pairs - done);
        // Pair attempt j takes the words w[j] and w[np + j].
        RINGTRAP_DISPATCH(polar_round, StreamAccess::window(ws, 2 * np), np, u, v, q, inside);
        StreamAccess::advance(ws, 2 * np);
        // Whether a point is inside the disk tells nothing about the kept points. (One request per round.)
        ct::declassify(inside, np * sizeof *inside);
        for (std::size_t j = 0; j < np; ++j) {
            if (inside[j] != 0) {
                const double f = sqrt_insn(q[j]);
                out[2 * done] = u[j] * f;
                if (2 * done + 1 < count) out[2 * done + 1] = v[j] * f;
                ++done;
            }
        }
    }
    wipe(u);
    wipe(v);
    wipe(q);
}

// ---------------------------------------------------------------------------
// Bernoulli trials.

std::uint64_t bernoulli_exp_threshold(double x, double ccs) noexcept {
    const Threshold th = threshold_exp(x, ccs);
    return th.v >> min_u(th.shift, 63);
}

std::uint64_t bernoulli_exp(WordStream& ws, double x, double ccs) {
    return accept_word(ws.next(), threshold_exp(x, ccs));
}

}  // namespace ringtrap::gauss
