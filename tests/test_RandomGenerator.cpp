#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "RandomGenerator.h"
#include "chacha20.h"
#include "gaussian_tables.h"
#include "test_support.h"

namespace ringtrap {
namespace {

// Replaces the draw source with a fixed list of draws for the life of the
// object; taking more draws than listed is a test failure.
class Script {
public:
    explicit Script(std::vector<int> draws) : draws_(std::move(draws)) {
        set_draw_source([this] {
            if (next_ < draws_.size()) return draws_[next_++];
            ADD_FAILURE() << "took more than the " << draws_.size() << " scripted draws";
            return 16384;
        });
    }
    ~Script() { set_draw_source({}); }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;
    std::size_t taken() const { return next_; }

private:
    std::vector<int> draws_;
    std::size_t next_ = 0;
};

// The scalar expressions of the Gaussian source, written out independently.
double cos_of(int r1) { return std::cos(r1 / 32767.0 * 6.2831852); }
double rho_of(int r2) { return std::sqrt(-2.0 * std::log(r2 / 32767.0)); }
double gaussian_of(int r1, int r2, double c, double sigma) { return c + cos_of(r1) * (sigma * rho_of(r2)); }

std::vector<int> take_draws(std::size_t count) {
    std::vector<int> v(count);
    for (auto& x : v) x = draw();
    return v;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- The draw source -------------------------------------------------------

TEST(DrawSource, SeededStreamIsReproducibleAndMatchesTheKeystream) {
    seed_draws(42);
    const auto a = take_draws(3 * 512 + 5);  // spans several buffer refills
    seed_draws(42);
    EXPECT_EQ(a, take_draws(a.size()));
    // Draw i is keystream bytes 2i, 2i+1, little-endian, top bit cleared.
    std::array<std::uint8_t, 32> key{42};
    std::vector<std::uint8_t> ks(64 * 64);
    for (std::size_t b = 0; b < 64; ++b) chacha20::block_ref(chacha20::load_key(key.data()), b, 0, ks.data() + 64 * b);
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], (ks[2 * i] | ks[2 * i + 1] << 8) & 0x7fff) << i;
    // Known answer from an independent ChaCha20 implementation.
    EXPECT_EQ(std::vector<int>(a.begin(), a.begin() + 8), (std::vector<int>{30239, 9957, 2641, 27363, 23650, 23691, 32601, 13547}));
    seed_draws(43);
    EXPECT_NE(a, take_draws(a.size()));
}

TEST(DrawSource, BytesAreTheKeystreamAndKeepDrawsAligned) {
    std::array<std::uint8_t, 32> key{7};
    std::vector<std::uint8_t> ks(64 * 40);
    for (std::size_t b = 0; b < 40; ++b) chacha20::block_ref(chacha20::load_key(key.data()), b, 0, ks.data() + 64 * b);
    seed_draws(7);
    const int d0 = draw();
    std::vector<std::uint8_t> got(2 * 1024 + 3);  // crosses a refill; odd length
    draw_bytes(got.data(), got.size());
    const int after = draw();
    EXPECT_EQ(d0, (ks[0] | ks[1] << 8) & 0x7fff);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], ks[2 + i]) << i;
    const std::size_t next = 2 + got.size() + 1;  // the odd length skipped one byte
    EXPECT_EQ(after, (ks[next] | ks[next + 1] << 8) & 0x7fff);
    seed_draws_from_os();
}

TEST(DrawSource, SeedIsTheLittleEndianStartOfTheKey) {
    seed_draws(UINT64_C(0x0123456789abcdef));
    const auto a = take_draws(600);
    seed_draws(std::array<std::uint8_t, 32>{0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01});
    EXPECT_EQ(a, take_draws(600));
    seed_draws(0);  // all-zero key: the keystream starts 76 b8 (RFC 8439, A.1 vector 1)
    EXPECT_EQ(draw(), 0xb876 & 0x7fff);
}

TEST(DrawSource, OsSeededStreamsDiffer) {
    seed_draws_from_os();
    const auto a = take_draws(64);
    seed_draws_from_os();
    EXPECT_NE(a, take_draws(64));
}

