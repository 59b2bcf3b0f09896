#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "BasicScheme.h"
#include "Hash.h"
#include "common.h"
#include "sha256.h"

namespace {

using namespace ringtrap;

// The message hash at a level's ring degree (n/8 + 1 SHA-256 evaluations).
void BM_Hash(benchmark::State& state) {
    if (!parameter_init(static_cast<std::int32_t>(state.range(0)))) return state.SkipWithError("no such level");
    std::vector<std::uint8_t> msg(100, 0x5c);
    for (auto _ : state) benchmark::DoNotOptimize(Hash(msg.data(), msg.size(), n).coeffs);
    state.SetLabel("n=" + std::to_string(n));
}
BENCHMARK(BM_Hash)->Arg(128)->Arg(256);

// The same into a caller's buffer with an explicit modulus (no allocation).
void BM_Hash_into_array(benchmark::State& state) {
    const ParamSet& p = state.range(0) == 256 ? kParams256 : kParams128;
    std::vector<std::uint8_t> msg(100, 0x5c);
    std::vector<std::int64_t> out(static_cast<std::size_t>(p.n));
    for (auto _ : state) {
        Hash(msg.data(), msg.size(), p.n, p.q, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Hash_into_array)->Arg(128)->Arg(256);

// One chain link: a single compression of a fixed-padding block.
void BM_sha256_rehash_digest(benchmark::State& state) {
    Sha256State words{};
    for (auto _ : state) {
        sha256_rehash_digest(words);
        benchmark::DoNotOptimize(words.data());
    }
}
BENCHMARK(BM_sha256_rehash_digest);

void BM_sha256_bytes(benchmark::State& state) {
    std::vector<std::uint8_t> msg(static_cast<std::size_t>(state.range(0)), 0xa7);
    std::uint8_t out[32];
    for (auto _ : state) {
        sha256(msg.data(), msg.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_sha256_bytes)->Arg(32)->Arg(4096);

}  // namespace
