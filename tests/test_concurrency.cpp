// Signing and verification from several threads at once. Every answer is
// checked on the thread that got it and again afterwards, and no two signatures
// may share their randomness (which is what a draw source raced by two signers
// would produce). Built with -DRINGTRAP_SANITIZE=thread these tests also let
// ThreadSanitizer watch the shared draw source, the shared prepared keys and the
// lazily built tables.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ringtrap.h"
#include "sig_api.h"
#include "test_support.h"

namespace ringtrap {
namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Threads record what went wrong here and the main thread reports it, so no
// assertion runs off the main thread.
class Problems {
public:
    void add(std::string what) {
        const std::lock_guard<std::mutex> lock(m_);
        list_.push_back(std::move(what));
    }
    std::vector<std::string> list() const {
        const std::lock_guard<std::mutex> lock(m_);
        return list_;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> list_;
};

// Starts every thread at once, so that they really overlap.
class StartLine {
public:
    void wait() const {
        while (!open_.load(std::memory_order_acquire)) std::this_thread::yield();
    }
    void open() { open_.store(true, std::memory_order_release); }

private:
    std::atomic<bool> open_{false};
};

struct Signed {
    int key;
    Bytes msg;
    Bytes sig;
};

class Concurrency : public testing::PerLevel {
protected:
    Level level() const { return static_cast<Level>(P().level); }
    Level other_level() const { return level() == Level::L128 ? Level::L256 : Level::L128; }
};

TEST_P(Concurrency, SignersAndVerifiersShareKeys) {
    constexpr int kSigners = 3, kVerifiers = 2, kPerSigner = 3, kRounds = 2;
    const KeyPair pairs[2] = {generate_keypair(level()), generate_keypair(level())};
    // One prepared key of each kind, shared by every thread.
    const SigningKey signers[2] = {SigningKey::from_bytes(pairs[0].secret_key, pairs[0].public_key),
                                   SigningKey::from_bytes(pairs[1].secret_key, pairs[1].public_key)};
    const VerifyingKey verifiers[2] = {signers[0].verifying_key(), signers[1].verifying_key()};
    std::vector<Signed> known;
    for (int key = 0; key < 2; ++key) {
        Bytes msg = text("known " + std::to_string(key));
        Bytes sig = signers[key].sign(msg);
        known.push_back({key, std::move(msg), std::move(sig)});
    }

    Problems problems;
    StartLine start;
    std::vector<std::vector<Signed>> made(kSigners);
    std::vector<std::thread> threads;
    for (int t = 0; t < kSigners; ++t)
        threads.emplace_back([&, t] {
            start.wait();
            for (int i = 0; i < kPerSigner; ++i) {
                const int key = (t + i) % 2;
                Bytes msg = text("signer " + std::to_string(t) + " message " + std::to_string(i));
                Bytes sig = signers[key].sign(msg);
                if (!verifiers[key].verify(sig, msg)) problems.add("a fresh signature did not verify");
                if (verifiers[1 - key].verify(sig, msg)) problems.add("a signature verified under the other key");
                made[static_cast<std::size_t>(t)].push_back({key, std::move(msg), std::move(sig)});
            }
        });
    for (int v = 0; v < kVerifiers; ++v)
        threads.emplace_back([&] {
            start.wait();
            for (int round = 0; round < kRounds; ++round)
                for (const Signed& s : known) {
                    const KeyPair& pair = pairs[s.key];
                    if (!verifiers[s.key].verify(s.sig, s.msg)) problems.add("shared key rejected a valid signature");
                    if (verifiers[1 - s.key].verify(s.sig, s.msg)) problems.add("shared key accepted another key's signature");
                    if (!verify(pair.public_key, s.sig, s.msg)) problems.add("one-shot verify rejected a valid signature");
                    Bytes other = s.msg;
                    other.back() ^= 1;
                    if (VerifyingKey::from_bytes(pair.public_key).verify(s.sig, other))
                        problems.add("a signature verified for another message");
                }
        });
    start.open();
    for (auto& th : threads) th.join();
    for (const std::string& p : problems.list()) ADD_FAILURE() << p;

    // Every signature has randomness of its own, and each still verifies here.
    std::set<std::string> distinct;
    const auto key_of = [](const Bytes& sig) { return std::string(sig.begin(), sig.end()); };
    std::size_t count = known.size();
    for (const Signed& s : known) distinct.insert(key_of(s.sig));
    for (const auto& list : made) {
        ASSERT_EQ(list.size(), static_cast<std::size_t>(kPerSigner));
        for (const Signed& s : list) {
            EXPECT_TRUE(verify(pairs[s.key].public_key, s.sig, s.msg));
            distinct.insert(key_of(s.sig));
            ++count;
        }
    }
    EXPECT_EQ(distinct.size(), count) << "two signatures share their randomness";
}

// The C++ API never touches the process-wide parameters, so it runs correctly
// next to a thread that uses the byte interface and switches levels under it.
TEST_P(Concurrency, ApiRunsBesideTheByteInterface) {
    const int levels[2] = {P().level, P().level == 128 ? 256 : 128};
    Problems problems;
    StartLine start;
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        start.wait();
        for (const int lvl : levels) {
            if (sig_select_level(lvl) != 0) problems.add("sig_select_level failed");
            std::vector<unsigned char> pk(sig_public_key_bytes()), sk(sig_secret_key_bytes()), sig(sig_signature_bytes());
            if (sig_keygen(pk.data(), sk.data()) != 0) problems.add("sig_keygen failed");
            const unsigned char msg[] = "byte interface";
            std::uint64_t siglen = 0;
            if (sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen) != 0) problems.add("sig_sign failed");
            if (sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg) != 1) problems.add("sig_verf rejected");
            sig[7] ^= 0x01;
            if (sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg) != 0) problems.add("sig_verf accepted a change");
        }
    });
    for (const Level lvl : {level(), other_level()})
        threads.emplace_back([&, lvl] {
            start.wait();
            const KeyPair pair = generate_keypair(lvl);
            const Bytes msg = text("api");
            const Bytes sig = sign(pair.secret_key, pair.public_key, msg);
            if (sig.size() != sizes(lvl).signature) problems.add("signature of the wrong size");
            if (!verify(pair.public_key, sig, msg)) problems.add("API signature did not verify");
            if (verify(pair.public_key, sig, text("apj"))) problems.add("API signature verified for another message");
        });
    start.open();
    for (auto& th : threads) th.join();
    for (const std::string& p : problems.list()) ADD_FAILURE() << p;
}

