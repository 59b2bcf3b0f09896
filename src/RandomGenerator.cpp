#include "RandomGenerator.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "BasicScheme.h"
#include "chacha20.h"
#include "gaussian_tables.h"
#include "ringtrap.h"
#include "util.h"

namespace ringtrap {

namespace detail {
DrawBuffer g_draw_buffer;
}  // namespace detail

namespace {

// Blocks per refill of the keystream buffer.
constexpr std::size_t kRefillBlocks = detail::kDrawBufferBytes / chacha20::kBlockBytes;
static_assert(kRefillBlocks * chacha20::kBlockBytes == detail::kDrawBufferBytes);
static_assert(kRefillBlocks % chacha20::kLanes == 0, "refills use whole multi-block passes");

// Everything about the default source except the buffer, which the inline
// fast path of draw() needs to see.
struct Source {
    SecretBuffer<chacha20::Key> key;    // one key once keyed
    std::uint64_t counter = 0;          // next block to generate
    bool keyed = false;                 // key is usable; otherwise take OS entropy at the next refill
    bool from_os = false;               // key came from OS entropy
    std::function<int()> custom;        // the caller's source, when installed
};

Source& source() {
    static Source state;
    return state;
}

std::recursive_mutex& draw_mutex() {
    static std::recursive_mutex m;
    return m;
}

void discard_buffer() noexcept {
    detail::DrawBuffer& b = detail::g_draw_buffer;
    b.bytes.wipe();
    b.cursor = detail::kDrawBufferBytes;
}

void forget_key(Source& src) noexcept {
    src.key.wipe();
    src.keyed = false;
    src.counter = 0;
}

void set_key(Source& src, const std::uint8_t bytes[32]) {
    if (src.key.empty()) src.key = SecretBuffer<chacha20::Key>(1);
    src.key[0] = chacha20::load_key(bytes);
    src.keyed = true;
}

// A forked child must not replay the parent's OS-keyed stream: drop both the
// key and the buffered keystream so that the child keys itself afresh. A
// deterministic seed is kept, since reproducing it is the point of seeding.
void after_fork_in_child() noexcept {
    Source& src = source();
    if (src.keyed && src.from_os) {
        forget_key(src);
        discard_buffer();
    }
}

// 32 bytes from the operating system's generator, retrying interrupted and
// short reads; throws when no entropy can be had.
void os_entropy(std::uint8_t* out, std::size_t len) {
    while (len > 0) {
        const ssize_t got = ::getrandom(out, len, 0);
        if (got < 0) {
            const int err = errno;
            if (err == EINTR) continue;
            throw Error(Errc::entropy_unavailable,
                        std::string("ringtrap: no operating-system entropy (getrandom: ") + std::strerror(err) + ")");
        }
        out += got;
        len -= static_cast<std::size_t>(got);
    }
}

void key_from_os(Source& src) {
    static std::once_flag fork_hook;
    std::call_once(fork_hook, [] {
        if (pthread_atfork(nullptr, nullptr, after_fork_in_child) != 0)
            throw std::runtime_error("ringtrap: cannot register the fork handler of the draw source");
    });
    std::uint8_t bytes[32];
    os_entropy(bytes, sizeof bytes);
    forget_key(src);
    set_key(src, bytes);
    secure_zero(bytes, sizeof bytes);
    src.from_os = true;
}

void refill(Source& src) {
    if (!src.keyed) key_from_os(src);
    detail::DrawBuffer& b = detail::g_draw_buffer;
    if (b.bytes.empty()) b.bytes = SecretBuffer<std::uint8_t>(detail::kDrawBufferBytes);
    chacha20::blocks(src.key[0], src.counter, 0, b.bytes.data(), kRefillBlocks);
    src.counter += kRefillBlocks;
    b.cursor = 0;
}

void check_bound(std::int64_t a) {
    if (a < 1) throw std::invalid_argument("ringtrap: generate_randomBnd needs a bound of at least 1");
}

using detail::gaussian_sample;
using detail::round_half_away;

inline std::int64_t random_bnd(std::int64_t a) {
    const int r1 = draw();
    const int r2 = draw();
    // Both draws are below 2^15, so u < 2^31 fits the 32-bit signed integer.
    const std::int32_t u = r1 * 65536 + r2;
    return static_cast<std::int64_t>(u) % a - a / 2;
}

}  // namespace

void detail::throw_no_integer_value() {
    throw std::domain_error("ringtrap: Gaussian sample has no 64-bit integer value");
}

void detail::gaussian_factors(const gaussian_tables::BoxMuller& t, double* cos_out, double* radius_out, std::size_t count,
                              std::size_t stride) {
    DrawBuffer& b = g_draw_buffer;
    std::size_t i = 0;
    while (i < count) {
        if constexpr (std::endian::native == std::endian::little) {
            // Both draws of a sample from one 32-bit load while the buffer
            // lasts and the second draw is not zero; the cursor stays in a
            // register meanwhile.
            std::size_t cursor = b.cursor;
            const std::size_t limit = b.limit;
            while (i < count && cursor + 4 <= limit) {
                std::uint32_t w;
                std::memcpy(&w, b.bytes.data() + cursor, sizeof w);
                const std::uint32_t r2 = (w >> 16) & 0x7fff;
                if (r2 == 0) break;
                cos_out[i * stride] = t.cos_theta[w & 0x7fff];
                radius_out[i * stride] = t.radius[r2];
                cursor += 4;
                ++i;
            }
            b.cursor = cursor;
            if (i == count) break;
        }
        // Refill, zero second draw or custom source: draw by draw.
        int r1, r2;
        draw_gaussian_pair(r1, r2);
        cos_out[i * stride] = t.cos_theta[r1];
        radius_out[i * stride] = t.radius[r2];
        ++i;
    }
}

void detail::gaussian_words(std::uint32_t* out, std::size_t count, std::size_t stride) {
    DrawBuffer& b = g_draw_buffer;
    std::size_t i = 0;
    while (i < count) {
        if constexpr (std::endian::native == std::endian::little) {
            // The buffered keystream word is the pair itself once the unused
            // top bits of both draws are cleared. With SSE2 (every x86-64),
            // runs of eight are copied at once and checked for a zero second
            // draw (about one sample in 32768), which sends that run draw by
            // draw.
            std::size_t cursor = b.cursor;
            const std::size_t limit = b.limit;
#if defined(__SSE2__)
            if (stride == 1) {
                const __m128i mask = _mm_set1_epi32(0x7fff7fff), second = _mm_set1_epi32(0x7fff0000);
                while (count - i >= 8 && cursor + 32 <= limit) {
                    const std::uint8_t* src = b.bytes.data() + cursor;
                    const __m128i w0 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), mask);
                    const __m128i w1 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)), mask);
                    const __m128i zero0 = _mm_cmpeq_epi32(_mm_and_si128(w0, second), _mm_setzero_si128());
                    const __m128i zero1 = _mm_cmpeq_epi32(_mm_and_si128(w1, second), _mm_setzero_si128());
                    if (_mm_movemask_epi8(_mm_or_si128(zero0, zero1)) != 0) break;
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), w0);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), w1);
                    cursor += 32;
                    i += 8;
                }
            }
