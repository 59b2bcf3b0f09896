#include "util.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "BasicScheme.h"
#include "fft.h"
#include "ntt.h"

namespace ringtrap {

namespace {

// A fresh zeroed array of `length` elements in a secret buffer (coefficient
// arrays may hold trapdoor data), or none for length <= 0.
template <typename T>
std::shared_ptr<SecretBuffer<T>> make_zeroed(std::int64_t length, T*& raw) {
    if (length <= 0) {
        raw = nullptr;
        return nullptr;
    }
    auto buffer = std::make_shared<SecretBuffer<T>>(static_cast<std::size_t>(length));
    raw = buffer->data();
    return buffer;
}

// Schoolbook negacyclic product modulo x^N + 1 and q, for lengths that the
// transform tables do not cover.
poly_R negacyclic_schoolbook(const poly_R& a, const poly_R& b, std::int64_t q) {
    poly_R out = create_poly_R(a.len);
    const std::int64_t N = a.len;
    const std::int64_t bl = b.len < N ? b.len : N;
    SecretBuffer<std::int64_t> acc(static_cast<std::size_t>(N > 0 ? N : 0));
    for (std::int64_t i = 0; i < N; ++i) {
        const std::int64_t ai = a.coeffs[i] % q;
        for (std::int64_t j = 0; j < bl; ++j) {
            const std::int64_t prod = (ai * (b.coeffs[j] % q)) % q;
            std::int64_t idx = i + j;
            if (idx >= N) acc[static_cast<std::size_t>(idx - N)] = (acc[static_cast<std::size_t>(idx - N)] - prod) % q;
            else acc[static_cast<std::size_t>(idx)] = (acc[static_cast<std::size_t>(idx)] + prod) % q;
        }
    }
    for (std::int64_t i = 0; i < N; ++i) out.coeffs[i] = centred_mod(acc[static_cast<std::size_t>(i)], q);
    return out;
}

bool fits_tables(const NttTables* t, const poly_R& p) { return t != nullptr && p.len == t->n && p.coeffs != nullptr; }

}  // namespace

// Before a parameter set is selected the modulus is 0; reducing by it would be
// a division by zero, so the modular operations refuse instead.
static std::int64_t checked_modulus() {
    if (modulo <= 0) throw std::logic_error("ringtrap: no parameter set selected (call parameter_init first)");
    return modulo;
}

std::int64_t mod_add_R(std::int64_t a, std::int64_t b) { return centred_mod(a + b, checked_modulus()); }
std::int64_t mod_sub_R(std::int64_t a, std::int64_t b) { return centred_mod(a - b, checked_modulus()); }

poly_R create_poly_R(std::int64_t length) {
    poly_R p;
    p.storage = make_zeroed<std::int64_t>(length, p.coeffs);
    p.len = p.coeffs ? length : 0;
    return p;
}

mat_poly_R create_mat_poly_R(std::int64_t length, std::int64_t rows, std::int64_t cols) {
    mat_poly_R m;
    m.rows = rows;
    m.cols = cols;
    if (rows <= 0 || cols <= 0) return m;
    const auto count = static_cast<std::size_t>(rows * cols);
    m.storage = std::shared_ptr<poly_R[]>(new poly_R[count]);
    m.entries = m.storage.get();
    for (std::size_t i = 0; i < count; ++i) m.entries[i] = create_poly_R(length);
    return m;
}

poly_R mod_add_poly_R(const poly_R& a, const poly_R& b) {
    poly_R out = create_poly_R(a.len);
    for (std::int64_t i = 0; i < out.len; ++i) out.coeffs[i] = mod_add_R(a.coeffs[i], b.coeffs[i]);
    return out;
}

poly_R mod_sub_poly_R(const poly_R& a, const poly_R& b) {
    poly_R out = create_poly_R(a.len);
    for (std::int64_t i = 0; i < out.len; ++i) out.coeffs[i] = mod_sub_R(a.coeffs[i], b.coeffs[i]);
    return out;
}

poly_R mod_mul_poly_R(const poly_R& a, const poly_R& b) {
    const NttTables* t = current_ntt_tables();
    if (!fits_tables(t, a) || !fits_tables(t, b)) return negacyclic_schoolbook(a, b, checked_modulus());
    const auto len = static_cast<std::size_t>(t->n);
    SecretBuffer<std::int32_t> fa(len), fb(len);
    ntt_load(*t, fa.data(), a.coeffs);
    ntt_load(*t, fb.data(), b.coeffs);
    ntt_forward(*t, fa.data());
    ntt_forward(*t, fb.data());
    ntt_pointwise(*t, fa.data(), fa.data(), fb.data());
    ntt_inverse(*t, fa.data(), true);
    poly_R out = create_poly_R(a.len);
    ntt_store_centred(*t, out.coeffs, fa.data());
    return out;
}

poly_R inner_product_mat_poly_R(const mat_poly_R& A, const mat_poly_R& B) {
    if (A.rows != 1 || B.rows != 1 || A.cols != B.cols || A.cols <= 0) return poly_R{};
    const NttTables* t = current_ntt_tables();
    bool fast = t != nullptr;
    for (std::int64_t j = 0; fast && j < A.cols; ++j) fast = fits_tables(t, A.entries[j]) && fits_tables(t, B.entries[j]);
    poly_R acc = create_poly_R(A.entries[0].len);
    if (!fast) {
        for (std::int64_t j = 0; j < A.cols; ++j) {
            const poly_R p = mod_mul_poly_R(A.entries[j], B.entries[j]);
            for (std::int64_t i = 0; i < acc.len && i < p.len; ++i) acc.coeffs[i] = mod_add_R(acc.coeffs[i], p.coeffs[i]);
        }
        return acc;
    }
    // Accumulate in the transform domain: one inverse transform in all.
    const auto len = static_cast<std::size_t>(t->n);
    SecretBuffer<std::int32_t> sum(len), fa(len), fb(len);
    for (std::int64_t j = 0; j < A.cols; ++j) {
        ntt_load(*t, fa.data(), A.entries[j].coeffs);
        ntt_load(*t, fb.data(), B.entries[j].coeffs);
        ntt_forward(*t, fa.data());
        ntt_forward(*t, fb.data());
        ntt_pointwise_acc(*t, sum.data(), fa.data(), fb.data());
    }
    ntt_inverse(*t, sum.data(), true);
    ntt_store_centred(*t, acc.coeffs, sum.data());
    return acc;
}

bool is_row(const mat_poly_R& m, std::int64_t cols, std::int64_t len) {
    if (m.rows != 1 || m.cols != cols || m.entries == nullptr) return false;
    for (std::int64_t j = 0; j < cols; ++j)
        if (m.entries[j].len != len || m.entries[j].coeffs == nullptr) return false;
    return true;
}

void flatten_row(const mat_poly_R& m, std::int64_t* out) {
    const std::int64_t len = m.cols > 0 ? m.entries[0].len : 0;
    for (std::int64_t j = 0; j < m.cols; ++j)
        std::memcpy(out + j * len, m.entries[j].coeffs, static_cast<std::size_t>(len) * sizeof(std::int64_t));
}

std::vector<std::int64_t> flatten_row(const mat_poly_R& m) {
    const std::int64_t len = m.cols > 0 ? m.entries[0].len : 0;
    std::vector<std::int64_t> out(static_cast<std::size_t>(m.cols * len));
    flatten_row(m, out.data());
    return out;
}

mat_poly_R make_row(const std::int64_t* data, std::int64_t cols, std::int64_t len) {
    mat_poly_R m = create_mat_poly_R(len, 1, cols);
    for (std::int64_t j = 0; j < cols; ++j)
        std::memcpy(m.entries[j].coeffs, data + j * len, static_cast<std::size_t>(len) * sizeof(std::int64_t));
    return m;
}

void print_poly_R(const poly_R& p) {
    std::putchar('[');
    for (std::int64_t i = 0; i < p.len; ++i) std::printf("%" PRId64 " ", p.coeffs[i]);
    std::putchar(']');
}

void print_mat_poly_R(const mat_poly_R& m) {
    std::putchar('[');
    const std::int64_t L = (m.rows > 0 && m.cols > 0 && m.entries) ? m.entries[0].len : 0;
    for (std::int64_t i = 0; i < m.rows && L > 0; ++i) {
        for (std::int64_t c = 0; c < L; ++c) {
            for (std::int64_t j = 0; j < m.cols; ++j) {
                const poly_R& e = m.entries[j + m.cols * i];
                const std::int64_t v = c < e.len ? e.coeffs[c] : 0;
                std::printf("%d ", static_cast<int>(static_cast<std::int32_t>(v)));
            }
            std::putchar('\n');
        }
    }
    std::putchar(']');
}

poly_K create_poly_K(std::int64_t length) {
    poly_K p;
    p.storage = make_zeroed<double>(length, p.coeffs);
    p.len = p.coeffs ? length : 0;
    return p;
}

mat_poly_K create_mat_poly_K(std::int64_t length, std::int64_t rows, std::int64_t cols) {
    mat_poly_K m;
    m.rows = rows;
    m.cols = cols;
    if (rows <= 0 || cols <= 0) return m;
    const auto count = static_cast<std::size_t>(rows * cols);
    m.storage = std::shared_ptr<poly_K[]>(new poly_K[count]);
    m.entries = m.storage.get();
    for (std::size_t i = 0; i < count; ++i) m.entries[i] = create_poly_K(length);
    return m;
}

void print_poly_K(const poly_K& p) {
    std::putchar('[');
    for (std::int64_t i = 0; i < p.len; ++i) std::printf("%f ", p.coeffs[i]);
    std::putchar(']');
}

void print_mat_poly_K(const mat_poly_K& m) {
    std::putchar('[');
    const std::int64_t L = (m.rows > 0 && m.cols > 0 && m.entries) ? m.entries[0].len : 0;
    for (std::int64_t i = 0; i < m.rows && L > 0; ++i) {
        for (std::int64_t c = 0; c < L; ++c) {
            for (std::int64_t j = 0; j < m.cols; ++j) {
                const poly_K& e = m.entries[j + m.cols * i];
                std::printf("%f ", c < e.len ? e.coeffs[c] : 0.0);
            }
            std::putchar('\n');
        }
    }
    std::putchar(']');
}

}  // namespace ringtrap
