// The constant-time samplers: time per sample (items_per_second) and the
// randomness each sample consumes (counter bytes_per_sample, measured by
// locating the stream's next word in a copy of the stream).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "gauss_ct.h"
#include "word_stream.h"

namespace {

using namespace ringtrap;
using namespace ringtrap::gauss;

WordStream make_stream(std::uint8_t tag) {
    std::uint8_t seed[32] = {};
    seed[0] = tag;
    return WordStream(seed);
}

constexpr std::size_t kBatch = 1024;

// Bytes of randomness per sample of `run`, which takes kBatch samples.
double bytes_per_sample(const std::function<void(WordStream&)>& run) {
    WordStream ws = make_stream(99), copy = make_stream(99);
    std::vector<std::uint64_t> words(64 * kBatch);
    copy.fill(words.data(), words.size());
    run(ws);
    const auto used = std::find(words.begin(), words.end(), ws.next()) - words.begin();
    return 8.0 * static_cast<double>(used) / kBatch;
}

void report(benchmark::State& state, const std::function<void(WordStream&)>& run) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
    state.counters["bytes_per_sample"] = bytes_per_sample(run);
}

std::vector<double> centres(double spread) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> d(-spread, spread);
    std::vector<double> c(kBatch);
    for (auto& x : c) x = d(rng);
    return c;
}

void BM_WordStream(benchmark::State& state) {
    WordStream ws = make_stream(1);
    std::vector<std::uint64_t> out(kBatch);
    for (auto _ : state) {
        ws.fill(out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBatch * 8));
}
BENCHMARK(BM_WordStream);

// Narrow samples with centres in [-30, 30]; arg 0: width 1.70 on its own table,
// arg 1: width 1.70 / 0.75 on the wide-base table, arg 2: width 0.85.
void BM_Narrow(benchmark::State& state) {
    const NarrowTable& t = state.range(0) == 1 ? narrow_table_r_wide() : narrow_table_r();
    const double sigma = state.range(0) == 2 ? 0.85 : narrow_base_sigma(t);
    const std::vector<double> c = centres(30);
    std::vector<std::int64_t> out(kBatch);
    auto run = [&](WordStream& ws) { sample_narrow_batch(ws, t, c.data(), sigma, out.data(), kBatch); };
    WordStream ws = make_stream(2);
    for (auto _ : state) {
        run(ws);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, run);
}
BENCHMARK(BM_Narrow)->Arg(0)->Arg(1)->Arg(2);

void BM_Centred(benchmark::State& state) {
    const std::int64_t K = state.range(0);
    std::vector<std::int64_t> out(kBatch);
    auto run = [&](WordStream& ws) { sample_centred_batch(ws, K, out.data(), kBatch); };
    WordStream ws = make_stream(3);
    for (auto _ : state) {
        run(ws);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, run);
}
BENCHMARK(BM_Centred)->Arg(7)->Arg(14000);

// Widths in [100, 20000] and centres up to 2^17, a new width for each sample
// (prepare_wide included).
void BM_Wide(benchmark::State& state) {
    const std::vector<double> c = centres(131072);
    std::vector<double> widths(kBatch);
    std::mt19937_64 rng(2);
    std::uniform_real_distribution<double> d(100, 20000);
    for (auto& w : widths) w = d(rng);
    std::vector<std::int64_t> out(kBatch);
    auto run = [&](WordStream& ws) {
        for (std::size_t i = 0; i < kBatch; ++i) out[i] = sample_wide(ws, prepare_wide(widths[i]), c[i]);
    };
    WordStream ws = make_stream(4);
    for (auto _ : state) {
        run(ws);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, run);
}
BENCHMARK(BM_Wide);

void BM_Normals(benchmark::State& state) {
    std::vector<double> out(kBatch);
    auto run = [&](WordStream& ws) { sample_normals(ws, out.data(), kBatch); };
    WordStream ws = make_stream(5);
    for (auto _ : state) {
        run(ws);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, run);
}
BENCHMARK(BM_Normals);

void BM_BernoulliExp(benchmark::State& state) {
    const std::vector<double> x = centres(10);
    std::uint64_t acc = 0;
    auto run = [&](WordStream& ws) {
        for (std::size_t i = 0; i < kBatch; ++i) acc += bernoulli_exp(ws, x[i] < 0 ? -x[i] : x[i], 0.9);
    };
    WordStream ws = make_stream(6);
    for (auto _ : state) {
        run(ws);
        benchmark::DoNotOptimize(acc);
    }
    report(state, run);
}
BENCHMARK(BM_BernoulliExp);

}  // namespace
