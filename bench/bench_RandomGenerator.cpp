#include <benchmark/benchmark.h>

#include <vector>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "chacha20.h"
#include "common.h"

namespace {

using namespace ringtrap;

constexpr std::size_t kBatch = 4096;

void BM_draw(benchmark::State& state) {
    seed_draws(1);
    for (auto _ : state) {
        int acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += draw();
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_draw);

// The same with operating-system entropy: this thread's own stream, with fast
// key erasure at every refill.
void BM_draw_os(benchmark::State& state) {
    seed_draws_from_os();
    for (auto _ : state) {
        int acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += draw();
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_draw_os);

// The keystream core alone: 16 blocks, as one refill of the draw buffer.
void BM_chacha20_refill(benchmark::State& state) {
    const chacha20::Key key{1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<std::uint8_t> out(16 * chacha20::kBlockBytes);
    const bool avx2 = state.range(0) != 0;
    if (avx2 && !chacha20::have_avx2()) {
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    std::uint64_t counter = 0;
    for (auto _ : state) {
        if (avx2)
            chacha20::blocks_avx2(key, counter, 0, out.data(), 16);
        else
            chacha20::blocks_portable(key, counter, 0, out.data(), 16);
        counter += 16;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_chacha20_refill)->ArgName("avx2")->Arg(0)->Arg(1);

// The same with the AVX-512VL routine (which the draw source prefers).
void BM_chacha20_refill_avx512vl(benchmark::State& state) {
    const chacha20::Key key{1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<std::uint8_t> out(16 * chacha20::kBlockBytes);
    if (!chacha20::have_avx512vl()) {
        state.SkipWithError("no AVX-512VL on this processor");
        return;
    }
    std::uint64_t counter = 0;
    for (auto _ : state) {
        chacha20::blocks_avx512vl(key, counter, 0, out.data(), 16);
        counter += 16;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_chacha20_refill_avx512vl);

void BM_generate_Gaussian(benchmark::State& state) {
    seed_draws(2);
    for (auto _ : state) {
        double acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += generate_Gaussian(0.0, 5.6);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_generate_Gaussian);

void BM_generate_Gaussian_reference(benchmark::State& state) {
    seed_draws(2);
    for (auto _ : state) {
        double acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += generate_Gaussian_reference(0.0, 5.6);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_generate_Gaussian_reference);

void BM_Oracle_1(benchmark::State& state) {
    seed_draws(3);
    for (auto _ : state) {
        std::int64_t acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += Oracle_1(0.25, 5.6);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_Oracle_1);

void BM_fill_Oracle_1(benchmark::State& state) {
    seed_draws(4);
    std::vector<std::int64_t> out(kBatch);
    for (auto _ : state) {
        fill_Oracle_1(out.data(), out.size(), 0.0, 5.6);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_fill_Oracle_1);

void BM_generate_randomBnd(benchmark::State& state) {
    seed_draws(5);
    for (auto _ : state) {
        std::int64_t acc = 0;
        for (std::size_t i = 0; i < kBatch; ++i) acc += generate_randomBnd(kParams128.q);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_generate_randomBnd);

// One trapdoor-sized row: k ring elements of n Gaussian coefficients.
void BM_generate_Gaussian_mat_poly_R(benchmark::State& state) {
    const ParamSet& P = state.range(0) == 256 ? kParams256 : kParams128;
    seed_draws(6);
    for (auto _ : state) benchmark::DoNotOptimize(generate_Gaussian_mat_poly_R(P.n, 1, P.k, P.r).entries);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * P.n * P.k));
}
BENCHMARK(BM_generate_Gaussian_mat_poly_R)->Arg(128)->Arg(256);

}  // namespace
