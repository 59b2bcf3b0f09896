#include "ki_fft.h"

#include <array>
#include <bit>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ringtrap::ki {

// Root table. Node 1 is i; node 2m is the principal square root of node m and
// node 2m+1 its negative. Angles are kept exactly as integers in units of
// pi / n (roots of x^n + 1 have odd multiples of pi / n), so every entry is one
// libm call on an exactly known angle rather than a chain of roundings.
FftPlan::FftPlan(int log_n) : log_n_(log_n), n_(std::size_t{1} << log_n) {
    if (log_n < 1 || log_n > 16) throw std::invalid_argument("FftPlan: log_n out of range");
    const auto n = static_cast<std::int64_t>(n_);
    std::vector<std::int64_t> angle(n_, 0);  // in (-n, n]
    root_re_.assign(n_, 0.0);
    root_im_.assign(n_, 0.0);
    angle[1] = n / 2;
    for (std::size_t m = 1; 2 * m + 1 < n_; ++m) {
        const std::int64_t half = angle[m] / 2;  // angle[m] is even above the leaves
        angle[2 * m] = half;
        angle[2 * m + 1] = half > 0 ? half - n : half + n;
    }
    for (std::size_t m = 1; m < n_; ++m) {
        if (m > 1 && (m & 1) != 0) {  // exactly the negative of its sibling
            root_re_[m] = -root_re_[m - 1];
            root_im_[m] = -root_im_[m - 1];
            continue;
        }
        // cos and sin of pi * a / n with a in (-n, n]; exact zeros where the
        // angle is a multiple of pi / 2.
        const std::int64_t a = angle[m];
        const double t = std::numbers::pi * static_cast<double>(a) / static_cast<double>(n);
        double c = std::cos(t), s = std::sin(t);
        if (2 * a == n || 2 * a == -n) c = 0.0;
        if (a == 0 || a == n) s = 0.0;
        root_re_[m] = c;
        root_im_[m] = s;
    }
    const std::size_t hn = n_ / 2;
    if (hn >= 8) {
        tw2_re_.resize(hn / 2);
        tw2_im_.resize(hn / 2);
        for (std::size_t b = 0; b < hn / 4; ++b) {  // len 2: blocks = hn / 4
            tw2_re_[2 * b] = tw2_re_[2 * b + 1] = root_re_[2 * (hn / 4 + b)];
            tw2_im_[2 * b] = tw2_im_[2 * b + 1] = root_im_[2 * (hn / 4 + b)];
        }
        tw1_re_.resize(hn / 2);
        tw1_im_.resize(hn / 2);
        constexpr std::size_t kLane[4] = {0, 2, 1, 3};
        for (std::size_t b = 0; b < hn / 2; ++b) {  // len 1: blocks = hn / 2
            const std::size_t src = (b & ~std::size_t{3}) + kLane[b & 3];
            tw1_re_[b] = root_re_[2 * (hn / 2 + src)];
            tw1_im_[b] = root_im_[2 * (hn / 2 + src)];
        }
    }
}

