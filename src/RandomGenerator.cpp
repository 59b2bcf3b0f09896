#include "RandomGenerator.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <mutex>
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
namespace {
// The buffer of a thread that has not drawn yet: empty, never written.
DrawBuffer g_idle_view;
}  // namespace
thread_local constinit DrawBuffer* t_draw_view = &g_idle_view;
thread_local constinit int t_draw_lock_depth = 0;
}  // namespace detail

namespace {

using detail::DrawBuffer;
using detail::kDrawBufferBytes;

// Blocks per refill of the keystream buffer.
constexpr std::size_t kRefillBlocks = kDrawBufferBytes / chacha20::kBlockBytes;
static_assert(kRefillBlocks * chacha20::kBlockBytes == kDrawBufferBytes);
static_assert(kRefillBlocks % chacha20::kLanes == 0, "refills use whole multi-block passes");
constexpr std::size_t kKeyBytes = 32;

// The shared source: the seeded stream and the custom function. Guarded by
// g_draw_mutex; a thread draws from `view` only while it holds that mutex
// (through DrawLock) or is the only thread drawing.
struct SharedStream {
    DrawBuffer view{kDrawBufferBytes, kDrawBufferBytes, nullptr, kDrawBufferBytes};
    SecretBuffer<std::uint8_t> bytes;
    SecretBuffer<chacha20::Key> key;  // the seed's key, kept: known-answer runs only
    std::uint64_t counter = 0;        // next block
    bool seeded = false;
    std::function<int()> custom;

    void discard_keystream() noexcept {
        bytes.wipe();
        view.cursor = view.wiped = kDrawBufferBytes;
    }
};

SharedStream& shared_stream() {
    static SharedStream state;
    return state;
}

std::mutex g_draw_mutex;

// Which source is in force: bit 0 a seed, bit 1 a custom function (either
// makes the source shared), and above them a count of changes, so that a
// thread can tell that the source changed since it last looked.
constexpr std::uint64_t kSeeded = 1, kCustom = 2, kChange = 4;
std::atomic<std::uint64_t> g_source_state{0};

bool is_shared(std::uint64_t state) { return (state & (kSeeded | kCustom)) != 0; }

// This thread's own operating-system stream, with fast key erasure.
struct OwnStream {
    DrawBuffer view;
    SecretBuffer<std::uint8_t> bytes;
    SecretBuffer<chacha20::Key> key;
    bool keyed = false;