TEST(DrawSource, CustomSourceIsMaskedAndTheDefaultResumes) {
    seed_draws(7);
    const auto expected = take_draws(20);
    seed_draws(7);
    const auto head = take_draws(10);
    std::vector<int> raw{0x18001, -1, 32767, 5};
    std::size_t i = 0;
    set_draw_source([&] { return raw[i++]; });
    EXPECT_EQ(draw(), 1);
    EXPECT_EQ(draw(), 32767);
    set_draw_source({});
    EXPECT_EQ(head, std::vector<int>(expected.begin(), expected.begin() + 10));
    EXPECT_EQ(take_draws(10), std::vector<int>(expected.begin() + 10, expected.end()));
    // Seeding while a custom source is installed applies once it is removed.
    set_draw_source([&] { return raw[i++]; });
    seed_draws(7);
    EXPECT_EQ(draw(), 32767);
    EXPECT_EQ(draw(), 5);
    set_draw_source({});
    EXPECT_EQ(take_draws(20), expected);
}

// A forked child must not replay an OS-keyed stream, but does continue a seeded one.
TEST(DrawSource, ForkedChildGetsAFreshOsKey) {
    auto child_draws = [] {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            int v[8];
            for (int& x : v) x = draw();
            _exit(write(fds[1], v, sizeof v) == sizeof v ? 0 : 1);
        }
        close(fds[1]);
        std::vector<int> v(8);
        EXPECT_EQ(read(fds[0], v.data(), sizeof(int) * 8), static_cast<ssize_t>(sizeof(int) * 8));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return v;
    };
    seed_draws_from_os();
    draw();
    const auto fresh = child_draws();
    EXPECT_NE(fresh, take_draws(8));
    seed_draws(5);
    draw();
    const auto same = child_draws();
    EXPECT_EQ(same, take_draws(8));
}

// Each thread holding the lock takes one contiguous run of the stream.
TEST(DrawSource, LockGivesWholeRuns) {
    seed_draws(9);
    const auto stream = take_draws(4000);
    seed_draws(9);
    std::vector<int> a, b;
    auto work = [](std::vector<int>& out) {
        DrawLock lock;
        DrawLock nested;  // recursive
        out = take_draws(2000);
    };
    std::thread t1(work, std::ref(a)), t2(work, std::ref(b));
    t1.join();
    t2.join();
    const std::vector<int> lo(stream.begin(), stream.begin() + 2000), hi(stream.begin() + 2000, stream.end());
    EXPECT_TRUE((a == lo && b == hi) || (a == hi && b == lo));
}

// Deterministic draws are a mode one turns on by name and can always ask about.
TEST(DrawSource, DeterministicModeIsExplicitAndReported) {
    use_os_entropy();
    EXPECT_FALSE(draws_are_deterministic());
    EXPECT_FALSE(draws_are_deterministic());  // asking changes nothing
    use_deterministic_draws_for_known_answers(42);
    EXPECT_TRUE(draws_are_deterministic());
    EXPECT_EQ(take_draws(4), (std::vector<int>{30239, 9957, 2641, 27363}));  // the seed_draws(42) stream
    set_draw_source([] { return 1; });
    EXPECT_TRUE(draws_are_deterministic());
    set_draw_source({});
    EXPECT_TRUE(draws_are_deterministic());  // the seed is still in force
    EXPECT_EQ(draw(), 23650);
    set_draw_source([] { return 1; });
    use_os_entropy();  // removes the custom source too
    EXPECT_FALSE(draws_are_deterministic());
    EXPECT_NE(take_draws(4), take_draws(4));
}

