#include "ntt.h"
#include "ntt_avx512.h"

#include <stdexcept>

namespace ringtrap {

std::vector<std::int32_t> bit_reversal_table(int bits) {
    std::vector<std::int32_t> table(std::size_t{1} << bits);
    // brv(i) is brv(i / 2) shifted down one place, with i's low bit on top.
    for (std::size_t i = 1; i < table.size(); ++i)
        table[i] = (table[i >> 1] >> 1) | static_cast<std::int32_t>((i & 1) << (bits - 1));
    return table;
}

namespace {

std::int64_t nonneg_mod(std::int64_t x, std::int64_t q) {
    x %= q;
    return x < 0 ? x + q : x;
}

}  // namespace

std::int64_t mul_mod(std::int64_t a, std::int64_t b, std::int64_t q) noexcept {
    // Both factors in [0, q) with q < 2^31: the product fits 62 bits.
    return (nonneg_mod(a, q) * nonneg_mod(b, q)) % q;
}

std::int64_t pow_mod(std::int64_t b, std::int64_t e, std::int64_t q) noexcept {
    std::int64_t result = 1 % q;
    b = nonneg_mod(b, q);
    for (; e > 0; e >>= 1) {
        if (e & 1) result = mul_mod(result, b, q);
        b = mul_mod(b, b, q);
    }
    return result;
}

namespace {

// x * 2^32 mod q, centred, for x in [0, q).
std::int32_t to_mont_centred(std::int64_t x, std::int64_t q) {
    const std::int64_t m = static_cast<std::int64_t>((static_cast<std::uint64_t>(x) << 32) % static_cast<std::uint64_t>(q));
    return static_cast<std::int32_t>(m > q / 2 ? m - q : m);
}

}  // namespace

NttTables::NttTables(std::int64_t q_, int log_n_, std::int64_t psi) {
    if (q_ <= 2 || q_ % 2 == 0 || q_ >= (std::int64_t{1} << 31) || log_n_ < 0 || log_n_ > 20)
        throw std::invalid_argument("NttTables: unsupported modulus or length");
    q = static_cast<std::int32_t>(q_);
    log_n = log_n_;
    n = std::int32_t{1} << log_n_;
    // Newton iteration doubles the number of correct low bits: 5 steps reach 32.
    std::uint32_t x = static_cast<std::uint32_t>(q);
    for (int i = 0; i < 5; ++i) x *= 2u - static_cast<std::uint32_t>(q) * x;
    qinv = x;

    brv = bit_reversal_table(log_n);
    const std::int64_t psi_r = nonneg_mod(psi, q_);
    const std::int64_t psi_inv = pow_mod(psi_r, 2 * static_cast<std::int64_t>(n) - 1, q_);
    zetas.resize(static_cast<std::size_t>(n));
    zetas_inv.resize(static_cast<std::size_t>(n));
    // Powers psi^e and psi^-e in increasing e, each placed at index brv(e)
    // (brv is its own inverse): one product per entry, which keeps the
    // start-up of a short-lived process cheap.
    std::int64_t pw = 1, pw_inv = 1;
    for (std::int32_t e = 0; e < n; ++e) {
        const auto i = static_cast<std::size_t>(brv[static_cast<std::size_t>(e)]);
        zetas[i] = to_mont_centred(pw, q_);
        zetas_inv[i] = to_mont_centred(pw_inv, q_);
        pw = mul_mod(pw, psi_r, q_);
        pw_inv = mul_mod(pw_inv, psi_inv, q_);
    }
    const std::int64_t ninv = pow_mod(n, q_ - 2, q_);  // q is prime
    const std::int64_t rmod = static_cast<std::int64_t>((std::uint64_t{1} << 32) % static_cast<std::uint64_t>(q_));
    inv_scale = to_mont_centred(ninv, q_);                      // n^-1 R
    inv_scale_mont = to_mont_centred(mul_mod(ninv, rmod, q_), q_);  // n^-1 R^2
    r2 = to_mont_centred(rmod, q_);                             // R^2
    r_mod = static_cast<std::int32_t>(rmod > q_ / 2 ? rmod - q_ : rmod);  // R

    const auto times_qinv = [this](std::int32_t z) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(z) * qinv);
    };
    zetas_qinv.resize(zetas.size());
    zetas_inv_qinv.resize(zetas.size());
    for (std::size_t i = 0; i < zetas.size(); ++i) {
        zetas_qinv[i] = times_qinv(zetas[i]);
        zetas_inv_qinv[i] = times_qinv(zetas_inv[i]);
    }

    // Reduction schedule. A forward layer adds a value in (-q, q) to each
    // coefficient (bound b q becomes (b + 1) q); an inverse layer adds two
    // coefficients (b q becomes 2 b q). Reduce to (-q, q) just before a layer
    // whose result might not fit a signed 32-bit integer.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    lazy = 2 * q_ < kLimit;
    if (lazy) {
        std::int64_t bound = 1;
        for (int layer = 0; layer < log_n; ++layer) {
            if ((bound + 1) * q_ >= kLimit) {
                fwd_reduce_before |= std::uint32_t{1} << layer;
                bound = 1;
            }
            bound += 1;
        }
        fwd_reduce_after = bound > 1;
        bound = 1;
        for (int layer = 0; layer < log_n; ++layer) {
            if (2 * bound * q_ >= kLimit) {
                inv_reduce_before |= std::uint32_t{1} << layer;
                bound = 1;
            }
            bound *= 2;
        }
    }

    // Per-lane twiddles of the three shortest spans, for groups of 16
    // coefficients held as two vectors of 8 (see ntt_avx2.cpp for the lane
    // order each span's shuffle produces).
    if (n >= 16) {
        static constexpr int kLaneBlock[3][8] = {
            {0, 0, 0, 0, 1, 1, 1, 1},  // span 4: blocks of 8, two per group
            {0, 0, 2, 2, 1, 1, 3, 3},  // span 2: blocks of 4, four per group
            {0, 4, 1, 5, 2, 6, 3, 7},  // span 1: blocks of 2, eight per group
        };
        const std::size_t half = static_cast<std::size_t>(n) / 2;
        lane_zetas.resize(3 * half);
        lane_zetas_qinv.resize(3 * half);
        lane_zetas_inv.resize(3 * half);
        lane_zetas_inv_qinv.resize(3 * half);
        for (int span = 0; span < 3; ++span) {
            const std::int32_t blocks = n / (8 >> span);     // blocks in this layer
            const std::int32_t per_group = 2 << span;        // blocks per 16 coefficients
            for (std::int32_t g = 0; g < n / 16; ++g) {
                for (int lane = 0; lane < 8; ++lane) {
                    const auto idx = static_cast<std::size_t>(blocks + g * per_group + kLaneBlock[span][lane]);
                    const std::size_t dst = static_cast<std::size_t>(span) * half + static_cast<std::size_t>(g) * 8 + static_cast<std::size_t>(lane);
                    lane_zetas[dst] = zetas[idx];
                    lane_zetas_qinv[dst] = zetas_qinv[idx];
                    lane_zetas_inv[dst] = zetas_inv[idx];
                    lane_zetas_inv_qinv[dst] = zetas_inv_qinv[idx];
                }
            }
        }
    }
}

