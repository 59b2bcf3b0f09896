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

// Fast key erasure: each refill generates 16 blocks under the current key;
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

void detail::gaussian_factors(const gaussian_tables::BoxMuller& t, double* cos_out, double* radius_out, std::size_t count) {
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
                cos_out[i] = t.cos_theta[w & 0x7fff];
                radius_out[i] = t.radius[r2];
                cursor += 4;
                ++i;
            }
            if (cursor != start) b.cursor = cursor;
            if (i == count) break;
        }
        // Refill, zero second draw or custom source: draw by draw.
        int r1, r2;
        draw_gaussian_pair(r1, r2);
        cos_out[i] = t.cos_theta[r1];
        radius_out[i] = t.radius[r2];
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

// Fills out[0 .. count) with f(sample i) in chunks whose factors are drawn
// together (and wiped).
template <typename F>
void fill_chunked(std::size_t count, double c, double sigma, F&& emit) {
    if (count == 0) return;
    const gaussian_tables::BoxMuller& t = gaussian_tables::box_muller();
    constexpr std::size_t kChunk = 128;
    double cs[kChunk], rd[kChunk];
    for (std::size_t base = 0; base < count; base += kChunk) {
        const std::size_t m = count - base < kChunk ? count - base : kChunk;
        detail::gaussian_factors(t, cs, rd, m);
        for (std::size_t i = 0; i < m; ++i) emit(base + i, detail::gaussian_from(cs[i], rd[i], c, sigma));
    }
    secure_zero(cs, sizeof cs);
    secure_zero(rd, sizeof rd);
}

}  // namespace

void fill_Gaussian(double* out, std::size_t count, double c, double sigma) {
    DrawLock lock;
    fill_chunked(count, c, sigma, [out](std::size_t i, double g) { out[i] = g; });
}

void fill_Oracle_1(std::int64_t* out, std::size_t count, double c, double sigma) {
    DrawLock lock;
    // Drawing a chunk ahead is only right when no sample can fail to round
    // (which would stop after fewer draws): |g| <= |c| + 4.5600828 |sigma|.
    if (!(std::fabs(c) + 4.6 * std::fabs(sigma) < 4.0e18)) {
        for (std::size_t i = 0; i < count; ++i) out[i] = Oracle_1(c, sigma);
        return;
    }
    fill_chunked(count, c, sigma, [out](std::size_t i, double g) { out[i] = round_half_away(g); });
}

}  // namespace ringtrap
