#include "SampleG.h"

#include <array>
#include <cmath>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "secret.h"

namespace ringtrap {

namespace {

// 1/sqrt(3) as 1.0/sqrt(3.0); sqrt(1.0/3.0) is one ulp lower and not the value.
const double kInvSqrt3 = 1.0 / std::sqrt(3.0);

// Only the last continuous value is folded, and at most this many earlier ones.
constexpr std::int64_t kMaxFold = 20;

// kInvPow2[j] = 2^-j, exact.
constexpr std::array<double, kMaxFold + 1> kInvPow2 = [] {
    std::array<double, kMaxFold + 1> v{};
    double x = 1.0;
    for (auto& e : v) {
        e = x;
        x *= 0.5;
    }
    return v;
}();

bool gadget_inputs_ok(std::int64_t q, double sigma, std::int64_t digits) {
    if (digits < 1 || digits > kMaxGadgetLength) return false;
    if (q <= 0) return false;
    // The coset digits only see bits 0 .. digits-1 of q.
    if (digits < 63 && q >= (std::int64_t{1} << digits)) return false;
    return std::isfinite(sigma) && std::fabs(sigma) <= kMaxGadgetWidth;
}

// Bit i of a non-negative value; bits at 63 and above are 0.
inline std::int64_t bit(std::int64_t v, std::int64_t i) { return i < 63 ? (v >> i) & 1 : 0; }

}  // namespace

bool Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma, std::int64_t digits) {
    if (!gadget_inputs_ok(q, sigma, digits)) {
        for (std::int64_t i = 0; i < digits; ++i) out[i] = 0;
        return false;
    }
    const auto len = static_cast<std::size_t>(digits);
    const gaussian_tables::BoxMuller& tables = gaussian_tables::box_muller();
    std::array<double, kMaxGadgetLength> y;
    std::array<std::int64_t, kMaxGadgetLength> p;
    std::array<std::int64_t, kMaxGadgetLength> d;
    const double two_sigma = sigma + sigma;

    // Correlated continuous perturbation: the last value is scaled and then
    // collects halving shares of up to 20 values before it. Multiplying by
    // 2^-j gives the very double that dividing by 2^j does (both are the
    // correctly rounded value of the same real number).
    // All 3k samples take their draws up front, in the order the steps below
    // use them: k continuous values, k rounded around them, the multiplier,
    // k - 1 digits. No sample can fail to round here (the width is bounded),
    // so this is exactly the draw sequence of taking them one by one.
    std::array<double, 3 * kMaxGadgetLength> cs, rd;
    detail::gaussian_factors(tables, cs.data(), rd.data(), 3 * len);
    std::size_t next = 0;
    const auto sample = [&](double centre, double width) {
        const double g = detail::gaussian_from(cs[next], rd[next], centre, width);
        ++next;
        return g;
    };

    for (std::size_t i = 0; i < len; ++i) y[i] = sample(0.0, two_sigma);
    y[len - 1] = y[len - 1] * kInvSqrt3;
    const std::int64_t folds = digits - 1 < kMaxFold ? digits - 1 : kMaxFold;
    for (std::int64_t j = 1; j <= folds; ++j)
        y[len - 1] = y[len - 1] + y[len - 1 - static_cast<std::size_t>(j)] * kInvPow2[static_cast<std::size_t>(j)];

    for (std::size_t i = 0; i < len; ++i) p[i] = detail::round_half_away(sample(y[i], sigma));

    // t = (u - <g, p>) mod q in [0, q). With small samples and a short
    // gadget the plain 64-bit difference is exact; otherwise u and each
    // p_i 2^i are reduced term by term, which gives the same residue without
    // overflow for targets near the ends of the 64-bit range or long gadgets.
    std::int64_t t;
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < len; ++i) largest |= p[i] < 0 ? -p[i] : p[i];
    if (digits <= 40 && largest < (std::int64_t{1} << 20) && u > -(std::int64_t{1} << 61) && u < (std::int64_t{1} << 61)) {
        // |<g, p>| < 2^20 * 2^40 = 2^60.
        std::int64_t gp = 0;
        for (std::size_t i = len; i-- > 0;) gp = 2 * gp + p[i];
        t = (u - gp) % q;
    } else {
        __extension__ typedef __int128 wide;
        wide acc = u % q;
        std::int64_t pow2 = 1 % q;  // 2^i mod q
        for (std::size_t i = 0; i < len; ++i) {
            acc = (acc - static_cast<wide>(p[i] % q) * pow2) % q;
            pow2 = static_cast<std::int64_t>(static_cast<wide>(pow2) * 2 % q);
        }
        t = static_cast<std::int64_t>(acc);
    }
    if (t < 0) t += q;

    // Multiplier of q; its centre -t/q lies in (-1, 0].
    const std::int64_t c = detail::round_half_away(sample(static_cast<double>(-t) / static_cast<double>(q), sigma));

    // Coset digits: <g, d> = t + c q.
    for (std::size_t i = 0; i < len; ++i) {
        const auto ii = static_cast<std::int64_t>(i);
        d[i] = bit(t, ii) + c * bit(q, ii);
    }

    // Randomise every digit but the last with a sample of its own parity and
    // carry the (even) difference into the next digit, so <g, .> is unchanged.
    for (std::size_t i = 0; i + 1 < len; ++i) {
        const std::int64_t x = detail::parity_step(sample(0.0, two_sigma), d[i]);
        d[i + 1] = d[i + 1] + (d[i] - x) / 2;
        d[i] = x;
    }

    for (std::size_t i = 0; i < len; ++i) out[i] = d[i] + p[i];
    secure_zero(y.data(), len * sizeof(double));
    secure_zero(p.data(), len * sizeof(std::int64_t));
    secure_zero(d.data(), len * sizeof(std::int64_t));
    secure_zero(cs.data(), 3 * len * sizeof(double));
    secure_zero(rd.data(), 3 * len * sizeof(double));
    return true;
}

void Sample_G(std::int64_t* out, std::int64_t q, std::int64_t u, double sigma) {
    // Inputs it cannot serve leave k zeros, as documented; nothing to report.
    const DrawLock lock;
    static_cast<void>(Sample_G(out, q, u, sigma, k));
}

}  // namespace ringtrap