// The byte interface's kept key pair is shared state: one thread replaces and
// forgets it while others sign. Every call must end cleanly (the sanitizers
// watch for a key pair freed under a signer), and a signature that was made
// must verify under the key pair it was made with.
TEST_P(Concurrency, ByteInterfaceKeyPairChangesUnderSigners) {
    ASSERT_EQ(sig_select_level(P().level), 0);
    struct Pair {
        std::vector<unsigned char> pk, sk;
    };
    std::mutex latest_mutex;
    std::shared_ptr<const Pair> latest;
    const auto make_pair = [&] {
        auto pair = std::make_shared<Pair>();
        pair->pk.resize(sig_public_key_bytes());
        pair->sk.resize(sig_secret_key_bytes());
        if (sig_keygen(pair->pk.data(), pair->sk.data()) != 0) return false;
        const std::lock_guard<std::mutex> lock(latest_mutex);
        latest = std::move(pair);
        return true;
    };
    ASSERT_TRUE(make_pair());

    Problems problems;
    StartLine start;
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        start.wait();
        for (int round = 0; round < 4; ++round) {
            if (!make_pair()) problems.add("sig_keygen failed");
            if (round == 2) sig_forget();
        }
    });
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            start.wait();
            std::vector<unsigned char> sig(sig_signature_bytes());
            const unsigned char msg[] = "racing";
            for (int i = 0; i < 6; ++i) {
                std::shared_ptr<const Pair> pair;
                {
                    const std::lock_guard<std::mutex> lock(latest_mutex);
                    pair = latest;
                }
                std::uint64_t siglen = 99;
                const std::int32_t rc = sig_sign(pair->sk.data(), msg, sizeof msg, sig.data(), &siglen);
                if (rc == 0) {
                    if (sig_verf(pair->pk.data(), sig.data(), siglen, msg, sizeof msg) != 1)
                        problems.add("a signature did not verify under its key pair");
                } else if (siglen != 0 || sig[0] != 0) {
                    problems.add("a failed sig_sign left a length or signature bytes");
                }
            }
        });
    start.open();
    for (auto& th : threads) th.join();
    for (const std::string& p : problems.list()) ADD_FAILURE() << p;
    sig_forget();
}

INSTANTIATE_TEST_SUITE_P(Levels, Concurrency, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);

}  // namespace
}  // namespace ringtrap
