// Known-answer transcripts: for fixed seeds, the demonstration flow (100 message
// bytes from the draw source, key pair, signature) must reproduce the stored
// message and the SHA-256 digests of the public key, secret key and signature.
// This pins every value and the draw order while the code changes underneath.
//
// To regenerate after an intended change of results (never for speed work):
//   RINGTRAP_UPDATE_KAT=1 ./ringtrap_tests --gtest_filter='KnownAnswers.*'
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RandomGenerator.h"
#include "sha256.h"
#include "sig_api.h"

namespace ringtrap {
namespace {

const char* const kKatFile = RINGTRAP_TEST_DATA_DIR "/kat/demo_flow.txt";
const std::uint64_t kSeeds[] = {0, 1, 20261207};
const int kLevels[] = {128, 256};

std::string hex(const std::uint8_t* p, std::size_t len) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < len; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string digest_hex(const std::vector<unsigned char>& v) {
    std::uint8_t d[32];
    sha256(v.data(), v.size(), d);
    return hex(d, 32);
}

// One line: level seed message pk-digest sk-digest signature-digest
std::string transcript(int level, std::uint64_t seed) {
    seed_draws(seed);
    EXPECT_EQ(sig_select_level(level), 0);
    std::vector<unsigned char> pk(sig_public_key_bytes()), sk(sig_secret_key_bytes()), sig(sig_signature_bytes());
    std::uint8_t msg[100];
    for (auto& b : msg) b = static_cast<std::uint8_t>(draw() % 256);
    EXPECT_EQ(sig_keygen(pk.data(), sk.data()), 0);
    std::uint64_t siglen = 0;
    EXPECT_EQ(sig_sign(sk.data(), msg, sizeof msg, sig.data(), &siglen), 0);
    EXPECT_EQ(sig_verf(pk.data(), sig.data(), siglen, msg, sizeof msg), 1);
    std::ostringstream line;
    line << level << ' ' << seed << ' ' << hex(msg, sizeof msg) << ' ' << digest_hex(pk) << ' ' << digest_hex(sk) << ' '
         << digest_hex(sig);
    return line.str();
}

TEST(KnownAnswers, DemonstrationFlowIsReproduced) {
    std::vector<std::string> lines;
    for (int level : kLevels)
        for (std::uint64_t seed : kSeeds) lines.push_back(transcript(level, seed));
    seed_draws_from_os();

    if (const char* update = std::getenv("RINGTRAP_UPDATE_KAT"); update && *update == '1') {
        std::ofstream out(kKatFile);
        out << "# level seed message sha256(public-key) sha256(secret-key) sha256(signature)\n";
        for (const auto& l : lines) out << l << '\n';
        GTEST_SKIP() << "known answers rewritten to " << kKatFile;
    }
    std::ifstream in(kKatFile);
    ASSERT_TRUE(in) << "missing " << kKatFile;
    std::vector<std::string> want;
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l[0] != '#') want.push_back(l);
    ASSERT_EQ(want.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], want[i]) << "transcript " << i;
}

}  // namespace
}  // namespace ringtrap