namespace {

// Each set's tables are built on first use of that set only.
const NttTables& tables_128() {
    static const NttTables t(kParams128.q, kParams128.log_n, kParams128.psi);
    return t;
}

const NttTables& tables_256() {
    static const NttTables t(kParams256.q, kParams256.log_n, kParams256.psi);
    return t;
}

}  // namespace

const NttTables& ntt_tables(const ParamSet& p) { return p.level == 256 ? tables_256() : tables_128(); }

namespace {

// Every coefficient to (-q, q): the Montgomery product with R mod q.
void reduce_all(const NttTables& t, std::int32_t* a) noexcept {
    for (std::int32_t j = 0; j < t.n; ++j) a[j] = montmul(a[j], t.r_mod, t.q, t.qinv);
}

// Sum of two values in (-q, q) for q up to 2^31, back to (-q, q) in 64 bits.
inline std::int32_t add_wide(std::int64_t u, std::int64_t v, std::int32_t q) noexcept {
    return static_cast<std::int32_t>((u + v) % q);
}

// The transforms for moduli of 2^30 and more, where no sum may be left
// unreduced; every step is reduced at once.
void forward_wide(const NttTables& t, std::int32_t* a) noexcept {
    std::int32_t idx = 0;
    for (std::int32_t len = t.n / 2; len > 0; len >>= 1) {
        for (std::int32_t start = 0; start < t.n; start += 2 * len) {
            const std::int32_t z = t.zetas[static_cast<std::size_t>(++idx)];
            for (std::int32_t j = start; j < start + len; ++j) {
                const std::int32_t v = montmul(z, a[j + len], t.q, t.qinv);
                const std::int32_t u = a[j];
                a[j + len] = add_wide(u, -static_cast<std::int64_t>(v), t.q);
                a[j] = add_wide(u, v, t.q);
            }
        }
    }
}

void inverse_wide(const NttTables& t, std::int32_t* a) noexcept {
    for (std::int32_t len = 1; len < t.n; len <<= 1) {
        const std::int32_t base = t.n / (2 * len);
        for (std::int32_t start = 0; start < t.n; start += 2 * len) {
            const std::int32_t z = t.zetas_inv[static_cast<std::size_t>(base + start / (2 * len))];
            for (std::int32_t j = start; j < start + len; ++j) {
                const std::int32_t u = a[j];
                const std::int32_t v = a[j + len];
                a[j] = add_wide(u, v, t.q);
                a[j + len] = montmul(z, add_wide(u, -static_cast<std::int64_t>(v), t.q), t.q, t.qinv);
            }
        }
    }
}

}  // namespace