// Keystream that has been drawn does not outlive the operation that drew it
// (the outermost DrawLock), whichever way it was consumed; with OS entropy the
// 32 bytes that key the next refill are gone at once.
TEST(DrawSource, ConsumedKeystreamIsWiped) {
    for (const bool seeded : {true, false}) {
        SCOPED_TRACE(seeded ? "seeded" : "os");
        if (seeded)
            seed_draws(3);
        else
            seed_draws_from_os();
        (void)generate_randomBnd(7);  // the buffer is filled
        double g[40];
        std::uint8_t raw[7];
        for (int round = 0; round < 3; ++round) {
            (void)generate_Gaussian(0.0, 1.0);  // two draws at once
            fill_Gaussian(g, 40, 0.0, 1.0);     // the bulk path
            draw_bytes(raw, sizeof raw);
            (void)draw();  // a bare draw, inside no operation
        }
        { const DrawLock operation; }  // ... is wiped when the next operation ends
        const detail::DrawBuffer& b = detail::draw_buffer();
        ASSERT_GT(b.cursor, 100u);
        ASSERT_LT(b.cursor, b.limit) << "the test must stay within one refill";
        EXPECT_TRUE(std::all_of(b.bytes, b.bytes + b.cursor, [](std::uint8_t x) { return x == 0; }));
        EXPECT_FALSE(std::all_of(b.bytes + b.cursor, b.bytes + b.limit, [](std::uint8_t x) { return x == 0; }));
    }
}

