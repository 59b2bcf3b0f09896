#include "ntt.h"

#include <stdexcept>

namespace ringtrap {
namespace {

std::int64_t mulmod(std::int64_t a, std::int64_t b, std::int64_t q) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b)) % static_cast<std::uint64_t>(q));
}

std::int64_t powmod(std::int64_t base, std::int64_t e, std::int64_t q) {
    std::int64_t result = 1 % q;
    base %= q;
    if (base < 0) base += q;
    while (e > 0) {
        if (e & 1) result = mulmod(result, base, q);
        base = mulmod(base, base, q);
        e >>= 1;
    }
    return result;
}

std::int64_t nonneg_mod(std::int64_t x, std::int64_t q) {
    x %= q;
    return x < 0 ? x + q : x;
}

// x * 2^32 mod q, centred, for x in [0, q).
std::int32_t to_mont_centred(std::int64_t x, std::int64_t q) {
    const std::int64_t m = static_cast<std::int64_t>((static_cast<std::uint64_t>(x) << 32) % static_cast<std::uint64_t>(q));
    return static_cast<std::int32_t>(m > q / 2 ? m - q : m);
}

// Maps (-2q, 2q) to (-q, q) without branches.
inline std::int32_t fold(std::int32_t x, std::int32_t q) noexcept {
    x -= q & -static_cast<std::int32_t>(x >= q);
    x += q & -static_cast<std::int32_t>(x <= -q);
    return x;
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

    brv.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t rv = 0;
        for (int b = 0; b < log_n; ++b)
            if (i & (1 << b)) rv |= 1 << (log_n - 1 - b);
        brv[static_cast<std::size_t>(i)] = rv;
    }
    const std::int64_t psi_r = nonneg_mod(psi, q_);
    const std::int64_t psi_inv = powmod(psi_r, 2 * static_cast<std::int64_t>(n) - 1, q_);
    zetas.resize(static_cast<std::size_t>(n));
    zetas_inv.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int64_t e = brv[static_cast<std::size_t>(i)];
        zetas[static_cast<std::size_t>(i)] = to_mont_centred(powmod(psi_r, e, q_), q_);
        zetas_inv[static_cast<std::size_t>(i)] = to_mont_centred(powmod(psi_inv, e, q_), q_);
    }
    const std::int64_t ninv = powmod(n, q_ - 2, q_);  // q is prime
    const std::int64_t rmod = static_cast<std::int64_t>((std::uint64_t{1} << 32) % static_cast<std::uint64_t>(q_));
    inv_scale = to_mont_centred(ninv, q_);                      // n^-1 R
    inv_scale_mont = to_mont_centred(mulmod(ninv, rmod, q_), q_);  // n^-1 R^2
    r2 = to_mont_centred(rmod, q_);                             // R^2
}

const NttTables& ntt_tables(const ParamSet& p) {
    static const NttTables t128(kParams128.q, kParams128.log_n, kParams128.psi);
    static const NttTables t256(kParams256.q, kParams256.log_n, kParams256.psi);
    return p.level == 256 ? t256 : t128;
}

void ntt_forward(const NttTables& t, std::int32_t* a) noexcept {
    const std::int32_t q = t.q;
    const std::uint32_t qinv = t.qinv;
    const std::int32_t nn = t.n;
    std::int32_t idx = 0;
    for (std::int32_t len = nn / 2; len > 0; len >>= 1) {
        for (std::int32_t start = 0; start < nn; start += 2 * len) {
            const std::int32_t z = t.zetas[static_cast<std::size_t>(++idx)];
            std::int32_t* lo = a + start;
            std::int32_t* hi = a + start + len;
            for (std::int32_t j = 0; j < len; ++j) {
                const std::int32_t v = montmul(z, hi[j], q, qinv);
                const std::int32_t u = lo[j];
                hi[j] = fold(u - v, q);
                lo[j] = fold(u + v, q);
            }
        }
    }
}

void ntt_inverse(const NttTables& t, std::int32_t* a, bool after_montmul) noexcept {
    const std::int32_t q = t.q;
    const std::uint32_t qinv = t.qinv;
    const std::int32_t nn = t.n;
    for (std::int32_t len = 1; len < nn; len <<= 1) {
        const std::int32_t base = nn / (2 * len);
        for (std::int32_t start = 0; start < nn; start += 2 * len) {
            const std::int32_t z = t.zetas_inv[static_cast<std::size_t>(base + start / (2 * len))];
            std::int32_t* lo = a + start;
            std::int32_t* hi = a + start + len;
            for (std::int32_t j = 0; j < len; ++j) {
                const std::int32_t u = lo[j];
                const std::int32_t v = hi[j];
                lo[j] = fold(u + v, q);
                hi[j] = montmul(z, u - v, q, qinv);
            }
        }
    }
    const std::int32_t f = after_montmul ? t.inv_scale_mont : t.inv_scale;
    for (std::int32_t j = 0; j < nn; ++j) a[j] = montmul(f, a[j], q, qinv);
}

void ntt_pointwise(const NttTables& t, std::int32_t* out, const std::int32_t* a, const std::int32_t* b) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) out[i] = montmul(a[i], b[i], t.q, t.qinv);
}

void ntt_pointwise_acc(const NttTables& t, std::int32_t* acc, const std::int32_t* a, const std::int32_t* b) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) acc[i] = fold(acc[i] + montmul(a[i], b[i], t.q, t.qinv), t.q);
}

void ntt_load(const NttTables& t, std::int32_t* dst, const std::int64_t* src) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) dst[i] = reduce64(src[i], t.q);
}

void ntt_store_centred(const NttTables& t, std::int64_t* dst, const std::int32_t* src) noexcept {
    for (std::int32_t i = 0; i < t.n; ++i) dst[i] = centre(src[i], t.q);
}

}  // namespace ringtrap