// Cooley-Tukey layers from the longest span down. The twiddle product lies in
// (-q, q) whatever the size of its input, so each layer widens the bound by q;
// the schedule in the tables says when to reduce.
void ntt_forward_portable(const NttTables& t, std::int32_t* a) noexcept {
    if (!t.lazy) {
        forward_wide(t, a);
        return;
    }
    const std::int32_t q = t.q;
    const std::int32_t nn = t.n;
    std::int32_t idx = 0;
    int layer = 0;
    for (std::int32_t len = nn / 2; len > 0; len >>= 1, ++layer) {
        if ((t.fwd_reduce_before >> layer) & 1u) reduce_all(t, a);
        for (std::int32_t start = 0; start < nn; start += 2 * len) {
            ++idx;
            const std::int32_t z = t.zetas[static_cast<std::size_t>(idx)];
            const std::int32_t zq = t.zetas_qinv[static_cast<std::size_t>(idx)];
            std::int32_t* lo = a + start;
            std::int32_t* hi = a + start + len;
            for (std::int32_t j = 0; j < len; ++j) {
                const std::int32_t v = montmul_pre(hi[j], z, zq, q);
                const std::int32_t u = lo[j];
                hi[j] = u - v;
                lo[j] = u + v;
            }
        }
    }
    if (t.fwd_reduce_after) reduce_all(t, a);
}

// Gentleman-Sande layers from the shortest span up; sums double the bound,
// differences go through a twiddle and come back to (-q, q). The final scaling
// by n^-1 reduces everything.
void ntt_inverse_portable(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    const std::int32_t q = t.q;
    const std::int32_t nn = t.n;
    if (!t.lazy) {
        inverse_wide(t, a);
    } else {
        int layer = 0;
        for (std::int32_t len = 1; len < nn; len <<= 1, ++layer) {
            if ((t.inv_reduce_before >> layer) & 1u) reduce_all(t, a);
            const std::int32_t base = nn / (2 * len);
            for (std::int32_t start = 0; start < nn; start += 2 * len) {
                const auto idx = static_cast<std::size_t>(base + start / (2 * len));
                const std::int32_t z = t.zetas_inv[idx];
                const std::int32_t zq = t.zetas_inv_qinv[idx];
                std::int32_t* lo = a + start;
                std::int32_t* hi = a + start + len;
                for (std::int32_t j = 0; j < len; ++j) {
                    const std::int32_t u = lo[j];
                    const std::int32_t v = hi[j];
                    lo[j] = u + v;
                    hi[j] = montmul_pre(u - v, z, zq, q);
                }
            }
        }
    }
    const std::int32_t f = after_montmul ? t.inv_scale_mont : t.inv_scale;
    for (std::int32_t j = 0; j < nn; ++j) a[j] = montmul(f, a[j], q, t.qinv);
}

void ntt_pointwise_portable(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) out[i] = montmul(a[i], b[i], t.q, t.qinv);
}

void ntt_pointwise_acc_portable(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    const std::int64_t q = t.q;
    for (std::int32_t i = 0; i < t.n; ++i) {
        // In 64 bits, so that moduli up to 2^31 cannot overflow the sum.
        std::int64_t x = std::int64_t{acc[i]} + montmul(a[i], b[i], t.q, t.qinv);
        x -= q & -static_cast<std::int64_t>(x >= q);
        x += q & -static_cast<std::int64_t>(x <= -q);
        acc[i] = static_cast<std::int32_t>(x);
    }
}

namespace {

// Where position i of a row sits in a wide accumulator.
inline std::size_t wide_slot(std::int32_t n, std::int32_t i) noexcept {
    if (n < 8) return static_cast<std::size_t>(i);
    const std::int32_t j = i & 7;
    return static_cast<std::size_t>((i & ~7) + ((j & 1) != 0 ? 4 + (j >> 1) : j >> 1));
}

}  // namespace