namespace {

// One forward layer: blocks of 2 len values, butterflies (u, v) -> (u + t v,
// u - t v) with the block's twiddle t.
inline void forward_layer_scalar(double* re, double* im, std::size_t blocks, std::size_t len, const double* root_re,
                                 const double* root_im) noexcept {
    for (std::size_t b = 0; b < blocks; ++b) {
        const double tr = root_re[2 * (blocks + b)], ti = root_im[2 * (blocks + b)];
        const std::size_t j0 = 2 * b * len;
        for (std::size_t j = j0; j < j0 + len; ++j) {
            const double vr = re[j + len] * tr - im[j + len] * ti;
            const double vi = re[j + len] * ti + im[j + len] * tr;
            const double ur = re[j], ui = im[j];
            re[j] = ur + vr;
            im[j] = ui + vi;
            re[j + len] = ur - vr;
            im[j + len] = ui - vi;
        }
    }
}

// One inverse layer: (u, v) -> (u + v, (u - v) conj(t)); the halves are
// collected in one final scale.
inline void inverse_layer_scalar(double* re, double* im, std::size_t blocks, std::size_t len, const double* root_re,
                                 const double* root_im) noexcept {
    for (std::size_t b = 0; b < blocks; ++b) {
        const double tr = root_re[2 * (blocks + b)], ti = -root_im[2 * (blocks + b)];
        const std::size_t j0 = 2 * b * len;
        for (std::size_t j = j0; j < j0 + len; ++j) {
            const double ur = re[j], ui = im[j], vr = re[j + len], vi = im[j + len];
            re[j] = ur + vr;
            im[j] = ui + vi;
            const double dr = ur - vr, di = ui - vi;
            re[j + len] = dr * tr - di * ti;
            im[j + len] = dr * ti + di * tr;
        }
    }
}

#if defined(__x86_64__)
// The same layers four butterflies at a time (len >= 4); plain multiplies and
// adds in the scalar order, no fused multiply-add.
// Butterflies (u, v) -> (u + t v, u - t v) on lanes, in the scalar order.
__attribute__((target("avx2"))) inline void fwd_bfly(__m256d& ur, __m256d& ui, __m256d& vr, __m256d& vi, __m256d tr,
                                                    __m256d ti) noexcept {
    const __m256d tvr = _mm256_sub_pd(_mm256_mul_pd(vr, tr), _mm256_mul_pd(vi, ti));
    const __m256d tvi = _mm256_add_pd(_mm256_mul_pd(vr, ti), _mm256_mul_pd(vi, tr));
    vr = _mm256_sub_pd(ur, tvr);
    vi = _mm256_sub_pd(ui, tvi);
    ur = _mm256_add_pd(ur, tvr);
    ui = _mm256_add_pd(ui, tvi);
}

// (u, v) -> (u + v, (u - v) t) on lanes, in the scalar order (t already conjugated).
__attribute__((target("avx2"))) inline void inv_bfly(__m256d& ur, __m256d& ui, __m256d& vr, __m256d& vi, __m256d tr,
                                                    __m256d ti) noexcept {
    const __m256d dr = _mm256_sub_pd(ur, vr), di = _mm256_sub_pd(ui, vi);
    ur = _mm256_add_pd(ur, vr);
    ui = _mm256_add_pd(ui, vi);
    vr = _mm256_sub_pd(_mm256_mul_pd(dr, tr), _mm256_mul_pd(di, ti));
    vi = _mm256_add_pd(_mm256_mul_pd(dr, ti), _mm256_mul_pd(di, tr));
}

// The layers with blocks of 4 values (len 2) and 2 values (len 1), two and
// four blocks per vector: the halves are gathered with lane permutations, the
// twiddles come pre-arranged (FftPlan's tw2 and tw1), and each lane does the
// scalar butterfly's operations. Inverse twiddles are conjugated by flipping
// the sign bit, which is exact.
template <bool Forward>
__attribute__((target("avx2"))) void layer_len2(double* re, double* im, std::size_t hn, const double* twr,
                                                const double* twi) noexcept {
    const __m256d sign = _mm256_set1_pd(Forward ? 0.0 : -0.0);
    for (std::size_t j = 0; j < hn; j += 8) {
        const __m256d ar = _mm256_loadu_pd(re + j), br = _mm256_loadu_pd(re + j + 4);
        const __m256d ai = _mm256_loadu_pd(im + j), bi = _mm256_loadu_pd(im + j + 4);
        __m256d ur = _mm256_permute2f128_pd(ar, br, 0x20), vr = _mm256_permute2f128_pd(ar, br, 0x31);
        __m256d ui = _mm256_permute2f128_pd(ai, bi, 0x20), vi = _mm256_permute2f128_pd(ai, bi, 0x31);
        const __m256d tr = _mm256_loadu_pd(twr + j / 2);
        const __m256d ti = _mm256_xor_pd(_mm256_loadu_pd(twi + j / 2), sign);
        if constexpr (Forward) fwd_bfly(ur, ui, vr, vi, tr, ti); else inv_bfly(ur, ui, vr, vi, tr, ti);
        _mm256_storeu_pd(re + j, _mm256_permute2f128_pd(ur, vr, 0x20));
        _mm256_storeu_pd(re + j + 4, _mm256_permute2f128_pd(ur, vr, 0x31));
        _mm256_storeu_pd(im + j, _mm256_permute2f128_pd(ui, vi, 0x20));
        _mm256_storeu_pd(im + j + 4, _mm256_permute2f128_pd(ui, vi, 0x31));
    }
}

template <bool Forward>
__attribute__((target("avx2"))) void layer_len1(double* re, double* im, std::size_t hn, const double* twr,
                                                const double* twi) noexcept {
    const __m256d sign = _mm256_set1_pd(Forward ? 0.0 : -0.0);
    for (std::size_t j = 0; j < hn; j += 8) {
        const __m256d ar = _mm256_loadu_pd(re + j), br = _mm256_loadu_pd(re + j + 4);
        const __m256d ai = _mm256_loadu_pd(im + j), bi = _mm256_loadu_pd(im + j + 4);
        __m256d ur = _mm256_unpacklo_pd(ar, br), vr = _mm256_unpackhi_pd(ar, br);
        __m256d ui = _mm256_unpacklo_pd(ai, bi), vi = _mm256_unpackhi_pd(ai, bi);
        const __m256d tr = _mm256_loadu_pd(twr + j / 2);
        const __m256d ti = _mm256_xor_pd(_mm256_loadu_pd(twi + j / 2), sign);
        if constexpr (Forward) fwd_bfly(ur, ui, vr, vi, tr, ti); else inv_bfly(ur, ui, vr, vi, tr, ti);
        _mm256_storeu_pd(re + j, _mm256_unpacklo_pd(ur, vr));
        _mm256_storeu_pd(re + j + 4, _mm256_unpackhi_pd(ur, vr));
        _mm256_storeu_pd(im + j, _mm256_unpacklo_pd(ui, vi));
        _mm256_storeu_pd(im + j + 4, _mm256_unpackhi_pd(ui, vi));
    }
}

__attribute__((target("avx2"))) void forward_avx2(double* re, double* im, std::size_t hn, const double* root_re,
                                                  const double* root_im, const double* tw2_re, const double* tw2_im,
                                                  const double* tw1_re, const double* tw1_im) noexcept {
    std::size_t len = hn;
    for (std::size_t blocks = 1; blocks < hn; blocks *= 2) {
        len /= 2;
        if (len < 4) {
            if (hn >= 8 && len == 2) {
                layer_len2<true>(re, im, hn, tw2_re, tw2_im);
            } else if (hn >= 8 && len == 1) {
                layer_len1<true>(re, im, hn, tw1_re, tw1_im);
            } else {
                forward_layer_scalar(re, im, blocks, len, root_re, root_im);
            }
            continue;
        }
        for (std::size_t b = 0; b < blocks; ++b) {
            const __m256d tr = _mm256_set1_pd(root_re[2 * (blocks + b)]);
            const __m256d ti = _mm256_set1_pd(root_im[2 * (blocks + b)]);
            const std::size_t j0 = 2 * b * len;
            for (std::size_t j = j0; j < j0 + len; j += 4) {
                const __m256d ar = _mm256_loadu_pd(re + j + len), ai = _mm256_loadu_pd(im + j + len);
                const __m256d vr = _mm256_sub_pd(_mm256_mul_pd(ar, tr), _mm256_mul_pd(ai, ti));
                const __m256d vi = _mm256_add_pd(_mm256_mul_pd(ar, ti), _mm256_mul_pd(ai, tr));
                const __m256d ur = _mm256_loadu_pd(re + j), ui = _mm256_loadu_pd(im + j);
                _mm256_storeu_pd(re + j, _mm256_add_pd(ur, vr));
                _mm256_storeu_pd(im + j, _mm256_add_pd(ui, vi));
                _mm256_storeu_pd(re + j + len, _mm256_sub_pd(ur, vr));
                _mm256_storeu_pd(im + j + len, _mm256_sub_pd(ui, vi));
            }
        }
    }
}

__attribute__((target("avx2"))) void inverse_avx2(double* re, double* im, std::size_t hn, const double* root_re,
                                                  const double* root_im, const double* tw2_re, const double* tw2_im,
                                                  const double* tw1_re, const double* tw1_im) noexcept {
    std::size_t len = 1;
    for (std::size_t blocks = hn / 2; blocks >= 1; blocks /= 2) {
        if (len < 4) {
            if (hn >= 8 && len == 1) {
                layer_len1<false>(re, im, hn, tw1_re, tw1_im);
            } else if (hn >= 8 && len == 2) {
                layer_len2<false>(re, im, hn, tw2_re, tw2_im);
            } else {
                inverse_layer_scalar(re, im, blocks, len, root_re, root_im);
            }
            len *= 2;
            continue;
        }
        for (std::size_t b = 0; b < blocks; ++b) {
            const __m256d tr = _mm256_set1_pd(root_re[2 * (blocks + b)]);
            const __m256d ti = _mm256_set1_pd(-root_im[2 * (blocks + b)]);
            const std::size_t j0 = 2 * b * len;
            for (std::size_t j = j0; j < j0 + len; j += 4) {
                const __m256d ur = _mm256_loadu_pd(re + j), ui = _mm256_loadu_pd(im + j);
                const __m256d vr = _mm256_loadu_pd(re + j + len), vi = _mm256_loadu_pd(im + j + len);
                _mm256_storeu_pd(re + j, _mm256_add_pd(ur, vr));
                _mm256_storeu_pd(im + j, _mm256_add_pd(ui, vi));
                const __m256d dr = _mm256_sub_pd(ur, vr), di = _mm256_sub_pd(ui, vi);
                _mm256_storeu_pd(re + j + len, _mm256_sub_pd(_mm256_mul_pd(dr, tr), _mm256_mul_pd(di, ti)));
                _mm256_storeu_pd(im + j + len, _mm256_add_pd(_mm256_mul_pd(dr, ti), _mm256_mul_pd(di, tr)));
            }
        }
        len *= 2;
    }
}
#endif

}  // namespace

