// The transform engine per level: portable, AVX2 and AVX-512 forward and
// inverse transforms, pointwise accumulation, and loading rows of 64-bit
// coefficients.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BasicScheme.h"
#include "ntt.h"
#include "ntt_avx512.h"
#include "params.h"

namespace {

using namespace ringtrap;

const NttTables& tables_of(const benchmark::State& state) {
    return ntt_tables(state.range(0) == 256 ? kParams256 : kParams128);
}

std::vector<std::int32_t> random_row(const NttTables& t, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::int32_t> d(-(t.q - 1), t.q - 1);
    std::vector<std::int32_t> v(static_cast<std::size_t>(t.n));
    for (auto& x : v) x = d(rng);
    return v;
}

template <void (*Forward)(const NttTables&, std::int32_t*) noexcept>
void BM_ntt_forward(benchmark::State& state) {
    const NttTables& t = tables_of(state);
    if (Forward == &ntt_forward_avx2 && !ntt_have_avx2()) {
        state.SkipWithError("no AVX2");
        return;
    }
    if (Forward == &ntt_forward_avx512 && !ntt_have_avx512()) {
        state.SkipWithError("no AVX-512");
        return;
    }
    const std::vector<std::int32_t> a = random_row(t, 1);
    std::vector<std::int32_t> b(a.size());
    for (auto _ : state) {
        b = a;  // the transform is in place; keep its inputs in range
        Forward(t, b.data());
        benchmark::DoNotOptimize(b.data());
    }
}
BENCHMARK(BM_ntt_forward<ntt_forward_portable>)->Name("BM_ntt_forward_portable")->Arg(128)->Arg(256);
BENCHMARK(BM_ntt_forward<ntt_forward_avx2>)->Name("BM_ntt_forward_avx2")->Arg(128)->Arg(256);
BENCHMARK(BM_ntt_forward<ntt_forward_avx512>)->Name("BM_ntt_forward_avx512")->Arg(128)->Arg(256);

template <void (*Inverse)(const NttTables&, std::int32_t*, bool) noexcept>
void BM_ntt_inverse(benchmark::State& state) {
    const NttTables& t = tables_of(state);
    if (Inverse == &ntt_inverse_avx2 && !ntt_have_avx2()) {
        state.SkipWithError("no AVX2");
        return;
    }
    if (Inverse == &ntt_inverse_avx512 && !ntt_have_avx512()) {
        state.SkipWithError("no AVX-512");
        return;
    }
    const std::vector<std::int32_t> a = random_row(t, 2);
    std::vector<std::int32_t> b(a.size());
    for (auto _ : state) {
        b = a;
        Inverse(t, b.data(), true);
        benchmark::DoNotOptimize(b.data());
    }
}
BENCHMARK(BM_ntt_inverse<ntt_inverse_portable>)->Name("BM_ntt_inverse_portable")->Arg(128)->Arg(256);
BENCHMARK(BM_ntt_inverse<ntt_inverse_avx2>)->Name("BM_ntt_inverse_avx2")->Arg(128)->Arg(256);
BENCHMARK(BM_ntt_inverse<ntt_inverse_avx512>)->Name("BM_ntt_inverse_avx512")->Arg(128)->Arg(256);

void BM_ntt_pointwise_acc(benchmark::State& state) {
    const NttTables& t = tables_of(state);
    const std::vector<std::int32_t> a = random_row(t, 3), b = random_row(t, 4);
    std::vector<std::int32_t> acc(a.size(), 0);
    for (auto _ : state) {
        ntt_pointwise_acc(t, acc.data(), a.data(), b.data());
        benchmark::DoNotOptimize(acc.data());
    }
}
BENCHMARK(BM_ntt_pointwise_acc)->Arg(128)->Arg(256);

void BM_ntt_load_small(benchmark::State& state) {
    const NttTables& t = tables_of(state);
    std::vector<std::int64_t> src(static_cast<std::size_t>(t.n));
    std::mt19937_64 rng(5);
    for (auto& x : src) x = static_cast<std::int64_t>(rng() % 2001) - 1000;
    std::vector<std::int32_t> dst(src.size());
    for (auto _ : state) {
        ntt_load(t, dst.data(), src.data());
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_ntt_load_small)->Arg(128)->Arg(256);

}  // namespace