std::int64_t ntt_wide_terms(const NttTables& t) noexcept { return ntt_wide_capacity(t.q); }

void ntt_wide_clear(const NttTables& t, std::int64_t* acc) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) acc[i] = 0;
}

void ntt_mul_acc_wide_portable(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) acc[wide_slot(t.n, i)] += std::int64_t{a[i]} * b[i];
}

void ntt_reduce_wide_portable(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) {
        // Montgomery reduction of the 64-bit sum (|sum| < 2^62, so sum - t q
        // cannot overflow and the result is below 2^31), then to (-q, q).
        const std::int64_t x = acc[wide_slot(t.n, i)];
        const auto m = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x)) * t.qinv);
        const auto r = static_cast<std::int32_t>((x - std::int64_t{m} * t.q) >> 32);
        out[i] = montmul(r, t.r_mod, t.q, t.qinv);
    }
}

void ntt_mul_acc_wide(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    if (ntt_have_avx2())
        ntt_mul_acc_wide_avx2(t, acc, a, b);
    else
        ntt_mul_acc_wide_portable(t, acc, a, b);
}

void ntt_reduce_wide(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept {
    if (ntt_have_avx2())
        ntt_reduce_wide_avx2(t, out, acc);
    else
        ntt_reduce_wide_portable(t, out, acc);
}

#if !(defined(__x86_64__) || defined(__i386__))
bool ntt_have_avx2() noexcept { return false; }
void ntt_mul_acc_wide_avx2(const NttTables& t, std::int64_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    ntt_mul_acc_wide_portable(t, acc, a, b);
}
void ntt_reduce_wide_avx2(const NttTables& t, std::int32_t* out, const std::int64_t* acc) noexcept {
    ntt_reduce_wide_portable(t, out, acc);
}
void ntt_forward_avx2(const NttTables& t, std::int32_t* a) noexcept { ntt_forward_portable(t, a); }
void ntt_inverse_avx2(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    ntt_inverse_portable(t, a, after_montmul);
}
void ntt_pointwise_avx2(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept {
    ntt_pointwise_portable(t, out, a, b);
}
void ntt_pointwise_acc_avx2(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    ntt_pointwise_acc_portable(t, acc, a, b);
}
#endif

void ntt_forward(const NttTables& t, std::int32_t* a) noexcept {
    if (ntt_have_avx512())
        ntt_forward_avx512(t, a);
    else if (ntt_have_avx2())
        ntt_forward_avx2(t, a);
    else
        ntt_forward_portable(t, a);
}

void ntt_inverse(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    if (ntt_have_avx512())
        ntt_inverse_avx512(t, a, after_montmul);
    else if (ntt_have_avx2())
        ntt_inverse_avx2(t, a, after_montmul);
    else
        ntt_inverse_portable(t, a, after_montmul);
}

void ntt_pointwise(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept {
    if (ntt_have_avx2())
        ntt_pointwise_avx2(t, out, a, b);
    else
        ntt_pointwise_portable(t, out, a, b);
}

void ntt_pointwise_acc(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    if (ntt_have_avx2())
        ntt_pointwise_acc_avx2(t, acc, a, b);
    else
        ntt_pointwise_acc_portable(t, acc, a, b);
}

void ntt_load_portable(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept {
    // Most inputs (trapdoor rows, samples, centred residues) already lie in
    // (-q, q): check that in one branch-free pass and skip the divisions.
    const std::uint64_t span = 2 * static_cast<std::uint64_t>(t.q) - 2;
    const std::uint64_t shift = static_cast<std::uint64_t>(t.q) - 1;
    std::uint64_t outside = 0;
    for (std::int32_t i = 0; i < t.n; ++i) outside |= static_cast<std::uint64_t>(static_cast<std::uint64_t>(src[i]) + shift > span);
    if (outside == 0) {
        for (std::int32_t i = 0; i < t.n; ++i) dst[i] = static_cast<std::int32_t>(src[i]);
        return;
    }
    for (std::int32_t i = 0; i < t.n; ++i) dst[i] = reduce64(src[i], t.q);
}

void ntt_store_centred_portable(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) dst[i] = centre(src[i], t.q);
}

#if !(defined(__x86_64__) || defined(__i386__))
void ntt_load_avx2(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept { ntt_load_portable(t, dst, src); }
void ntt_store_centred_avx2(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept {
    ntt_store_centred_portable(t, dst, src);
}
#endif

bool ntt_load_bytes_portable(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept {
    bool outside = false, canonical = true;
    for (std::int32_t i = 0; i < t.n; ++i) {
        const std::uint8_t* b = src + 4 * i;
        const std::uint32_t w = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
        const auto m = static_cast<std::int32_t>(w & 0x7FFFFFFFu);
        const std::int32_t neg = -static_cast<std::int32_t>(w >> 31);
        dst[i] = (m ^ neg) - neg;  // a negative zero decodes to 0
        outside |= m >= t.q;
        canonical &= m <= bound && w != 0x80000000u;
    }
    if (outside)
        for (std::int32_t i = 0; i < t.n; ++i) dst[i] %= t.q;
    return canonical;
}

std::uint64_t ntt_centre_norm_portable(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept {
    // Each square is below 2^60 (q < 2^31), so eight of them on top of a sum
    // that has not passed the limit (below 2^63) cannot wrap.
    std::uint64_t sum = 0;
    for (std::int32_t j0 = 0; j0 < t.n; j0 += 8) {
        for (std::int32_t j = j0; j < j0 + 8 && j < t.n; ++j) {
            const std::int32_t c = centre(a[j], t.q);
            a[j] = c;
            sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(c) * c);
        }
        if (sum > limit) return sum;
    }
    return sum;
}

void ntt_load_sum_portable(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                           const std::int64_t* b) noexcept {
    const std::int64_t q = t.q, h = q / 2;
    for (std::int32_t j = 0; j < t.n; ++j) {
        std::int64_t v = a[j] + b[j];
        if (v <= -q || v >= q) v %= q;
        v = v > h ? v - q : (v < -h ? v + q : v);
        x[j] = v;
        dst[j] = static_cast<std::int32_t>(v);
    }
}

void ntt_sub_portable(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept {
    for (std::int32_t j = 0; j < t.n; ++j) {
        // In 64 bits, so that moduli up to 2^31 cannot overflow the difference.
        std::int64_t v = std::int64_t{a[j]} - b[j];
        v -= t.q & -static_cast<std::int64_t>(v >= t.q);
        v += t.q & -static_cast<std::int64_t>(v <= -t.q);
        a[j] = static_cast<std::int32_t>(v);
    }
}

void ntt_load(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept {
    if (ntt_have_avx2())
        ntt_load_avx2(t, dst, src);
    else
        ntt_load_portable(t, dst, src);
}

#if !(defined(__x86_64__) || defined(__i386__))
bool ntt_load_bytes_avx2(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept {
    return ntt_load_bytes_portable(t, dst, src, bound);
}
std::uint64_t ntt_centre_norm_avx2(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept {
    return ntt_centre_norm_portable(t, a, limit);
}
#endif

#if !(defined(__x86_64__) || defined(__i386__))
void ntt_load_sum_avx2(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                       const std::int64_t* b) noexcept {
    ntt_load_sum_portable(t, dst, x, a, b);
}
void ntt_sub_avx2(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept { ntt_sub_portable(t, a, b); }
#endif

void ntt_load_sum(const NttTables& t, std::int32_t* dst, std::int64_t* x, const std::int64_t* a,
                  const std::int64_t* b) noexcept {
    if (ntt_have_avx2())
        ntt_load_sum_avx2(t, dst, x, a, b);
    else
        ntt_load_sum_portable(t, dst, x, a, b);
}

void ntt_sub(const NttTables& t, std::int32_t* a, const std::int32_t* b) noexcept {
    if (ntt_have_avx2())
        ntt_sub_avx2(t, a, b);
    else
        ntt_sub_portable(t, a, b);
}

bool ntt_load_bytes(const NttTables& t, std::int32_t* dst, const std::uint8_t* src, std::int32_t bound) noexcept {
    return ntt_have_avx2() ? ntt_load_bytes_avx2(t, dst, src, bound) : ntt_load_bytes_portable(t, dst, src, bound);
}

bool ntt_load_bytes(const NttTables& t, std::int32_t* dst, const std::uint8_t* src) noexcept {
    return ntt_load_bytes(t, dst, src, t.q / 2);
}

std::uint64_t ntt_centre_norm(const NttTables& t, std::int32_t* a, std::uint64_t limit) noexcept {
    return ntt_have_avx2() ? ntt_centre_norm_avx2(t, a, limit) : ntt_centre_norm_portable(t, a, limit);
}

void ntt_store_centred(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept {
    if (ntt_have_avx2())
        ntt_store_centred_avx2(t, dst, src);
    else
        ntt_store_centred_portable(t, dst, src);
}

}  // namespace ringtrap
