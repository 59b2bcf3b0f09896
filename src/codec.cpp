#include "codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

#include "ntt.h"
#include "ringtrap.h"
#include "secret.h"

namespace ringtrap::core {

namespace {

inline std::uint32_t load_le32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

void encode_row(const std::int64_t* coeffs, std::size_t count, std::uint8_t* out) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<std::uint64_t>(coeffs[i]);
        const std::uint64_t neg = 0 - (c >> 63);  // all ones for a negative value
        const std::uint64_t m = (c ^ neg) - neg;  // magnitude
        const auto w = static_cast<std::uint32_t>((m & 0x7FFFFFFFu) | (neg & 0x80000000u));
        std::uint8_t* o = out + 4 * i;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(o, &w, sizeof w);  // the bytes are w least significant first
        } else {
            o[0] = static_cast<std::uint8_t>(w);
            o[1] = static_cast<std::uint8_t>(w >> 8);
            o[2] = static_cast<std::uint8_t>(w >> 16);
            o[3] = static_cast<std::uint8_t>(w >> 24);
        }
    }
}

void decode_row(const std::uint8_t* in, std::size_t count, std::int64_t* coeffs) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t w = load_le32(in + 4 * i);
        const std::int64_t m = w & 0x7FFFFFFFu;
        const std::int64_t neg = -static_cast<std::int64_t>(w >> 31);
        coeffs[i] = (m ^ neg) - neg;  // a negative zero decodes to 0
    }
}

namespace {

// Decodes `count` coefficients into out and returns a flag that is non-zero
// when any of them is not canonical: magnitude above `bound`, or a negative
// zero. One flag for the whole row, so the loop has no data-dependent branch.
// Secret keys go through here too, so the tests are arithmetic (borrows of
// 64-bit subtractions) rather than comparisons a compiler could branch on.
template <typename T>
std::uint64_t decode_canonical(const std::uint8_t* bytes, std::int64_t count, std::uint64_t bound, T* out) noexcept {
    std::uint64_t bad = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint32_t w = load_le32(bytes + 4 * i);
        const std::uint64_t m = w & 0x7FFFFFFFu;
        bad |= ((bound - m) >> 63) | ((m - 1) >> 63 & w >> 31);  // m > bound; a negative zero
        const T neg = -static_cast<T>(w >> 31);
        out[i] = (static_cast<T>(m) ^ neg) - neg;
    }
    return bad;
}

// Decodes (k+2) n public-key coefficients into out (64- or 32-bit) and checks
// that they form a key the generator can have written: every coefficient
// canonical (magnitude at most (q-1)/2, no negative zero) and entry 0 the
// constant 1. One flag for the whole key, so the loop has no data-dependent
// branch.
template <typename T>
bool decode_public_key_into(const ParamSet& p, const std::uint8_t* bytes, T* out) {
    const std::uint64_t bad = decode_canonical(bytes, (p.k + 2) * p.n, static_cast<std::uint64_t>((p.q - 1) / 2), out);
    if (bad != 0 || out[0] != 1) return false;
    for (std::int64_t j = 1; j < p.n; ++j)
        if (out[j] != 0) return false;
    return true;
}

}  // namespace

bool decode_row_checked(const std::uint8_t* in, std::size_t count, std::int64_t bound, std::int64_t* coeffs) noexcept {
    return decode_canonical(in, static_cast<std::int64_t>(count), static_cast<std::uint64_t>(bound), coeffs) == 0;
}

bool decode_signature(const ParamSet& p, const std::uint8_t* bytes, std::int64_t* out) {
    return decode_canonical(bytes, (p.k + 2) * p.n, static_cast<std::uint64_t>((p.q - 1) / 2), out) == 0;
}

namespace {

// decode_canonical's flag for bytes that are only checked: decoded a block at
// a time into a scratch array, which is wiped (the bytes may be a secret key).
std::uint64_t canonical_flag(const std::uint8_t* bytes, std::int64_t count, std::uint64_t bound) noexcept {
    constexpr std::int64_t kBlock = 256;
    std::int64_t scratch[kBlock];
    std::uint64_t bad = 0;
    for (std::int64_t i = 0; i < count; i += kBlock)
        bad |= decode_canonical(bytes + 4 * i, std::min(kBlock, count - i), bound, scratch);
    secure_zero(scratch, sizeof scratch);
    return bad;
}

}  // namespace

