// Constant-time check of the samplers under valgrind's memcheck:
//
//   valgrind --error-exitcode=1 --track-origins=yes build/ringtrap_ct_samplers
//
// The stream's key and keystream, the centres, the secret widths and the
// Bernoulli inputs are marked secret (undefined for memcheck), so any branch,
// memory address or system call that depends on them is reported. The only
// values let out are the declassified accept bits inside the samplers and the
// final checksum, which is declassified before it is printed.
//
// With --self-test the program also branches on a secret on purpose: memcheck
// must then report an error (exit status 1), which shows that the marking
// works in this build.
#include <cstdio>
#include <cstring>
#include <vector>

#include "ct.h"
#include "gauss_ct.h"
#include "gauss_ct_detail.h"
#include "word_stream.h"

namespace {

using namespace ringtrap;

template <typename T>
void mark(T& v) {
    ct::secret(&v, sizeof v);
}

template <typename T>
std::uint64_t fold(std::uint64_t acc, const T& v) {
    std::uint64_t x = 0;
    std::memcpy(&x, &v, sizeof v < sizeof x ? sizeof v : sizeof x);
    return (acc ^ x) * 0x9e3779b97f4a7c15u;
}

// Runs every sampler with secret inputs; returns the checksum of the outputs.
std::uint64_t run_all(WordStream& ws, std::uint64_t acc) {
    // Narrow sampler at both base tables, several public widths, secret centres.
    const gauss::NarrowTable* tables[] = {&gauss::narrow_table_r(), &gauss::narrow_table_r_wide()};
    for (const gauss::NarrowTable* t : tables) {
        const double base = gauss::narrow_base_sigma(*t);
        for (double sigma : {base, 0.75 * base, 0.5 * base}) {
            // More than one chunk of the bulk path, with distinct centres.
            std::vector<double> centres;
            for (int i = 0; i < 15; ++i)
                for (double c : {0.0, -0.5, 0.25, 3.75, -17.125, 1e6 + 0.3, -0.0}) centres.push_back(c + i);
            std::vector<std::int64_t> out(centres.size());
            ct::secret(centres.data(), centres.size() * sizeof(double));
            gauss::sample_narrow_batch(ws, *t, centres.data(), sigma, out.data(), out.size());
            for (std::size_t i = 0; i < 7; ++i) acc = fold(acc, gauss::sample_narrow(ws, *t, centres[i], sigma));
            for (std::int64_t v : out) acc = fold(acc, v);
        }
    }

    // Centred sampler (K is public).
    for (std::int64_t K : {1, 6, 7, 14000, 1 << 20}) {
        std::vector<std::int64_t> out(100);
        gauss::sample_centred_batch(ws, K, out.data(), out.size());
        for (std::int64_t v : out) acc = fold(acc, v);
    }

    // Wide sampler: secret widths and centres.
    for (double sigma : {64.0, 100.0, 12345.678, 20000.0, 1048576.0}) {
        mark(sigma);
        gauss::WideWidth w = gauss::prepare_wide(sigma);
        for (double c : {0.0, 0.5, -0.5, 131072.4, -99999.99}) {
            mark(c);
            for (int i = 0; i < 8; ++i) acc = fold(acc, gauss::sample_wide(ws, w, c));
        }
        // Batches (rounds of up to four attempts, retries first).
        double centres[9] = {0.0, 0.5, -0.5, 131072.4, -99999.99, 7.25, -3.5, 1e6, 2.0};
        ct::secret(centres, sizeof centres);
        std::int64_t out[9];
        gauss::sample_wide_batch(ws, w, centres, out, 9);
        for (std::int64_t v : out) acc = fold(acc, v);
    }

    // Normals.
    {
        std::vector<double> out(101);
        gauss::sample_normals(ws, out.data(), out.size());
        for (double v : out) acc = fold(acc, v);
    }

    // Bernoulli trials with secret arguments, including the clamped ranges.
    for (double x : {0.0, 1e-300, 0.3, 0.6931471805599453, 5.0, 44.0, 700.0, 1e9}) {
        for (double ccs : {1.0, 0.75, 1e-5, 4.9e-324}) {
            mark(x);
            mark(ccs);
            acc = fold(acc, gauss::bernoulli_exp(ws, x, ccs));
            acc = fold(acc, gauss::bernoulli_exp_threshold(x, ccs));
        }
    }

    return acc;
}

}  // namespace

int main(int argc, char** argv) {
    const bool self_test = argc > 1 && std::strcmp(argv[1], "--self-test") == 0;
    if (!ct::under_valgrind()) std::fprintf(stderr, "note: not running under valgrind, nothing is checked\n");

    std::uint8_t seed[32];
    for (std::size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<std::uint8_t>(3 * i + 1);
    WordStream ws(seed);
    ws.mark_secret();
    std::uint64_t acc = 0;

    // Every sampler through the AVX2 copies of the bulk loops (when the
    // processor has them), then through the portable ones.
    acc = run_all(ws, acc);
    gauss::detail::g_allow_avx2 = false;
    acc = run_all(ws, acc);

    if (self_test) {
        // A deliberate branch on a secret word: memcheck must report it.
        if (ws.next() & 1) acc ^= 1;
    }

    acc = ct::declassified(acc);
    std::printf("checksum %016llx\n", static_cast<unsigned long long>(acc));
    return 0;
}