    void drop() noexcept {
        bytes.wipe();
        key.wipe();
        keyed = false;
        view.cursor = view.wiped = view.limit;
    }
    ~OwnStream() {
        if (detail::t_draw_view == &view) detail::t_draw_view = &detail::g_idle_view;
    }
};

OwnStream& own_stream() {
    thread_local OwnStream s;
    return s;
}

thread_local constinit bool t_holds_mutex = false;    // this thread holds g_draw_mutex for its DrawLock
thread_local constinit bool t_fork_locked = false;    // the fork prepare handler took g_draw_mutex
thread_local constinit std::uint64_t t_seen_state = 0;

// Points this thread at the source of `state`. A thread that sees a change of
// source drops its own stream (it is keyed afresh when next needed).
void adopt(std::uint64_t state) {
    if (state == t_seen_state && detail::t_draw_view != &detail::g_idle_view) return;
    OwnStream& own = own_stream();
    if (state != t_seen_state) {
        own.drop();
        t_seen_state = state;
    }
    detail::t_draw_view = is_shared(state) ? &shared_stream().view : &own.view;
}

// Fork: the prepare handler takes the draw mutex, so that the child never
// inherits it locked by a thread that does not exist there; the child drops
// its copy of the parent's stream, so that it never repeats the parent's draws.
void before_fork() noexcept {
    if (!t_holds_mutex) {
        g_draw_mutex.lock();
        t_fork_locked = true;
    }
}
void after_fork_in_parent() noexcept {
    if (t_fork_locked) {
        t_fork_locked = false;
        g_draw_mutex.unlock();
    }
}
void after_fork_in_child() noexcept {
    after_fork_in_parent();
    own_stream().drop();
}

void register_fork_handlers() {
    static const bool registered = pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) == 0;
    if (!registered) throw std::runtime_error("ringtrap: cannot register the fork handlers of the draw source");
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

// Fast key erasure: each refill generates 64 blocks under the current key;
// the first 32 bytes become the next key at once (overwriting the old one)
// and are wiped from the buffer, the rest is output.
void refill_own(OwnStream& o) {
    register_fork_handlers();
    if (o.bytes.empty()) o.bytes = SecretBuffer<std::uint8_t>(kDrawBufferBytes);
    if (o.key.empty()) o.key = SecretBuffer<chacha20::Key>(1);
    if (!o.keyed) {
        std::uint8_t seed[kKeyBytes];
        os_entropy(seed, sizeof seed);
        o.key[0] = chacha20::load_key(seed);
        secure_zero(seed, sizeof seed);
        o.keyed = true;
    }
    chacha20::blocks(o.key[0], 0, 0, o.bytes.data(), kRefillBlocks);
    o.key[0] = chacha20::load_key(o.bytes.data());
    secure_zero(o.bytes.data(), kKeyBytes);
    o.view = DrawBuffer{kKeyBytes, kDrawBufferBytes, o.bytes.data(), kKeyBytes};
}

// The seeded stream: plain keystream, counter running on (g_draw_mutex held).
void refill_shared(SharedStream& sh) {
    if (sh.bytes.empty()) sh.bytes = SecretBuffer<std::uint8_t>(kDrawBufferBytes);
    chacha20::blocks(sh.key[0], sh.counter, 0, sh.bytes.data(), kRefillBlocks);
    sh.counter += kRefillBlocks;
    sh.view = DrawBuffer{0, kDrawBufferBytes, sh.bytes.data(), 0};
}

// Refills whichever buffer this thread draws from (inside a DrawLock). Not
// for a custom source, which has no buffer.
void refill_current() {
    if (detail::t_draw_view == &shared_stream().view)
        refill_shared(shared_stream());
    else
        refill_own(own_stream());
}

// Changes the shared source under the draw mutex and publishes the change. A
// thread inside a DrawLock that turns on a shared source keeps the mutex until
// its outermost DrawLock ends.
template <typename Edit>
void change_source(Edit&& edit) {
    const bool had = t_holds_mutex;
    if (!had) g_draw_mutex.lock();
    try {
        register_fork_handlers();
        SharedStream& sh = shared_stream();
        edit(sh);
        sh.view.limit = sh.custom ? 0 : kDrawBufferBytes;
    } catch (...) {
        if (!had) g_draw_mutex.unlock();
        throw;
    }
    const SharedStream& sh = shared_stream();
    const std::uint64_t old = g_source_state.load(std::memory_order_relaxed);
    const std::uint64_t state =
        ((old & ~(kChange - 1)) + kChange) | (sh.seeded ? kSeeded : 0) | (sh.custom ? kCustom : 0);
    g_source_state.store(state, std::memory_order_release);
    adopt(state);
    if (detail::t_draw_lock_depth > 0 && is_shared(state))
        t_holds_mutex = true;
    else if (!had)
        g_draw_mutex.unlock();
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
    std::size_t i = 0;
    while (i < count) {
        if constexpr (std::endian::native == std::endian::little) {
            // Both draws of a sample from one 32-bit load while the buffer
            // lasts and the second draw is not zero; the cursor stays in a
            // register meanwhile.
            DrawBuffer& b = draw_buffer();
            const std::size_t start = b.cursor;
            std::size_t cursor = start;
            const std::size_t limit = b.limit;
            while (i < count && cursor + 4 <= limit) {
                std::uint32_t w;
                std::memcpy(&w, b.bytes + cursor, sizeof w);
                const std::uint32_t r2 = (w >> 16) & 0x7fff;
                if (r2 == 0) break;
                cos_out[i * stride] = t.cos_theta[w & 0x7fff];
                radius_out[i * stride] = t.radius[r2];
                cursor += 4;
                ++i;
            }
            if (cursor != start) b.cursor = cursor;
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
    std::size_t i = 0;
    while (i < count) {
        if constexpr (std::endian::native == std::endian::little) {
            DrawBuffer& b = draw_buffer();
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
                    const std::uint8_t* src = b.bytes + cursor;
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
                std::memcpy(&w, b.bytes + cursor, sizeof w);
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
    DrawLock lock;  // follows a change of source; holds the mutex for a shared one
    DrawBuffer& b = draw_buffer();
    if (b.cursor >= b.limit) {
        SharedStream& sh = shared_stream();
        if (&b == &sh.view && sh.custom) return sh.custom() & 0x7fff;
        refill_current();
    }
    return draw();
}

void draw_bytes(std::uint8_t* out, std::size_t len) {
    DrawLock lock;
    SharedStream& sh = shared_stream();
    if (&detail::draw_buffer() == &sh.view && sh.custom) {
        for (std::size_t i = 0; i < len; ++i) out[i] = static_cast<std::uint8_t>(sh.custom() & 0xff);
        return;
    }
    DrawBuffer& b = detail::draw_buffer();
    const std::size_t consumed = len + (len & 1);
    std::size_t done = 0;
    while (done < consumed) {
        if (b.cursor >= b.limit) refill_current();
        const std::size_t take = std::min(consumed - done, b.limit - b.cursor);
        const std::size_t copy = done + take <= len ? take : len - done;
        std::memcpy(out + done, b.bytes + b.cursor, copy);
        secure_zero(b.bytes + b.cursor, take);
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
    change_source([&](SharedStream& sh) {
        sh.discard_keystream();
        if (sh.key.empty()) sh.key = SecretBuffer<chacha20::Key>(1);
        sh.key[0] = chacha20::load_key(key.data());
        sh.counter = 0;
        sh.seeded = true;
    });
}

void seed_draws_from_os() {
    change_source([](SharedStream& sh) {
        sh.discard_keystream();
        sh.key.wipe();
        sh.counter = 0;
        sh.seeded = false;
    });
}

void set_draw_source(std::function<int()> fn) {
    change_source([&](SharedStream& sh) { sh.custom = std::move(fn); });
}

void use_deterministic_draws_for_known_answers(std::uint64_t seed) { seed_draws(seed); }

void use_os_entropy() {
    change_source([](SharedStream& sh) {
        sh.custom = nullptr;
        sh.discard_keystream();
        sh.key.wipe();
        sh.counter = 0;
        sh.seeded = false;
    });
}

bool draws_are_deterministic() noexcept { return is_shared(g_source_state.load(std::memory_order_acquire)); }

void DrawLock::acquire() {
    std::uint64_t state = g_source_state.load(std::memory_order_acquire);
    if (is_shared(state) && !t_holds_mutex) {
        g_draw_mutex.lock();
        state = g_source_state.load(std::memory_order_relaxed);
        if (is_shared(state))
            t_holds_mutex = true;
        else
            g_draw_mutex.unlock();  // turned back to per-thread streams meanwhile
    }
    try {
        adopt(state);
    } catch (...) {
        if (t_holds_mutex) {
            t_holds_mutex = false;
            g_draw_mutex.unlock();
        }
        throw;
    }
    detail::t_draw_lock_depth = 1;
}

void DrawLock::release() noexcept {
    detail::t_draw_lock_depth = 0;
    // The operation's draws do not outlive it.
    DrawBuffer& b = detail::draw_buffer();
    if (b.wiped < b.cursor) {
        secure_zero(b.bytes + b.wiped, b.cursor - b.wiped);
        b.wiped = b.cursor;
    }
    if (t_holds_mutex) {
        t_holds_mutex = false;
        g_draw_mutex.unlock();
    }
}

std::int64_t generate_randomBnd(std::int64_t a) {
    DrawLock lock;
    check_bound(a);
    return random_bnd(a);
}

double generate_Gaussian(double c, double sigma) {
    DrawLock lock;
    return gaussian_sample(gaussian_tables::box_muller(), c, sigma);
}

double generate_Gaussian_reference(double c, double sigma) {
    // Draw by draw, without the paired fast path: the oracle for it.
    DrawLock lock;
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
    DrawLock lock;
    poly_R p = create_poly_R(len);
    fill_randomBnd(p.coeffs, static_cast<std::size_t>(p.len), q);
    return p;
}

poly_R generate_random_poly_R(std::int64_t len) {
    if (modulo <= 0) throw std::logic_error("ringtrap: no parameter set selected (call parameter_init first)");
    return generate_random_poly_R(len, modulo);
}

std::int64_t Oracle_1(double c, double sigma) {
    DrawLock lock;
    return detail::oracle1_sample(gaussian_tables::box_muller(), c, sigma);
}

std::int64_t Oracle_2(std::int64_t p, double sigma) {
    DrawLock lock;
    return detail::oracle2_sample(gaussian_tables::box_muller(), p, sigma);
}

mat_poly_R generate_Gaussian_mat_poly_R(std::int64_t len, std::int64_t rows, std::int64_t cols, double sigma) {
    mat_poly_R m = create_mat_poly_R(len, rows, cols);
    if (m.entries == nullptr) return m;
    DrawLock lock;
    // Entries are stored row-major, so index order is the draw order.
    for (std::int64_t e = 0; e < rows * cols; ++e)
        fill_Oracle_1(m.entries[e].coeffs, static_cast<std::size_t>(m.entries[e].len), 0.0, sigma);
    return m;
}

poly_K generate_Gaussian_poly_K(std::int64_t len, double sigma) {
    poly_K p = create_poly_K(len);
    DrawLock lock;
    fill_Gaussian(p.coeffs, static_cast<std::size_t>(p.len), 0.0, sigma);
    return p;
}

void fill_randomBnd(std::int64_t* out, std::size_t count, std::int64_t a) {
    check_bound(a);
    DrawLock lock;
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
    DrawLock lock;
    fill_chunked(count, [&](const gaussian_tables::BoxMuller& t, const std::uint32_t* w, std::size_t m, std::size_t base) {
        for (std::size_t i = 0; i < m; ++i) out[base + i] = sample_of(t, w[i], c, sigma);
    });
}

void fill_Oracle_1(std::int64_t* out, std::size_t count, double c, double sigma) {
    DrawLock lock;
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
