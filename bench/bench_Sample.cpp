// Trapdoor preimage sampling: the gadget sampler, the field sampler and the
// perturbation sampler, on the default (ChaCha20) draw source.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "BasicScheme.h"
#include "RandomGenerator.h"
#include "SampleG.h"
#include "SampleP.h"
#include "common.h"
#include "util.h"

namespace {

using namespace ringtrap;

const ParamSet& level_of(const benchmark::State& state) {
    return state.range(0) == 256 ? kParams256 : kParams128;
}

mat_poly_R random_row(std::mt19937_64& rng, std::int64_t cols, std::int64_t len) {
    std::uniform_int_distribution<std::int64_t> d(-90, 90);
    mat_poly_R m = create_mat_poly_R(len, 1, cols);
    for (std::int64_t j = 0; j < cols; ++j)
        for (std::int64_t i = 0; i < len; ++i) m.entries[j].coeffs[i] = d(rng);
    return m;
}

// One gadget preimage.
void BM_Sample_G(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    seed_draws(1);
    std::vector<std::int64_t> x(static_cast<std::size_t>(k));
    std::int64_t u = 12345;
    for (auto _ : state) {
        Sample_G(x.data(), modulo, u++, r);
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_Sample_G)->Arg(128)->Arg(256);

// The gadget stage of one signature: n preimages.
void BM_Sample_G_n(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    seed_draws(2);
    std::vector<std::int64_t> x(static_cast<std::size_t>(k));
    for (auto _ : state) {
        for (std::int64_t j = 0; j < n; ++j) {
            Sample_G(x.data(), modulo, j * 7919, r);
            benchmark::DoNotOptimize(x.data());
        }
    }
}
BENCHMARK(BM_Sample_G_n)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

// One field sample of length L reaching the bottom of the recursion.
void BM_Sample_FZ(benchmark::State& state) {
    const std::int64_t len = state.range(0);
    seed_draws(3);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> v(-1.0, 1.0);
    poly_K f = create_poly_K(len), c = create_poly_K(len);
    for (std::int64_t i = 0; i < len; ++i) {
        f.coeffs[i] = v(rng);
        c.coeffs[i] = v(rng);
    }
    f.coeffs[0] = 2.0e9;
    for (auto _ : state) benchmark::DoNotOptimize(Sample_FZ(f, c).coeffs);
}
BENCHMARK(BM_Sample_FZ)->Arg(512)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The perturbation through the record interface (key work on every call).
void BM_Sample_P(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    seed_draws(4);
    std::mt19937_64 rng(4);
    const mat_poly_R T0 = random_row(rng, k, n), T1 = random_row(rng, k, n);
    for (auto _ : state) benchmark::DoNotOptimize(Sample_P(n, modulo, s, r, T0, T1).entries);
}
BENCHMARK(BM_Sample_P)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

// The perturbation from a prepared key, as signing draws it.
void BM_sample_perturbation(benchmark::State& state) {
    const ParamSet& p = level_of(state);
    seed_draws(5);
    std::mt19937_64 rng(5);
    const mat_poly_R T0 = random_row(rng, p.k, p.n), T1 = random_row(rng, p.k, p.n);
    const PerturbationKey key = prepare_perturbation_key(p, T0, T1);
    std::vector<std::int64_t> out(static_cast<std::size_t>((p.k + 2) * p.n));
    std::vector<std::int32_t> g_ntt(static_cast<std::size_t>(p.k * p.n));
    for (auto _ : state) {
        benchmark::DoNotOptimize(sample_perturbation(key, out.data(), g_ntt.data()));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_sample_perturbation)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

// The key-only work, done once per secret key.
void BM_prepare_perturbation_key(benchmark::State& state) {
    const ParamSet& p = level_of(state);
    std::mt19937_64 rng(6);
    const mat_poly_R T0 = random_row(rng, p.k, p.n), T1 = random_row(rng, p.k, p.n);
    for (auto _ : state) benchmark::DoNotOptimize(prepare_perturbation_key(p, T0, T1).t0_ntt.data());
}
BENCHMARK(BM_prepare_perturbation_key)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

}  // namespace
