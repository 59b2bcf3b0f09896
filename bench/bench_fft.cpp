#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BasicScheme.h"
#include "common.h"
#include "fft.h"
#include "util.h"

namespace {

using namespace ringtrap;

poly_R random_poly(std::mt19937_64& rng, std::int64_t len, std::int64_t bound) {
    std::uniform_int_distribution<std::int64_t> d(-bound, bound);
    poly_R p = create_poly_R(len);
    for (std::int64_t i = 0; i < len; ++i) p.coeffs[i] = d(rng);
    return p;
}

void BM_FFT_R_forward(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    std::mt19937_64 rng(1);
    const poly_R a = random_poly(rng, n, modulo / 2);
    std::vector<std::int64_t> out(static_cast<std::size_t>(n));
    for (auto _ : state) {
        FFT_R(a.coeffs, out.data(), static_cast<std::int32_t>(n), 1);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_FFT_R_forward)->Arg(128)->Arg(256);

void BM_mod_mul_poly_R(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    std::mt19937_64 rng(2);
    const poly_R a = random_poly(rng, n, modulo / 2), b = random_poly(rng, n, modulo / 2);
    for (auto _ : state) benchmark::DoNotOptimize(mod_mul_poly_R(a, b).coeffs);
}
BENCHMARK(BM_mod_mul_poly_R)->Arg(128)->Arg(256);

void BM_inner_product_k_plus_2(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    std::mt19937_64 rng(3);
    mat_poly_R A = create_mat_poly_R(n, 1, k + 2), B = create_mat_poly_R(n, 1, k + 2);
    for (std::int64_t j = 0; j < k + 2; ++j) {
        A.entries[j] = random_poly(rng, n, modulo / 2);
        B.entries[j] = random_poly(rng, n, modulo / 2);
    }
    for (auto _ : state) benchmark::DoNotOptimize(inner_product_mat_poly_R(A, B).coeffs);
}
BENCHMARK(BM_inner_product_k_plus_2)->Arg(128)->Arg(256);

}  // namespace