bool FftPlan::have_avx2() noexcept {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

// The values are those of g(x) = sum_j (f_j + i f_(j+n/2)) x^j at the roots of
// x^(n/2) - i: zeta^(n/2) = i for every stored root. g_j is (re[j], im[j])
// already, so the transform runs on f in place.
void FftPlan::forward_portable(double* f) const noexcept {
    const std::size_t hn = n_ / 2;
    std::size_t len = hn;
    for (std::size_t blocks = 1; blocks < hn; blocks *= 2) {
        len /= 2;
        forward_layer_scalar(f, f + hn, blocks, len, root_re_.data(), root_im_.data());
    }
    flush_tiny(f, n_);
}

void FftPlan::forward(double* f) const noexcept {
#if defined(__x86_64__)
    if (have_avx2()) {
        forward_avx2(f, f + n_ / 2, n_ / 2, root_re_.data(), root_im_.data(), tw2_re_.data(), tw2_im_.data(),
                     tw1_re_.data(), tw1_im_.data());
        flush_tiny(f, n_);
        return;
    }
#endif
    forward_portable(f);
}

void FftPlan::inverse_portable(double* f) const noexcept {
    const std::size_t hn = n_ / 2;
    std::size_t len = 1;
    for (std::size_t blocks = hn / 2; blocks >= 1; blocks /= 2) {
        inverse_layer_scalar(f, f + hn, blocks, len, root_re_.data(), root_im_.data());
        len *= 2;
    }
    const double scale = 1.0 / static_cast<double>(hn);
    for (std::size_t j = 0; j < n_; ++j) f[j] *= scale;
    flush_tiny(f, n_);
}

void FftPlan::inverse(double* f) const noexcept {
#if defined(__x86_64__)
    if (have_avx2()) {
        const std::size_t hn = n_ / 2;
        inverse_avx2(f, f + hn, hn, root_re_.data(), root_im_.data(), tw2_re_.data(), tw2_im_.data(),
                     tw1_re_.data(), tw1_im_.data());
        const double scale = 1.0 / static_cast<double>(hn);
        for (std::size_t j = 0; j < n_; ++j) f[j] *= scale;
        flush_tiny(f, n_);
        return;
    }
#endif
    inverse_portable(f);
}

void FftPlan::split(std::size_t m, const double* f_re, const double* f_im, double* f0_re, double* f0_im, double* f1_re,
                    double* f1_im) const noexcept {
    if (m == 2) {
        // K_1 elements are real numbers: f = f0 + x f1 with x = i at the root.
        *f0_re = *f_re;
        *f1_re = *f_im;
        *f0_im = 0.0;
        *f1_im = 0.0;
        return;
    }
    const std::size_t h = m / 4;
    const double* zr = root_re_.data() + m / 2;
    const double* zi = root_im_.data() + m / 2;
    for (std::size_t i = 0; i < h; ++i) {
        const double ar = f_re[2 * i], ai = f_im[2 * i], br = f_re[2 * i + 1], bi = f_im[2 * i + 1];
        f0_re[i] = 0.5 * (ar + br);
        f0_im[i] = 0.5 * (ai + bi);
        const double dr = 0.5 * (ar - br), di = 0.5 * (ai - bi);
        // divide by zeta: multiply by its conjugate (|zeta| = 1)
        f1_re[i] = dr * zr[2 * i] + di * zi[2 * i];
        f1_im[i] = di * zr[2 * i] - dr * zi[2 * i];
    }
}

void FftPlan::merge(std::size_t m, const double* f0_re, const double* f0_im, const double* f1_re, const double* f1_im,
                    double* f_re, double* f_im) const noexcept {
    if (m == 2) {
        *f_re = *f0_re;
        *f_im = *f1_re;
        return;
    }
    const std::size_t h = m / 4;
    const double* zr = root_re_.data() + m / 2;
    const double* zi = root_im_.data() + m / 2;
    for (std::size_t i = 0; i < h; ++i) {
        const double tr = f1_re[i] * zr[2 * i] - f1_im[i] * zi[2 * i];
        const double ti = f1_re[i] * zi[2 * i] + f1_im[i] * zr[2 * i];
        f_re[2 * i] = f0_re[i] + tr;
        f_im[2 * i] = f0_im[i] + ti;
        f_re[2 * i + 1] = f0_re[i] - tr;
        f_im[2 * i + 1] = f0_im[i] - ti;
    }
}

const FftPlan& fft_plan(int log_n) {
    static std::array<std::unique_ptr<FftPlan>, 17> plans;
    static std::mutex mu;
    if (log_n < 1 || log_n > 16) throw std::invalid_argument("fft_plan: log_n out of range");
    std::lock_guard<std::mutex> lock(mu);
    auto& p = plans[static_cast<std::size_t>(log_n)];
    if (!p) p = std::make_unique<FftPlan>(log_n);
    return *p;
}

void flush_tiny(double* v, std::size_t count) noexcept {
    // Exponent field below 1023 - 200 means |x| < 2^-200 (zero and subnormals
    // included). The mask keeps the bits of larger values and clears the rest.
    constexpr std::uint64_t kMinExp = 1023 - 200;
    for (std::size_t i = 0; i < count; ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(v[i]);
        const std::uint64_t e = (bits >> 52) & 0x7FF;
        const std::uint64_t keep = 0 - ((kMinExp - 1 - e) >> 63);  // all ones when e >= kMinExp
        v[i] = std::bit_cast<double>(bits & keep);
    }
}

void fft_mul(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
             double* out_re, double* out_im) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const double ar = a_re[i], ai = a_im[i], br = b_re[i], bi = b_im[i];
        out_re[i] = ar * br - ai * bi;
        out_im[i] = ar * bi + ai * br;
    }
}

void fft_mul_acc(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                 double* out_re, double* out_im) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const double ar = a_re[i], ai = a_im[i], br = b_re[i], bi = b_im[i];
        out_re[i] += ar * br - ai * bi;
        out_im[i] += ar * bi + ai * br;
    }
}

void fft_mul_adj_acc(std::size_t count, const double* a_re, const double* a_im, const double* b_re, const double* b_im,
                     double* out_re, double* out_im) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const double ar = a_re[i], ai = a_im[i], br = b_re[i], bi = b_im[i];
        out_re[i] += ar * br + ai * bi;
        out_im[i] += ai * br - ar * bi;
    }
}

}  // namespace ringtrap::ki