#endif
            while (i < count && cursor + 4 <= limit) {
                std::uint32_t w;
                std::memcpy(&w, b.bytes.data() + cursor, sizeof w);
                w &= 0x7fff7fffu;
                if (w < 0x10000u) break;  // zero second draw
                out[i * stride] = w;
                cursor += 4;
                ++i;
            }
            b.cursor = cursor;
            if (i == count) break;
        }
        int r1, r2;
        draw_gaussian_pair(r1, r2);
        out[i * stride] = static_cast<std::uint32_t>(r1) | static_cast<std::uint32_t>(r2) << 16;
        ++i;
    }
}

int detail::draw_slow() {
    Source& src = source();
    if (src.custom) return src.custom() & 0x7fff;
    refill(src);
    return draw();
}

void draw_bytes(std::uint8_t* out, std::size_t len) {
    Source& src = source();
    if (src.custom) {
        for (std::size_t i = 0; i < len; ++i) out[i] = static_cast<std::uint8_t>(src.custom() & 0xff);
        return;
    }
    detail::DrawBuffer& b = detail::g_draw_buffer;
    const std::size_t consumed = len + (len & 1);
    std::size_t done = 0;
    while (done < consumed) {
        if (b.cursor >= b.limit) refill(src);
        const std::size_t take = std::min(consumed - done, b.limit - b.cursor);
        const std::size_t copy = done + take <= len ? take : len - done;
        std::memcpy(out + done, b.bytes.data() + b.cursor, copy);
        secure_zero(b.bytes.data() + b.cursor, take);
        b.cursor += take;
        done += take;
    }
}

