// The key-independent sets: key generation, key preparation, signing with a
// prepared key, verification (one thread; medians over repetitions).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "ki_fft.h"
#include "ki_params.h"
#include "ki_scheme.h"
#include "word_stream.h"

namespace {

using namespace ringtrap;

const ki::KiParamSet& set_of(const benchmark::State& state) { return state.range(0) == 256 ? ki::kS256 : ki::kS128; }

WordStream stream(std::uint8_t tag) {
    std::uint8_t seed[32] = {tag, 0x42};
    return WordStream(seed);
}

const std::uint8_t kMsg[100] = {1, 2, 3};

void BM_ki_keygen(benchmark::State& state) {
    const ki::KiParamSet& p = set_of(state);
    WordStream ws = stream(1);
    const std::uint64_t before = ws.words_used();
    for (auto _ : state) benchmark::DoNotOptimize(ki::keygen(p, ws));
    state.counters["words"] = benchmark::Counter(static_cast<double>(ws.words_used() - before),
                                                 benchmark::Counter::kAvgIterations);
}

void BM_ki_prepare(benchmark::State& state) {
    const ki::KiParamSet& p = set_of(state);
    WordStream ws = stream(2);
    const ki::KeyPair kp = ki::keygen(p, ws);
    for (auto _ : state) benchmark::DoNotOptimize(ki::SigningKey(kp.pk, kp.sk));
}

// Counters: the keystream words one operation takes (BM_WordStream gives the
// time per word, so the product is the keystream's share of the operation).
void BM_ki_sign(benchmark::State& state) {
    const ki::KiParamSet& p = set_of(state);
    WordStream ws = stream(3);
    const ki::KeyPair kp = ki::keygen(p, ws);
    const ki::SigningKey key(kp.pk, kp.sk);
    const std::uint64_t before = ws.words_used();
    for (auto _ : state) benchmark::DoNotOptimize(key.sign(kMsg, sizeof kMsg, ws));
    state.counters["words"] = benchmark::Counter(static_cast<double>(ws.words_used() - before),
                                                 benchmark::Counter::kAvgIterations);
}

void BM_ki_verify(benchmark::State& state) {
    const ki::KiParamSet& p = set_of(state);
    WordStream ws = stream(4);
    const ki::KeyPair kp = ki::keygen(p, ws);
    const ki::SigningKey key(kp.pk, kp.sk);
    const ki::Signature sig = key.sign(kMsg, sizeof kMsg, ws);
    for (auto _ : state) benchmark::DoNotOptimize(ki::verify(kp.pk, sig, kMsg, sizeof kMsg));
}

// The complex FFT of K_n (n = 2^arg): the dispatched path (AVX2 where the
// processor has it) and the portable loops, forward then inverse.
void BM_ki_fft(benchmark::State& state) {
    const ki::FftPlan& plan = ki::fft_plan(static_cast<int>(state.range(0)));
    std::vector<double> f(plan.n());
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<double>(i % 17) - 8;
    const bool portable = state.range(1) != 0;
    for (auto _ : state) {
        if (portable) {
            plan.forward_portable(f.data());
            plan.inverse_portable(f.data());
        } else {
            plan.forward(f.data());
            plan.inverse(f.data());
        }
        benchmark::DoNotOptimize(f.data());
    }
}
BENCHMARK(BM_ki_fft)->Args({10, 0})->Args({10, 1})->Args({11, 0})->Args({11, 1});

#define KI_BENCH(fn) \
    BENCHMARK(fn)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)
KI_BENCH(BM_ki_keygen);
KI_BENCH(BM_ki_prepare);
KI_BENCH(BM_ki_sign);
KI_BENCH(BM_ki_verify);

}  // namespace
