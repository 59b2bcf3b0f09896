// The transform engine: the vectorised and portable code against each other
// (bit for bit) and both against the plain definition, on the built-in sets
// and on moduli that exercise the other reduction schedules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ntt.h"
#include "test_support.h"

namespace ringtrap {
namespace {

using Vec = std::vector<std::int32_t>;

std::int64_t mulmod(std::int64_t a, std::int64_t b, std::int64_t q) {
    const std::int64_t x = (a % q) * (b % q) % q;
    return x < 0 ? x + q : x;
}

std::int64_t powmod(std::int64_t b, std::int64_t e, std::int64_t q) {
    std::int64_t r = 1;
    for (b = mulmod(b, 1, q); e > 0; e >>= 1, b = mulmod(b, b, q))
        if (e & 1) r = mulmod(r, b, q);
    return r;
}

std::int64_t residue(std::int64_t x, std::int64_t q) { return mulmod(x, 1, q); }

// Coefficients in (-q, q), with the extremes +-(q-1) and 0 over-represented.
Vec random_input(std::mt19937_64& rng, const NttTables& t) {
    std::uniform_int_distribution<std::int32_t> any(-(t.q - 1), t.q - 1);
    std::uniform_int_distribution<int> pick(0, 7);
    Vec v(static_cast<std::size_t>(t.n));
    for (auto& x : v) {
        const int p = pick(rng);
        x = p == 0 ? t.q - 1 : p == 1 ? -(t.q - 1) : p == 2 ? 0 : any(rng);
    }
    return v;
}

// Negacyclic product by the schoolbook rule, residues in [0, q).
std::vector<std::int64_t> schoolbook(const Vec& a, const Vec& b, std::int64_t q) {
    const std::size_t len = a.size();
    std::vector<std::int64_t> out(len, 0);
    for (std::size_t i = 0; i < len; ++i)
        for (std::size_t j = 0; j < len; ++j) {
            const std::int64_t p = mulmod(a[i], b[j], q);
            const std::size_t d = i + j;
            out[d % len] = d < len ? residue(out[d % len] + p, q) : residue(out[d % len] - p, q);
        }
    return out;
}

// a * b through the transform (forward, pointwise, inverse), residues.
template <typename Fwd, typename Pw, typename Inv>
std::vector<std::int64_t> via_transform(const NttTables& t, Vec a, Vec b, Fwd fwd, Pw pw, Inv inv) {
    fwd(t, a.data());
    fwd(t, b.data());
    pw(t, a.data(), a.data(), b.data());
    inv(t, a.data(), true);
    std::vector<std::int64_t> out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = residue(a[i], t.q);
    return out;
}

bool in_open_range(const Vec& v, std::int32_t q) {
    for (const std::int32_t x : v)
        if (x <= -q || x >= q) return false;
    return true;
}

// Wide accumulation of as many products as it allows (capped at 40; the
// extremes +-(q-1) make the sum reach its bound): the same residues as chained
// accumulation, in (-q, q), and portable and AVX2 bit for bit.
void check_wide_sums(const NttTables& t, std::mt19937_64& rng) {
    const std::int64_t terms = std::min<std::int64_t>(ntt_wide_terms(t), 40);
    if (terms == 0) return;
    Vec chained(static_cast<std::size_t>(t.n), 0), out_p(chained), out_v(chained);
    std::vector<std::int64_t> wide_p(chained.size(), 1), wide_v(chained.size(), 1);
    ntt_wide_clear(t, wide_p.data());
    ntt_wide_clear(t, wide_v.data());
    for (std::int64_t m = 0; m < terms; ++m) {
        Vec a = random_input(rng, t), b = random_input(rng, t);
        if (m < 2) {  // the largest products, (q - 1)^2 everywhere
            std::fill(a.begin(), a.end(), m == 0 ? t.q - 1 : 1 - t.q);
            b = a;
        }
        ntt_pointwise_acc_portable(t, chained.data(), a.data(), b.data());
        ntt_mul_acc_wide_portable(t, wide_p.data(), a.data(), b.data());
        ntt_mul_acc_wide_avx2(t, wide_v.data(), a.data(), b.data());
    }
    ntt_reduce_wide_portable(t, out_p.data(), wide_p.data());
    ntt_reduce_wide_avx2(t, out_v.data(), wide_v.data());
    ASSERT_TRUE(in_open_range(out_p, t.q));
    for (std::size_t i = 0; i < chained.size(); ++i) ASSERT_EQ(residue(out_p[i], t.q), residue(chained[i], t.q)) << i;
    EXPECT_EQ(out_v, out_p);
}

// Checks one table set: the forward transform evaluates at the odd powers of
// psi in bit-reversed order, products match the schoolbook, the inverse undoes
// the forward, outputs stay in (-q, q), and the AVX2 code agrees bit for bit.
void check_tables(const NttTables& t, std::int64_t psi, int rounds, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const bool avx2 = ntt_have_avx2();
    for (int round = 0; round < rounds; ++round) {
        const Vec a = random_input(rng, t), b = random_input(rng, t);

        Vec fa = a;
        ntt_forward_portable(t, fa.data());
        ASSERT_TRUE(in_open_range(fa, t.q));
        if (round == 0) {
            for (std::int32_t i = 0; i < t.n; ++i) {
                const std::int64_t x = powmod(psi, 2 * t.brv[static_cast<std::size_t>(i)] + 1, t.q);
                std::int64_t acc = 0;
                for (std::int32_t j = t.n; j-- > 0;) acc = residue(mulmod(acc, x, t.q) + a[static_cast<std::size_t>(j)], t.q);
                ASSERT_EQ(residue(fa[static_cast<std::size_t>(i)], t.q), acc) << "evaluation " << i;
            }
            const auto want = schoolbook(a, b, t.q);
            EXPECT_EQ(via_transform(t, a, b, ntt_forward_portable, ntt_pointwise_portable, ntt_inverse_portable), want);
            EXPECT_EQ(via_transform(t, a, b, ntt_forward_avx2, ntt_pointwise_avx2, ntt_inverse_avx2), want);
        }

        Vec back = fa;
        ntt_inverse_portable(t, back.data(), false);
        ASSERT_TRUE(in_open_range(back, t.q));
        for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(residue(back[i], t.q), residue(a[i], t.q)) << i;

        // Inverse on arbitrary (not transform-produced) inputs, pointwise
        // products and accumulation: portable and AVX2 bit for bit.
        Vec inv_p = a, inv_v = a;
        ntt_inverse_portable(t, inv_p.data(), true);
        Vec pw_p(a.size()), pw_v(a.size()), acc_p = b, acc_v = b;
        ntt_pointwise_portable(t, pw_p.data(), a.data(), b.data());
        ntt_pointwise_acc_portable(t, acc_p.data(), a.data(), b.data());
        ASSERT_TRUE(in_open_range(inv_p, t.q) && in_open_range(pw_p, t.q) && in_open_range(acc_p, t.q));
        if (!avx2) continue;
        Vec fv = a;
        ntt_forward_avx2(t, fv.data());
        ASSERT_EQ(fv, fa);
        ntt_inverse_avx2(t, inv_v.data(), true);
        ASSERT_EQ(inv_v, inv_p);
        ntt_pointwise_avx2(t, pw_v.data(), a.data(), b.data());
        ASSERT_EQ(pw_v, pw_p);
        ntt_pointwise_acc_avx2(t, acc_v.data(), a.data(), b.data());
        ASSERT_EQ(acc_v, acc_p);
    }
    check_wide_sums(t, rng);
}

class NttLevel : public testing::PerLevel {};

TEST_P(NttLevel, PortableAndVectorisedAgreeWithTheDefinition) {
    check_tables(ntt_tables(P()), P().psi, 12, static_cast<std::uint64_t>(P().level));
}

// The dispatching entry points give the reference results, and loading
// reduces any 64-bit value (small ones without division, large ones with).
TEST_P(NttLevel, DispatchAndLoadStore) {
    const NttTables& t = ntt_tables(P());
    std::mt19937_64 rng(7);
    const Vec a = random_input(rng, t);
    Vec x = a, y = a;
    ntt_forward(t, x.data());
    ntt_forward_portable(t, y.data());
    EXPECT_EQ(x, y);

    const std::int64_t q = t.q;
    const std::vector<std::int64_t> small = {0, 1, -1, q - 1, -(q - 1)};
    const std::vector<std::int64_t> large = {q, -q, 3 * q + 5, INT64_MAX, INT64_MIN, -7 * q - 2};
    for (const auto& extra : {small, large}) {
        // Every residue class position: values land in each lane of a vector.
        std::vector<std::int64_t> src(static_cast<std::size_t>(t.n));
        std::uniform_int_distribution<std::int64_t> any(-(q - 1), q - 1);
        for (auto& v : src) v = any(rng);
        for (std::size_t i = 0; i < extra.size(); ++i) src[(i * 37) % src.size()] = extra[i];
        Vec loaded(src.size()), loaded_p(src.size());
        ntt_load(t, loaded.data(), src.data());
        ntt_load_portable(t, loaded_p.data(), src.data());
        EXPECT_EQ(loaded, loaded_p);
        std::vector<std::int64_t> stored(src.size()), stored_p(src.size());
        ntt_store_centred(t, stored.data(), loaded.data());
        ntt_store_centred_portable(t, stored_p.data(), loaded.data());
        EXPECT_EQ(stored, stored_p);
        for (std::size_t i = 0; i < src.size(); ++i) {
            ASSERT_EQ(residue(stored[i], q), residue(src[i] % q, q)) << src[i];
            ASSERT_LE(std::abs(stored[i]), (q - 1) / 2);
        }
    }
}

// Byte loading and the centring with the norm, vectorised against portable:
// every magnitude class of the byte form (small, at and beyond q, 2^31 - 1,
// negative zero) with the canonical-form flag, and limits that stop the sum
// early or never.
void check_rows_from_bytes(const NttTables& t, std::mt19937_64& rng) {
    const std::int64_t q = t.q;
    const std::size_t len = static_cast<std::size_t>(t.n);
    for (const std::int64_t extreme : {std::int64_t{0}, q, INT64_C(2147483647)}) {
        std::vector<std::uint8_t> bytes(4 * len);
        std::vector<std::int64_t> values(len);
        std::uniform_int_distribution<std::int64_t> any(-(q - 1) / 2, (q - 1) / 2);
        for (std::size_t i = 0; i < len; ++i) {
            values[i] = extreme != 0 && i % 7 == 3 ? (i % 2 ? extreme : -extreme)
                        : extreme != 0 && i % 7 == 5 ? q - 1  // in range but not centred
                                                     : any(rng);
            const std::uint64_t m = static_cast<std::uint64_t>(std::abs(values[i]));
            const std::uint32_t w = static_cast<std::uint32_t>(m) | (values[i] < 0 ? 0x80000000u : 0u);
            for (int b = 0; b < 4; ++b) bytes[4 * i + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(w >> (8 * b));
        }
        if (extreme != 0) {
            bytes[4 * len - 1] = 0x80, bytes[4 * len - 2] = bytes[4 * len - 3] = bytes[4 * len - 4] = 0;  // negative zero
            values[len - 1] = 0;
        }
        Vec want(len), port(len), vec(len);
        ntt_load_portable(t, want.data(), values.data());
        // Only the row of small values without a negative zero is canonical.
        EXPECT_EQ(ntt_load_bytes_portable(t, port.data(), bytes.data(), t.q / 2), extreme == 0);
        EXPECT_EQ(ntt_load_bytes_avx2(t, vec.data(), bytes.data(), t.q / 2), extreme == 0);
        EXPECT_EQ(port, want);
        EXPECT_EQ(vec, want);
        // A tighter bound, as for trapdoor rows: the largest magnitude of the
        // small row passes at its own value and fails one below.
        if (extreme == 0) {
            std::int64_t largest = 0;
            for (const std::int64_t v : values) largest = std::max(largest, std::abs(v));
            const auto b = static_cast<std::int32_t>(largest);
            EXPECT_TRUE(ntt_load_bytes_portable(t, port.data(), bytes.data(), b));
            EXPECT_TRUE(ntt_load_bytes_avx2(t, vec.data(), bytes.data(), b));
            EXPECT_FALSE(ntt_load_bytes_portable(t, port.data(), bytes.data(), b - 1));
            EXPECT_FALSE(ntt_load_bytes_avx2(t, vec.data(), bytes.data(), b - 1));
        }

        // Large moduli and long rows take the sum past 2^62: then only the
        // early stop is checked.
        __extension__ typedef unsigned __int128 wide;
        wide wide_norm = 0;
        for (const std::int32_t v : want) {
            const std::int64_t c = residue(v, q) > q / 2 ? residue(v, q) - q : residue(v, q);
            wide_norm += static_cast<std::uint64_t>(c * c);
        }
        const std::uint64_t top = (std::uint64_t{1} << 62) - 1;
        const std::uint64_t norm = wide_norm > top ? top + 1 : static_cast<std::uint64_t>(wide_norm);
        for (const std::uint64_t limit : {top, norm, norm - 1, std::uint64_t{0}}) {
            Vec a = want, b = want;
            const std::uint64_t got_p = ntt_centre_norm_portable(t, a.data(), limit);
            const std::uint64_t got_v = ntt_centre_norm_avx2(t, b.data(), limit);
            if (limit >= norm && norm <= top) {
                EXPECT_EQ(got_p, norm);
                EXPECT_EQ(got_v, norm);
                EXPECT_EQ(a, b);
                for (const std::int32_t c : a) ASSERT_LE(std::abs(c), q / 2);
            } else {
                EXPECT_GT(got_p, limit);
                EXPECT_GT(got_v, limit);
            }
        }
    }
}

// Sums of 64-bit rows loaded centred, and differences in the transform domain.
void check_row_sums(const NttTables& t, std::mt19937_64& rng) {
    const std::int64_t q = t.q;
    const std::size_t len = static_cast<std::size_t>(t.n);
    std::uniform_int_distribution<std::int64_t> small(-(q - 1) / 2, (q - 1) / 2), huge(-(INT64_C(1) << 61), INT64_C(1) << 61);
    for (const bool far : {false, true}) {
        std::vector<std::int64_t> a(len), b(len);
        for (std::size_t i = 0; i < len; ++i) a[i] = small(rng), b[i] = small(rng);
        if (far) a[len / 3] = huge(rng);  // one sum needs a real reduction
        std::vector<std::int64_t> x_p(len), x_v(len);
        Vec row_p(len), row_v(len);
        ntt_load_sum_portable(t, row_p.data(), x_p.data(), a.data(), b.data());
        ntt_load_sum_avx2(t, row_v.data(), x_v.data(), a.data(), b.data());
        EXPECT_EQ(x_v, x_p);
        EXPECT_EQ(row_v, row_p);
        for (std::size_t i = 0; i < len; ++i) {
            ASSERT_EQ(residue(x_p[i], q), residue(residue(a[i], q) + residue(b[i], q), q));
            ASSERT_LE(std::abs(x_p[i]), q / 2);
        }
        Vec d_p = random_input(rng, t), d_v = d_p;
        const Vec sub = random_input(rng, t);
        ntt_sub_portable(t, d_p.data(), sub.data());
        ntt_sub_avx2(t, d_v.data(), sub.data());
        EXPECT_EQ(d_v, d_p);
        for (const std::int32_t v : d_p) ASSERT_LT(std::abs(v), q);
    }
}

TEST_P(NttLevel, RowsFromBytesAndTheirNorm) {
    std::mt19937_64 rng(31);
    check_rows_from_bytes(ntt_tables(*GetParam()), rng);
    check_row_sums(ntt_tables(*GetParam()), rng);
}

INSTANTIATE_TEST_SUITE_P(Levels, NttLevel, ::testing::ValuesIn(testing::kAllParamSets), testing::param_name);


// Moduli near 2^29 (reductions in mid-transform at every other layer), just
// below 2^30 (the largest lazy modulus) and above 2^30 (the 64-bit route),
// at the shortest length the vector code takes and at a long one.
TEST(NttOtherModuli, ReductionSchedulesAndWideRoute) {
    for (const std::int64_t lower : {std::int64_t{1} << 20, std::int64_t{1} << 29, (std::int64_t{1} << 30) - (1 << 16),
                                     (std::int64_t{1} << 30) + 1, (std::int64_t{1} << 31) - (1 << 16)}) {
        for (const int log_n : {4, 5, 6, 7, 8, 11}) {
            const auto [q, psi] = testing::find_ntt_modulus(lower, log_n);
            if (q >= (std::int64_t{1} << 31)) continue;
            SCOPED_TRACE("q = " + std::to_string(q) + ", n = " + std::to_string(1 << log_n));
            const NttTables t(q, log_n, psi);
            EXPECT_EQ(t.lazy, q < (std::int64_t{1} << 30));
            check_tables(t, psi, log_n == 11 ? 2 : 6, static_cast<std::uint64_t>(q));
            std::mt19937_64 rng(static_cast<std::uint64_t>(q));
            check_rows_from_bytes(t, rng);
            check_row_sums(t, rng);
        }
    }
}

}  // namespace
}  // namespace ringtrap
