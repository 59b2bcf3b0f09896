// Key generation, signing and verification from bytes to bytes, and through the
// C++ API with prepared keys.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "RandomGenerator.h"
#include "ringtrap.h"
#include "sig_api.h"

namespace {

struct ByteKeys {
    std::vector<unsigned char> pk, sk, sig;
    unsigned char msg[100];
    std::uint64_t siglen = 0;
    explicit ByteKeys(int level) {
        if (sig_select_level(level) != 0) throw std::runtime_error("bench: level not available");
        pk.resize(sig_public_key_bytes());
        sk.resize(sig_secret_key_bytes());
        sig.resize(sig_signature_bytes());
        for (int i = 0; i < 100; ++i) msg[i] = static_cast<unsigned char>(i * 7);
        if (sig_keygen(pk.data(), sk.data()) != 0 || sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen) != 0)
            throw std::runtime_error("bench: key generation or signing failed");
    }
};

void BM_sig_keygen(benchmark::State& state) {
    ByteKeys keys(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(sig_keygen(keys.pk.data(), keys.sk.data()));
}
BENCHMARK(BM_sig_keygen)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

void BM_sig_sign_100_bytes(benchmark::State& state) {
    ByteKeys keys(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(sig_sign(keys.sk.data(), keys.msg, sizeof keys.msg, keys.sig.data(), &keys.siglen));
}
BENCHMARK(BM_sig_sign_100_bytes)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

void BM_sig_verf(benchmark::State& state) {
    ByteKeys keys(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(sig_verf(keys.pk.data(), keys.sig.data(), keys.siglen, keys.msg, sizeof keys.msg));
}
BENCHMARK(BM_sig_verf)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

void BM_api_sign_prepared(benchmark::State& state) {
    const auto level = static_cast<ringtrap::Level>(state.range(0));
    const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
    const ringtrap::SigningKey sk = ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    std::vector<std::uint8_t> msg(100, 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(sk.sign(msg));
}
BENCHMARK(BM_api_sign_prepared)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

// Signing on one and on two threads with the same prepared key: with draws
// from the operating system each thread has its own stream, so the signature
// rate should scale with the threads (items_per_second is the total rate).
// Arguments: the level (128 or 1128 for S128).
void BM_api_sign_threads(benchmark::State& state) {
    static const ringtrap::SigningKey sk128 = [] {
        const ringtrap::KeyPair kp = ringtrap::generate_keypair(ringtrap::Level::L128);
        return ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    }();
    static const ringtrap::SigningKey sk_s128 = [] {
        const ringtrap::KeyPair kp = ringtrap::generate_keypair(ringtrap::Level::S128);
        return ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    }();
    const ringtrap::SigningKey& sk = state.range(0) == 128 ? sk128 : sk_s128;
    std::vector<std::uint8_t> msg(100, 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(sk.sign(msg));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_api_sign_threads)->Arg(128)->Arg(1128)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_api_verify_prepared(benchmark::State& state) {
    const auto level = static_cast<ringtrap::Level>(state.range(0));
    const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
    const ringtrap::SigningKey sk = ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    std::vector<std::uint8_t> msg(100, 0x5A);
    const ringtrap::Bytes sig = sk.sign(msg);
    const ringtrap::VerifyingKey vk = ringtrap::VerifyingKey::from_bytes(kp.public_key);
    for (auto _ : state) benchmark::DoNotOptimize(vk.verify(sig, msg));
}
BENCHMARK(BM_api_verify_prepared)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

// One-shot calls on stored key bytes, as a user with keys in files calls them:
// every call decodes and prepares the keys again.
void BM_api_sign_from_bytes(benchmark::State& state) {
    const auto level = static_cast<ringtrap::Level>(state.range(0));
    const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
    std::vector<std::uint8_t> msg(100, 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(ringtrap::sign(kp.secret_key, kp.public_key, msg));
}
BENCHMARK(BM_api_sign_from_bytes)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

void BM_api_verify_from_bytes(benchmark::State& state) {
    const auto level = static_cast<ringtrap::Level>(state.range(0));
    const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
    std::vector<std::uint8_t> msg(100, 0x5A);
    const ringtrap::Bytes sig = ringtrap::sign(kp.secret_key, kp.public_key, msg);
    for (auto _ : state) benchmark::DoNotOptimize(ringtrap::verify(kp.public_key, sig, msg));
}
BENCHMARK(BM_api_verify_from_bytes)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

void BM_api_keygen(benchmark::State& state) {
    const auto level = static_cast<ringtrap::Level>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(ringtrap::generate_keypair(level));
}
BENCHMARK(BM_api_keygen)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Unit(benchmark::kMicrosecond);

// Peak resident memory of a process that generates a key pair and signs 1000
// messages through the byte interface. Measured in a fresh child process, so
// that what the other benchmarks allocated does not count; reported as a
// counter in MiB.
void BM_peak_rss_after_1000_signatures(benchmark::State& state) {
    const int level = static_cast<int>(state.range(0));
    double peak_mib = 0;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            ByteKeys keys(level);
            for (int i = 0; i < 1000; ++i) {
                keys.msg[0] = static_cast<unsigned char>(i);
                if (sig_sign(keys.sk.data(), keys.msg, sizeof keys.msg, keys.sig.data(), &keys.siglen) != 0) _exit(1);
            }
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            const long kib = usage.ru_maxrss;
            ssize_t written = write(fds[1], &kib, sizeof kib);
            _exit(written == static_cast<ssize_t>(sizeof kib) ? 0 : 1);
        }
        close(fds[1]);
        long kib = 0;
        const bool got = child > 0 && read(fds[0], &kib, sizeof kib) == static_cast<ssize_t>(sizeof kib);
        close(fds[0]);
        if (child > 0) waitpid(child, nullptr, 0);
        if (!got) {
            state.SkipWithError("child process failed");
            return;
        }
        peak_mib = static_cast<double>(kib) / 1024.0;
    }
    state.counters["peak_rss_MiB"] = peak_mib;
}
BENCHMARK(BM_peak_rss_after_1000_signatures)->Arg(128)->Arg(256)->Arg(1128)->Arg(1256)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