// With OS entropy every thread has its own stream: a thread inside a DrawLock
// does not hold up another one's draws (if it did, the two threads below
// would wait for each other until the time limit), and the streams differ.
TEST(DrawSource, OsStreamsArePerThreadAndDoNotSerialise) {
    seed_draws_from_os();
    std::atomic<int> stage{0};
    std::vector<int> a, b;
    const auto wait_for = [&](int value) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (stage.load() < value && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
        return stage.load() >= value;
    };
    bool a_saw_b = false, b_ran = false;
    std::thread ta([&] {
        DrawLock lock;
        a = take_draws(600);
        stage = 1;
        a_saw_b = wait_for(2);  // still holding the lock
    });
    std::thread tb([&] {
        if (!wait_for(1)) return;
        DrawLock lock;
        b = take_draws(600);
        b_ran = true;
        stage = 2;
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(a_saw_b && b_ran) << "a draw lock held on one thread blocked another";
    EXPECT_NE(a, b);
}

// The lower-level draw functions hold the draw lock themselves: with a seed,
// two threads calling them at once each get one unbroken run of the stream.
TEST(DrawSource, LowerLevelFunctionsTakeWholeRuns) {
    constexpr std::size_t kCount = 3000;
    seed_draws(11);
    std::vector<std::int64_t> stream(2 * kCount);
    fill_randomBnd(stream.data(), stream.size(), 1000);
    seed_draws(11);
    std::vector<std::int64_t> a(kCount), b(kCount);
    std::thread t1([&] { fill_randomBnd(a.data(), kCount, 1000); });
    std::thread t2([&] { fill_randomBnd(b.data(), kCount, 1000); });
    t1.join();
    t2.join();
    const std::vector<std::int64_t> lo(stream.begin(), stream.begin() + kCount), hi(stream.begin() + kCount, stream.end());
    EXPECT_TRUE((a == lo && b == hi) || (a == hi && b == lo));
    seed_draws_from_os();
}

// Forking while another thread holds the draw lock: the child must not
// inherit the lock held by a thread it does not have (it would hang on its
// first draw; the alarm turns that into a failure).
TEST(DrawSource, ForkWhileAnotherThreadHoldsTheLock) {
    seed_draws(5);
    std::atomic<bool> holding{false};
    std::thread holder([&] {
        DrawLock lock;
        holding = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    while (!holding) std::this_thread::yield();
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        std::int64_t v[4];
        fill_randomBnd(v, 4, 10);
        _exit(0);
    }
    holder.join();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    seed_draws_from_os();
}

// ---- Uniform source ------------------------------------------------------

TEST(RandomBnd, ShiftIsSixteenBitsAndEdgesAreExact) {
    const std::int64_t q = 16770049, h = 8385024;
    Script s({0, 0, 32767, 32767, 0, 32767, 1, 0, 32767, 32767, 0, 0, 0, 1, 32767, 32767});
    EXPECT_EQ(generate_randomBnd(q), -h);
    EXPECT_EQ(generate_randomBnd(q), -7500417);     // 2147450879 mod q = 884607
    EXPECT_EQ(generate_randomBnd(q), 32767 - h);    // u = 32767
    EXPECT_EQ(generate_randomBnd(q), 65536 - h);    // u = 2^16, not 2^15
    EXPECT_EQ(generate_randomBnd(1), 0);
    EXPECT_EQ(generate_randomBnd(2), -1);
    EXPECT_EQ(generate_randomBnd(2), 0);
    EXPECT_EQ(generate_randomBnd(2), 0);            // u odd: 1 - 1
    EXPECT_EQ(s.taken(), 16u);                      // a zero second draw is used as it is
    EXPECT_THROW(generate_randomBnd(0), std::invalid_argument);
    EXPECT_THROW(generate_randomBnd(-5), std::invalid_argument);
    EXPECT_EQ(s.taken(), 16u);
}

class RandomLevel : public testing::PerLevel {};

TEST_P(RandomLevel, UniformPolyTakesDrawsInCoefficientOrder) {
    const std::int64_t q = P().q;
    std::mt19937 rng(3);
    std::vector<int> draws(static_cast<std::size_t>(2 * P().n));
    for (auto& d : draws) d = static_cast<int>(rng() & 0x7fff);
    Script s(draws);
    const poly_R p = generate_random_poly_R(P().n);
    ASSERT_EQ(p.len, P().n);
    for (std::size_t i = 0; i < static_cast<std::size_t>(p.len); ++i)
        ASSERT_EQ(p.coeffs[i], (std::int64_t{draws[2 * i]} * 65536 + draws[2 * i + 1]) % q - q / 2) << i;
    EXPECT_EQ(generate_random_poly_R(0).len, 0);
    EXPECT_EQ(generate_random_poly_R(-3, q).len, 0);
    EXPECT_EQ(s.taken(), draws.size());
}

// Mean of generate_randomBnd(q) against its exact value over all 2^30 draw
// pairs, and the ends of the interval reached.
TEST_P(RandomLevel, UniformSourceCoversTheInterval) {
    const std::int64_t q = P().q, h = q / 2;
    long double sum = 0, sumsq = 0;
    // For each first draw the 32768 values of u are consecutive; mod q they
    // wrap at most once (q > 32768).
    auto run = [&](long double x, long double len) {
        sum += len * x + len * (len - 1) / 2;
        sumsq += len * x * x + x * len * (len - 1) + (len - 1) * len * (2 * len - 1) / 6;
    };
    for (std::int64_t r1 = 0; r1 < 32768; ++r1) {
        const std::int64_t m = (r1 << 16) % q;
        const std::int64_t first = std::min<std::int64_t>(32768, q - m);
        run(static_cast<long double>(m - h), static_cast<long double>(first));
        if (first < 32768) run(static_cast<long double>(-h), static_cast<long double>(32768 - first));
    }
    const long double total = 1073741824.0L;
    const double mean = static_cast<double>(sum / total), var = static_cast<double>(sumsq / total) - mean * mean;

    seed_draws(17);
    const std::size_t N = 1 << 18;
    std::vector<std::int64_t> v(N);
    fill_randomBnd(v.data(), N, q);
    double acc = 0;
    std::int64_t lo = q, hi = -q;
    for (auto x : v) {
        acc += static_cast<double>(x);
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    EXPECT_NEAR(acc / N, mean, 6 * std::sqrt(var / N));
    EXPECT_GE(lo, -h);
    EXPECT_LE(hi, h);
    EXPECT_LT(lo, -h + q / 1000);  // P(missing the bottom 0.1%) < e^-200
    EXPECT_GT(hi, h - q / 1000);
}

INSTANTIATE_TEST_SUITE_P(Levels, RandomLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

// ---- Continuous Gaussian source ------------------------------------------

TEST(Gaussian, ConstantsOfTheTransform) {
    Script s({0, 16384, 1234, 32767, 32767, 16384, 8192, 20000, 3, 0, 0, 16384, 7, 0, 32767});
    const double x = generate_Gaussian(0.0, 1.0);
    EXPECT_NEAR(x, 1.1773841026, 1e-10);  // divisor 32767 (32768 would give 1.1774100225)
    EXPECT_TRUE(same_bits(x, rho_of(16384)));
    EXPECT_EQ(generate_Gaussian(3.75, 1e6), 3.75);  // u2 = 1: radius 0
    const double y = generate_Gaussian(0.0, 1.0);   // theta = 6.2831852, not 2 pi
    EXPECT_GT(1.0 - y / x, 5.5e-15);
    EXPECT_LT(1.0 - y / x, 6.0e-15);
    // An angle near pi/2 makes the 6.2831852 factor visible in the result.
    EXPECT_TRUE(same_bits(generate_Gaussian(-1.5, 2.0), gaussian_of(8192, 20000, -1.5, 2.0)));
    // Zero second draws are skipped until a non-zero draw comes.
    EXPECT_TRUE(same_bits(generate_Gaussian(0.0, 1.0), gaussian_of(3, 16384, 0.0, 1.0)));
    EXPECT_EQ(s.taken(), 12u);
    EXPECT_EQ(generate_Gaussian(2.0, 5.0), 2.0);
    EXPECT_EQ(s.taken(), 15u);
}

TEST(Gaussian, ZeroWidthGivesTheCentre) {
    for (int r2 : {1, 2, 16384, 32767}) {
        Script s({32767, r2});
        EXPECT_EQ(generate_Gaussian(-7.25, 0.0), -7.25);
    }
}

// The tables against the scalar expressions, bit for bit, over every draw;
// and, where the build computes them, the library really uses that copy.
TEST(Gaussian, TablesMatchTheScalarFormEverywhere) {
#ifdef RINGTRAP_EXPECT_BUILTIN_TABLES
    EXPECT_TRUE(gaussian_tables::tables_are_built_in());
#endif
    const auto& t = gaussian_tables::box_muller();
    for (int i = 0; i < 32768; ++i) {
        ASSERT_TRUE(same_bits(t.cos_theta[i], cos_of(i))) << i;
        ASSERT_TRUE(same_bits(t.radius[i], rho_of(i))) << i;
    }
    seed_draws(21);
    std::vector<double> fast(5000), slow(5000);
    fill_Gaussian(fast.data(), fast.size(), 12.5, 44873.0);
    seed_draws(21);
    for (auto& x : slow) x = generate_Gaussian_reference(12.5, 44873.0);
    EXPECT_EQ(0, std::memcmp(fast.data(), slow.data(), fast.size() * sizeof(double)));
}

// Exact moments of c + sigma * C * R with C = cos_of(r1), r1 in [0, 32767], and
// R = rho_of(r2), r2 in [1, 32767], independent and uniform.
struct Moments {
    double mean, var, m4;
};
Moments exact_moments(double c, double sigma) {
    // Raw moments of C and R, computed once.
    static const std::array<std::array<double, 5>, 2> raw = [] {
        std::array<std::array<double, 5>, 2> m{};
        for (int i = 0; i < 32768; ++i)
            for (int j = 1; j <= 4; ++j) m[0][j] += std::pow(cos_of(i), j) / 32768.0;
        for (int i = 1; i < 32768; ++i)
            for (int j = 1; j <= 4; ++j) m[1][j] += std::pow(rho_of(i), j) / 32767.0;
        return m;
    }();
    const auto& ec = raw[0];
    const auto& er = raw[1];
    double e[5];
    for (int j = 1; j <= 4; ++j) e[j] = std::pow(sigma, j) * ec[j] * er[j];
    const double m = e[1];
    return {c + m, e[2] - m * m, e[4] - 4 * m * e[3] + 6 * m * m * e[2] - 3 * m * m * m * m};
}

// Sample mean and variance within 6 standard errors of the expected values.
template <typename T>
void expect_moments(const std::vector<T>& v, double mean, double var, double m4) {
    const double N = static_cast<double>(v.size());
    double sm = 0, sv = 0;
    for (T x : v) sm += static_cast<double>(x);
    sm /= N;
    for (T x : v) sv += (static_cast<double>(x) - sm) * (static_cast<double>(x) - sm);
    sv /= N - 1;
    EXPECT_NEAR(sm, mean, 6 * std::sqrt(var / N));
    EXPECT_NEAR(sv, var, 6 * std::sqrt((m4 - var * var) / N));
}

TEST(Gaussian, MomentsMatchTheDistribution) {
    const std::size_t N = 1 << 18;
    std::vector<double> v(N);
    seed_draws(31);
    for (auto [c, sigma] : {std::pair{0.0, 1.0}, {-3.25, 5.6}, {1000.0, 131360.0}}) {
        fill_Gaussian(v.data(), N, c, sigma);
        const Moments m = exact_moments(c, sigma);
        EXPECT_NEAR(m.var, sigma * sigma, 1e-3 * sigma * sigma);  // the tails cut at 4.56 sigma barely show
        expect_moments(v, m.mean, m.var, m.m4);
    }
}

// ---- Discrete samplers -----------------------------------------------------

TEST(Oracle1, RoundsHalvesAwayFromZero) {
    const std::pair<double, std::int64_t> cases[] = {{2.5, 3},  {-2.5, -3}, {2.4, 2},  {-0.3, 0}, {0.49999999999999994, 1},
                                                     {-0.49999999999999994, -1}, {0.5, 1}, {-0.5, -1}, {0.0, 0}, {-1e15 - 0.5, -1000000000000001}};
    for (auto [c, expected] : cases) {
        Script s({5, 16384});
        EXPECT_EQ(Oracle_1(c, 0.0), expected) << c;
    }
    Script s({0, 16384, 0, 0, 16384, 0, 16384});  // sample 1.1773841026 * sigma, zero draw skipped
    EXPECT_EQ(Oracle_1(0.0, 1.0), 1);
    EXPECT_EQ(Oracle_1(0.0, -3.0), -4);
    EXPECT_EQ(Oracle_1(-0.0, -0.0), 0);  // a sample of -0.0 counts as >= 0
}

TEST(Oracle1, SamplesWithoutAnIntegerValueThrow) {
    seed_draws(1);
    EXPECT_THROW(Oracle_1(std::numeric_limits<double>::quiet_NaN(), 1.0), std::domain_error);
    EXPECT_THROW(Oracle_1(0.0, std::numeric_limits<double>::infinity()), std::domain_error);
    EXPECT_THROW(Oracle_1(1e19, 1.0), std::domain_error);
    EXPECT_THROW(Oracle_2(0, std::numeric_limits<double>::quiet_NaN()), std::domain_error);
    EXPECT_THROW(generate_Gaussian_mat_poly_R(4, 1, 1, 1e300), std::domain_error);
}

// Mean of round(X) is the mean of X (to within e^(-2 pi^2 sigma^2) for sigma
// >= 2) and its variance that of X plus 1/12 (Sheppard's correction).
TEST(Oracle1, MomentsMatchTheRoundedDistribution) {
    const std::size_t N = 1 << 18;
    std::vector<std::int64_t> v(N);
    seed_draws(41);
    for (auto [c, sigma] : {std::pair{0.3, 2.0}, {-1234.75, 5.6}, {0.0, 44873.0}}) {
        fill_Oracle_1(v.data(), N, c, sigma);
        const Moments m = exact_moments(c, sigma);
        expect_moments(v, m.mean, m.var + 1.0 / 12, m.m4 + m.var / 2 + 1.0 / 80);
    }
}

// Every row of the parity rule: the sample is set through sigma, as the first
// draw 0 gives cos = 1 and the second draw 16384 a known radius.
TEST(Oracle2, ParityRule) {
    struct Row {
        double sample;
        std::int64_t even, odd;
    };
    const Row rows[] = {{0.9, 0, 1},   {2.3, 2, 3},   {-2.7, -2, -3}, {1.7, 2, 1},  {-1.2, -2, -1},
                        {1.5, 2, 1},   {-3.2, -4, -3}, {2.9, 2, 3},   {-2.3, -2, -3}, {0.4, 0, 1},
                        {-0.4, 0, -1}, {0.0, 0, -1},   {3.5, 4, 3},   {-5.01, -6, -5}};
    const double rho = rho_of(16384);
    for (const Row& row : rows) {
        for (std::int64_t p : {std::int64_t{0}, std::int64_t{2}, std::int64_t{-4}, std::numeric_limits<std::int64_t>::min(),  //
                               std::int64_t{1}, std::int64_t{-1}, std::int64_t{3}, std::numeric_limits<std::int64_t>::max()}) {
            Script s({0, 16384});
            EXPECT_EQ(Oracle_2(p, row.sample / rho), (p & 1) ? row.odd : row.even) << "sample " << row.sample << ", p " << p;
        }
    }
}

// ---- Bulk generators -------------------------------------------------------

TEST(BulkGenerators, DrawOrderIsRowEntryCoefficient) {
    const std::int64_t len = 3, rows = 2, cols = 3;
    std::vector<int> draws;
    std::vector<std::int64_t> expected;
    for (int m = 0; m < rows * cols * len; ++m) {
        const int r2 = 1 + 1500 * m;  // distinct radii, hence distinct samples
        draws.insert(draws.end(), {0, r2});
        expected.push_back(std::llround(100.0 * rho_of(r2)));
    }
    Script s(draws);
    const mat_poly_R mat = generate_Gaussian_mat_poly_R(len, rows, cols, 100.0);
    ASSERT_EQ(mat.rows, rows);
    ASSERT_EQ(mat.cols, cols);
    for (std::int64_t i = 0; i < rows; ++i)
        for (std::int64_t j = 0; j < cols; ++j) {
            const poly_R& e = mat.entries[j + cols * i];
            ASSERT_EQ(e.len, len);
            for (std::int64_t t = 0; t < len; ++t) EXPECT_EQ(e.coeffs[t], expected[static_cast<std::size_t>((i * cols + j) * len + t)]);
        }
    EXPECT_EQ(s.taken(), draws.size());
}

TEST(BulkGenerators, RealPolyIsUnroundedSamplesInOrder) {
    Script s({0, 16384, 8192, 100, 32767, 7});
    const poly_K p = generate_Gaussian_poly_K(3, 2.0);
    ASSERT_EQ(p.len, 3);
    EXPECT_TRUE(same_bits(p.coeffs[0], gaussian_of(0, 16384, 0.0, 2.0)));
    EXPECT_TRUE(same_bits(p.coeffs[1], gaussian_of(8192, 100, 0.0, 2.0)));
    EXPECT_TRUE(same_bits(p.coeffs[2], gaussian_of(32767, 7, 0.0, 2.0)));
}

TEST(BulkGenerators, EmptyShapesTakeNoDraw) {
    Script s({});
    const mat_poly_R a = generate_Gaussian_mat_poly_R(4, 0, 2, 1.0), b = generate_Gaussian_mat_poly_R(4, 3, 0, 1.0);
    EXPECT_EQ(a.rows, 0);
    EXPECT_EQ(a.cols, 2);
    EXPECT_EQ(b.rows, 3);
    EXPECT_EQ(b.cols, 0);
    const mat_poly_R c = generate_Gaussian_mat_poly_R(0, 2, 2, 1.0);
    ASSERT_EQ(c.rows * c.cols, 4);
    for (int e = 0; e < 4; ++e) EXPECT_EQ(c.entries[e].len, 0);
    EXPECT_EQ(generate_Gaussian_poly_K(0, 1.0).len, 0);
    EXPECT_EQ(s.taken(), 0u);
}

// The bulk helpers are exactly repeated single calls, down to the stream
// position they leave behind.
TEST(BulkGenerators, FillHelpersEqualRepeatedCalls) {
    const std::size_t N = 700;
    std::vector<std::int64_t> a(N), b(N);
    std::vector<double> x(N), y(N);
    seed_draws(61);
    fill_Oracle_1(a.data(), N, 0.75, 5.6);
    fill_Gaussian(x.data(), N, -2.0, 3.0);
    fill_randomBnd(b.data(), N, 268369921);
    const int next = draw();
    seed_draws(61);
    for (auto v : a) ASSERT_EQ(v, Oracle_1(0.75, 5.6));
    for (auto v : x) ASSERT_TRUE(same_bits(v, generate_Gaussian(-2.0, 3.0)));
    for (auto v : b) ASSERT_EQ(v, generate_randomBnd(268369921));
    EXPECT_EQ(next, draw());
}

}  // namespace
}  // namespace ringtrap