bool public_key_bytes_ok(const ParamSet& p, const std::uint8_t* bytes) noexcept {
    if (bytes == nullptr) return false;
    // Entry 0 is exactly the encoded constant 1; the rest canonical residues.
    std::uint64_t bad = load_le32(bytes) != 1;
    for (std::int64_t j = 1; j < p.n; ++j) bad |= load_le32(bytes + 4 * j);
    bad |= canonical_flag(bytes + 4 * p.n, (p.k + 1) * p.n, static_cast<std::uint64_t>((p.q - 1) / 2));
    return bad == 0;
}

bool decode_public_key(const ParamSet& p, const std::uint8_t* bytes, std::vector<std::int64_t>& out) {
    out.resize(static_cast<std::size_t>((p.k + 2) * p.n));
    return decode_public_key_into(p, bytes, out.data());
}

bool load_public_entry_ntt(const ParamSet& p, const std::uint8_t* bytes, std::int64_t i, std::int32_t* out) noexcept {
    const NttTables& t = ntt_tables(p);
    const std::int64_t n = p.n;
    bool ok = ntt_load_bytes(t, out, bytes + 4 * i * n);  // a canonical centred residue
    if (i == 0) {
        ok &= out[0] == 1 && std::all_of(out + 1, out + n, [](std::int32_t c) { return c == 0; });
        std::fill(out, out + n, 1);
    } else {
        ntt_forward(t, out);
    }
    return ok;
}

bool decode_public_key_for_verify(const ParamSet& p, const std::uint8_t* bytes, PublicKey& pk) {
    const std::int64_t n = p.n, count = (p.k + 2) * p.n;
    pk.params = nullptr;
    pk.a.clear();
    pk.a_ntt.resize(static_cast<std::size_t>(count));
    std::int32_t* out = pk.a_ntt.data();
    // Each entry is checked as it loads, then transformed.
    bool ok = true;
    for (std::int64_t i = 0; i < p.k + 2; ++i) ok &= load_public_entry_ntt(p, bytes, i, out + i * n);
    if (!ok) return false;
    pk.params = &p;
    return true;
}

void encode_key_pair(const ParamSet& p, const PublicKey& pk, const SecretKey& sk, std::uint8_t* pk_out,
                     std::uint8_t* sk_out) noexcept {
    const auto kn = static_cast<std::size_t>(p.k * p.n);
    encode_row(pk.a.data(), pk.a.size(), pk_out);
    encode_row(sk.t0.data(), kn, sk_out);
    encode_row(sk.t1.data(), kn, sk_out + 4 * kn);
}

SecretKey decode_secret_key(const ParamSet& p, const std::uint8_t* bytes) {
    const auto kn = static_cast<std::size_t>(p.k * p.n);
    SecretBuffer<std::int64_t> t0(kn), t1(kn);
    const auto bound = static_cast<std::uint32_t>(trapdoor_coeff_bound(p));
    const std::uint64_t bad = decode_canonical(bytes, p.k * p.n, bound, t0.data()) |
                              decode_canonical(bytes + 4 * kn, p.k * p.n, bound, t1.data());
    if (bad != 0)
        throw Error(Errc::malformed_secret_key, "not a well-formed level-" + std::to_string(p.level) +
                                                    " secret key (a coefficient key generation cannot produce)");
    return make_secret_key(p, std::move(t0), std::move(t1));
}

SecretKey decode_secret_key_ntt(const ParamSet& p, const std::uint8_t* bytes) {
    const NttTables& t = ntt_tables(p);
    const auto kn = static_cast<std::size_t>(p.k * p.n);
    const auto bound = static_cast<std::int32_t>(trapdoor_coeff_bound(p));
    SecretBuffer<std::int32_t> t0(kn), t1(kn);
    // The form of every coefficient is checked while the rows load, and the
    // verdict taken once at the end (the buffers wipe themselves on a throw).
    bool canonical = true;
    for (std::int64_t i = 0; i < p.k; ++i) {
        const std::int64_t at = i * p.n;
        canonical &= ntt_load_bytes(t, t0.data() + at, bytes + 4 * at, bound);
        canonical &= ntt_load_bytes(t, t1.data() + at, bytes + 4 * (static_cast<std::int64_t>(kn) + at), bound);
        ntt_forward(t, t0.data() + at);
        ntt_forward(t, t1.data() + at);
    }
    if (!canonical)
        throw Error(Errc::malformed_secret_key, "not a well-formed level-" + std::to_string(p.level) +
                                                    " secret key (a coefficient key generation cannot produce)");
    return make_secret_key_ntt(p, std::move(t0), std::move(t1));
}

}  // namespace ringtrap::core