void seed_draws(std::uint64_t seed) {
    std::array<std::uint8_t, 32> key{};
    for (std::size_t i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(seed >> (8 * i));
    seed_draws(key);
    secure_zero(key.data(), key.size());
}

void seed_draws(const std::array<std::uint8_t, 32>& key) {
    DrawLock lock;
    Source& src = source();
    forget_key(src);
    discard_buffer();
    set_key(src, key.data());
    src.from_os = false;
}

void seed_draws_from_os() {
    DrawLock lock;
    Source& src = source();
    forget_key(src);
    discard_buffer();
    src.from_os = true;
}

void set_draw_source(std::function<int()> fn) {
    DrawLock lock;
    Source& src = source();
    src.custom = std::move(fn);
    detail::g_draw_buffer.limit = src.custom ? 0 : detail::kDrawBufferBytes;
}

DrawLock::DrawLock() : lock_(draw_mutex()) {}
DrawLock::~DrawLock() = default;

std::int64_t generate_randomBnd(std::int64_t a) {
    check_bound(a);
    return random_bnd(a);
}

double generate_Gaussian(double c, double sigma) { return gaussian_sample(gaussian_tables::box_muller(), c, sigma); }

double generate_Gaussian_reference(double c, double sigma) {
    // Draw by draw, without the paired fast path: the oracle for it.
    const int r1 = draw();
    int r2 = draw();
    while (r2 == 0) r2 = draw();
    const double u1 = r1 / 32767.0;
    const double u2 = r2 / 32767.0;
    const double theta = u1 * 6.2831852;
    const double rho = std::sqrt(-2.0 * std::log(u2));
    return c + std::cos(theta) * (sigma * rho);
}

poly_R generate_random_poly_R(std::int64_t len, std::int64_t q) {
    check_bound(q);
    poly_R p = create_poly_R(len);
    fill_randomBnd(p.coeffs, static_cast<std::size_t>(p.len), q);
    return p;
}

poly_R generate_random_poly_R(std::int64_t len) {
    if (modulo <= 0) throw std::logic_error("ringtrap: no parameter set selected (call parameter_init first)");
    return generate_random_poly_R(len, modulo);
}

std::int64_t Oracle_1(double c, double sigma) { return detail::oracle1_sample(gaussian_tables::box_muller(), c, sigma); }

std::int64_t Oracle_2(std::int64_t p, double sigma) { return detail::oracle2_sample(gaussian_tables::box_muller(), p, sigma); }

mat_poly_R generate_Gaussian_mat_poly_R(std::int64_t len, std::int64_t rows, std::int64_t cols, double sigma) {
    mat_poly_R m = create_mat_poly_R(len, rows, cols);
    if (m.entries == nullptr) return m;
    // Entries are stored row-major, so index order is the draw order.
    for (std::int64_t e = 0; e < rows * cols; ++e)
        fill_Oracle_1(m.entries[e].coeffs, static_cast<std::size_t>(m.entries[e].len), 0.0, sigma);
    return m;
}

poly_K generate_Gaussian_poly_K(std::int64_t len, double sigma) {
    poly_K p = create_poly_K(len);
    fill_Gaussian(p.coeffs, static_cast<std::size_t>(p.len), 0.0, sigma);
    return p;
}

void fill_randomBnd(std::int64_t* out, std::size_t count, std::int64_t a) {
    check_bound(a);
    for (std::size_t i = 0; i < count; ++i) out[i] = random_bnd(a);
}

namespace {

// Fills out[0 .. count) with f(sample i) in chunks whose draws are taken
// together (and wiped).
template <typename F>
void fill_chunked(std::size_t count, F&& emit) {
    if (count == 0) return;
    const gaussian_tables::BoxMuller& t = gaussian_tables::box_muller();
    constexpr std::size_t kChunk = 256;
    std::uint32_t words[kChunk];
    for (std::size_t base = 0; base < count; base += kChunk) {
        const std::size_t m = count - base < kChunk ? count - base : kChunk;
        detail::gaussian_words(words, m);
        emit(t, words, m, base);
    }
    secure_zero(words, sizeof words);
}

inline double sample_of(const gaussian_tables::BoxMuller& t, std::uint32_t w, double c, double sigma) {
    return detail::gaussian_from(t.cos_theta[w & 0x7fff], t.radius[w >> 16], c, sigma);
}

#if defined(__x86_64__) || defined(__i386__)

bool have_avx2() noexcept {
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok;
}

// Oracle_1 on four samples per step, for |c| + 4.6 |sigma| < 2^31 - 1, where
// every rounded value fits 32 bits: the IEEE operations of gaussian_from and
// round_half_away in each lane, then the truncation and a sign extension.
__attribute__((target("avx2"))) void oracle1_avx2(const gaussian_tables::BoxMuller& t, const std::uint32_t* w,
                                                  std::size_t count, double c, double sigma, std::int64_t* out) noexcept {
    const __m256d c_v = _mm256_set1_pd(c), sigma_v = _mm256_set1_pd(sigma);
    const __m256d sign = _mm256_set1_pd(-0.0), half = _mm256_set1_pd(0.5);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d cs = _mm256_setr_pd(t.cos_theta[w[i] & 0x7fff], t.cos_theta[w[i + 1] & 0x7fff],
                                          t.cos_theta[w[i + 2] & 0x7fff], t.cos_theta[w[i + 3] & 0x7fff]);
        const __m256d rd = _mm256_setr_pd(t.radius[w[i] >> 16], t.radius[w[i + 1] >> 16], t.radius[w[i + 2] >> 16],
                                          t.radius[w[i + 3] >> 16]);
        const __m256d g = _mm256_add_pd(c_v, _mm256_mul_pd(cs, _mm256_mul_pd(sigma_v, rd)));
        const __m128i r = _mm256_cvttpd_epi32(_mm256_add_pd(g, _mm256_or_pd(_mm256_and_pd(g, sign), half)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepi32_epi64(r));
    }
    for (; i < count; ++i) out[i] = round_half_away(sample_of(t, w[i], c, sigma));
}

#else

bool have_avx2() noexcept { return false; }
void oracle1_avx2(const gaussian_tables::BoxMuller&, const std::uint32_t*, std::size_t, double, double, std::int64_t*) noexcept {}

#endif

}  // namespace

void fill_Gaussian(double* out, std::size_t count, double c, double sigma) {
    fill_chunked(count, [&](const gaussian_tables::BoxMuller& t, const std::uint32_t* w, std::size_t m, std::size_t base) {
        for (std::size_t i = 0; i < m; ++i) out[base + i] = sample_of(t, w[i], c, sigma);
    });
}

void fill_Oracle_1(std::int64_t* out, std::size_t count, double c, double sigma) {
    // Drawing a chunk ahead is only right when no sample can fail to round
    // (which would stop after fewer draws): |g| <= |c| + 4.5600828 |sigma|.
    const double reach = std::fabs(c) + 4.6 * std::fabs(sigma);
    if (!(reach < 4.0e18)) {
        for (std::size_t i = 0; i < count; ++i) out[i] = Oracle_1(c, sigma);
        return;
    }
    const bool vector = reach < 2147483647.0 && have_avx2();
    fill_chunked(count, [&](const gaussian_tables::BoxMuller& t, const std::uint32_t* w, std::size_t m, std::size_t base) {
        if (vector)
            oracle1_avx2(t, w, m, c, sigma, out + base);
        else
            for (std::size_t i = 0; i < m; ++i) out[base + i] = round_half_away(sample_of(t, w[i], c, sigma));
    });
}

}  // namespace ringtrap
