// The key-free leakage statistic: do a key's signatures carry its trapdoor in
// their second moments?
//
// For N signatures of one key, each decoded to centred integers, and entries
// x_0, x_1, x_2 (ring elements of n coefficients):
//   A_ab[d] = mean over signatures of (x_a * x_b^*)[d] / n, the negacyclic
//   correlation at lag d, where b^* is the adjoint b(x^-1).
// If the signatures are spherical (independent coefficients of equal variance
// v), every A_ab[d] (d != 0 for a = b) has mean 0 and standard deviation
// sqrt(v_a v_b / (n N)), so z_d = A_ab[d] sqrt(n N / (v_a v_b)) is a standard
// score and T = mean of z_d^2 over the independent lags has mean 1 and standard
// deviation sqrt(2 / lags). Autocorrelations are antisymmetric
// (A_aa[n - d] = -A_aa[d]), so only the lags 1 .. n/2 - 1 count; cross
// correlations use all n lags. A trapdoor that shapes the signatures' covariance
// shows up as T far above 1; a key-independent sampler keeps it at noise level
// for every N. Alongside, the per-coefficient variance of each entry is reported
// (it should be the set's s^2 for every entry).
//
// The correlations are accumulated in the Fourier domain of the negacyclic
// ring (x(w_j) conj(y(w_j)) at the odd powers of the 2n-th root of unity), so
// one signature costs three transforms and the lags come out with one inverse
// transform at the end. This header is independent of the library's internals
// on purpose: it checks the library from the outside.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace ringtrap::analysis {

struct LeakageFigures {
    std::size_t signatures = 0;
    double auto0 = 0, auto1 = 0;      // T for x_0 x_0^* and x_1 x_1^*
    double cross01 = 0, cross02 = 0;  // T for x_0 x_1^* and x_0 x_2^*
    double noise = 0;                 // one standard deviation of T for the autocorrelations
    double noise_cross = 0;           // ... for the cross correlations
    std::vector<double> variance;     // per-coefficient variance of every entry
};

class LeakageStatistic {
public:
    // n: ring degree (a power of two, at least 4); entries: ring elements per
    // signature (at least 3).
    LeakageStatistic(std::size_t n, std::size_t entries) : n_(n), entries_(entries) {
        if (n < 4 || (n & (n - 1)) != 0 || entries < 3) throw std::invalid_argument("leakage statistic: bad shape");
        twist_.resize(n);
        roots_.resize(n / 2);
        for (std::size_t i = 0; i < n; ++i) twist_[i] = std::polar(1.0, std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
        for (std::size_t i = 0; i < n / 2; ++i) roots_[i] = twist_[2 * i];  // exp(2 pi i i / n)
        acc_.assign(4 * n, {0.0, 0.0});
        sum_sq_.assign(entries, 0.0);
        sum_.assign(entries, 0.0);
    }

    // One signature: entries * n centred coefficients, entry after entry.
    void add(const std::int64_t* x) {
        std::vector<std::complex<double>> f[3];
        for (int e = 0; e < 3; ++e) f[e] = forward(x + static_cast<std::size_t>(e) * n_);
        for (std::size_t j = 0; j < n_; ++j) {
            acc_[j] += f[0][j] * std::conj(f[0][j]);
            acc_[n_ + j] += f[1][j] * std::conj(f[1][j]);
            acc_[2 * n_ + j] += f[0][j] * std::conj(f[1][j]);
            acc_[3 * n_ + j] += f[0][j] * std::conj(f[2][j]);
        }
        for (std::size_t e = 0; e < entries_; ++e)
            for (std::size_t i = 0; i < n_; ++i) {
                const double c = static_cast<double>(x[e * n_ + i]);
                sum_[e] += c;
                sum_sq_[e] += c * c;
            }
        ++count_;
    }

    LeakageFigures figures() const {
        LeakageFigures out;
        out.signatures = count_;
        if (count_ == 0) return out;
        const double N = static_cast<double>(count_), n = static_cast<double>(n_);
        out.variance.resize(entries_);
        for (std::size_t e = 0; e < entries_; ++e) {
            const double mean = sum_[e] / (N * n);
            out.variance[e] = sum_sq_[e] / (N * n) - mean * mean;
        }
        const double v0 = out.variance[0], v1 = out.variance[1], v2 = out.variance[2];
        const std::size_t half = n_ / 2;
        out.auto0 = score(0, v0, 1, half);
        out.auto1 = score(1, v1, 1, half);
        out.cross01 = score(2, std::sqrt(v0 * v1), 0, n_);
        out.cross02 = score(3, std::sqrt(v0 * v2), 0, n_);
        out.noise = std::sqrt(2.0 / static_cast<double>(half - 1));
        out.noise_cross = std::sqrt(2.0 / n);
        return out;
    }

private:
    // Mean squared standard score of the lags [from, to) of one accumulated
    // correlation; v is the product scale sqrt(v_a v_b).
    double score(std::size_t which, double v, std::size_t from, std::size_t to) const {
        const std::vector<double> lags = inverse(&acc_[which * n_]);  // sums over signatures of (x_a x_b^*)[d]
        const double N = static_cast<double>(count_), n = static_cast<double>(n_);
        double t = 0;
        for (std::size_t d = from; d < to; ++d) {
            const double a = lags[d] / (N * n);      // A[d]
            const double z = a * std::sqrt(n * N) / v;
            t += z * z;
        }
        return t / static_cast<double>(to - from);
    }

    // Evaluations at w^(2j+1), w = exp(i pi / n), j = 0 .. n-1: twist by w^i,
    // then a plain DFT of length n.
    std::vector<std::complex<double>> forward(const std::int64_t* x) const {
        std::vector<std::complex<double>> a(n_);
        for (std::size_t i = 0; i < n_; ++i) a[i] = static_cast<double>(x[i]) * twist_[i];
        fft(a, false);
        return a;
    }

    std::vector<double> inverse(const std::complex<double>* values) const {
        std::vector<std::complex<double>> a(values, values + n_);
        fft(a, true);
        std::vector<double> out(n_);
        for (std::size_t i = 0; i < n_; ++i) out[i] = (a[i] * std::conj(twist_[i])).real() / static_cast<double>(n_);
        return out;
    }

    // In-place radix-2 DFT, sum_i a_i exp(+-2 pi i ij / n).
    void fft(std::vector<std::complex<double>>& a, bool inverse_sign) const {
        const std::size_t n = a.size();
        for (std::size_t i = 1, j = 0; i < n; ++i) {
            std::size_t bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(a[i], a[j]);
        }
        for (std::size_t len = 2; len <= n; len <<= 1) {
            const std::size_t step = n / len;
            for (std::size_t i = 0; i < n; i += len)
                for (std::size_t m = 0; m < len / 2; ++m) {
                    const std::complex<double> w = inverse_sign ? std::conj(roots_[m * step]) : roots_[m * step];
                    const std::complex<double> u = a[i + m], v = a[i + m + len / 2] * w;
                    a[i + m] = u + v;
                    a[i + m + len / 2] = u - v;
                }
        }
    }

    std::size_t n_, entries_;
    std::size_t count_ = 0;
    std::vector<std::complex<double>> twist_;
    std::vector<std::complex<double>> roots_;  // exp(2 pi i j / n), j < n/2
    std::vector<std::complex<double>> acc_;  // four accumulated spectra
    std::vector<double> sum_, sum_sq_;
};

}  // namespace ringtrap::analysis
