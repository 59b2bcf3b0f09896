#include "fft.h"

#include <memory>
#include <vector>

#include "BasicScheme.h"
#include "ntt.h"
#include "util.h"

namespace ringtrap {

std::int32_t* rev = nullptr;
std::int64_t* roots = nullptr;
std::int64_t* inv_roots = nullptr;
std::int64_t _n = 0;

namespace {

// Storage behind the global table pointers; replaced by every FFT_init.
struct TransformState {
    std::vector<std::int32_t> rev;
    std::vector<std::int64_t> roots;
    std::vector<std::int64_t> inv_roots;
    std::int64_t q = 0;
    // Present when the tables describe a valid negacyclic transform modulo an
    // odd q < 2^31 (always so for the built-in sets); FFT_R then takes the fast
    // exact path, otherwise it runs the plain algorithm on the tables as given.
    std::unique_ptr<NttTables> fast;
};

TransformState& state() {
    static TransformState st;
    return st;
}

bool tables_are_consistent(std::int64_t q, std::int32_t L, std::int64_t psi, std::int64_t psi_inv, std::int64_t n_inv) {
    if (q <= 2 || q % 2 == 0 || q >= (std::int64_t{1} << 31) || L < 1 || L > 20) return false;
    const std::int64_t len = std::int64_t{1} << L;
    if (mul_mod(psi, psi_inv, q) != 1) return false;
    if (mul_mod(len, n_inv, q) != 1) return false;
    // psi must have order exactly 2n: psi^n = -1.
    return pow_mod(psi, len, q) == q - 1;
}

// The transform exactly as defined on the tables: bit-reversed load, radix-2
// butterflies with twiddles derived by repeated multiplication, truncating
// remainders. Used only when the tables are not a valid fast-path setup.
void fft_r_plain(const std::int64_t* input, std::int64_t* output, std::int32_t len, std::int32_t direction) {
    const std::int64_t q = modulo;
    std::vector<std::int64_t> S(static_cast<std::size_t>(len));
    for (std::int32_t i = 0; i < len; ++i) S[static_cast<std::size_t>(i)] = input[rev[i]];
    std::int32_t j = 0;
    for (std::int32_t m = 1; m < len; m *= 2, ++j) {
        const std::int64_t base = direction == 1 ? roots[j] : inv_roots[j];
        const std::int64_t ws = (base * base) % q;
        for (std::int32_t st = 0; st < len; st += 2 * m) {
            std::int64_t w = direction == 1 ? roots[j] : 1;
            for (std::int32_t t = 0; t < m; ++t) {
                const std::int64_t u = S[static_cast<std::size_t>(st + t)];
                const std::int64_t v = (S[static_cast<std::size_t>(st + t + m)] * w) % q;
                S[static_cast<std::size_t>(st + t)] = (u + v) % q;
                S[static_cast<std::size_t>(st + t + m)] = (u - v) % q;
                w = (w * ws) % q;
            }
        }
    }
    std::int64_t tw = 1;
    for (std::int32_t i = 0; i < len; ++i) {
        std::int64_t y = S[static_cast<std::size_t>(i)];
        if (direction == -1) {
            y = (y * tw) % q;
            y = (y * _n) % q;
            tw = (inv_roots[j - 1] * tw) % q;
        }
        output[i] = centred_mod(y, q);
    }
}

}  // namespace

void FFT_init(std::int32_t L, std::int64_t psi, std::int64_t psi_inv, std::int64_t n_inv) {
    TransformState& st = state();
    const std::int64_t q = modulo;
    const std::size_t len = L >= 0 && L < 31 ? std::size_t{1} << L : 0;
    if (len > 0) st.rev = bit_reversal_table(L);
    else st.rev.clear();
    const std::size_t count = L > 0 ? static_cast<std::size_t>(L) : 0;
    st.roots.assign(count, 0);
    st.inv_roots.assign(count, 0);
    if (count > 0) {
        st.roots[count - 1] = psi;
        st.inv_roots[count - 1] = psi_inv;
        for (std::size_t i = 1; i < count; ++i) {
            st.roots[count - 1 - i] = (st.roots[count - i] * st.roots[count - i]) % q;
            st.inv_roots[count - 1 - i] = (st.inv_roots[count - i] * st.inv_roots[count - i]) % q;
        }
    }
    st.q = q;
    st.fast.reset();
    if (tables_are_consistent(q, L, psi, psi_inv, n_inv)) st.fast = std::make_unique<NttTables>(q, L, psi);
    rev = st.rev.data();
    roots = st.roots.data();
    inv_roots = st.inv_roots.data();
    _n = n_inv;
}

void FFT_R(const std::int64_t* input, std::int64_t* output, std::int32_t len, std::int32_t direction) {
    if (direction != 1 && direction != -1) return;
    const TransformState& st = state();
    if (!st.fast || st.q != modulo || len != st.fast->n) {
        if (rev == nullptr || modulo <= 0 || len <= 0 || static_cast<std::size_t>(len) != st.rev.size()) return;
        fft_r_plain(input, output, len, direction);
        return;
    }
    const NttTables& t = *st.fast;
    std::vector<std::int32_t> a(static_cast<std::size_t>(len));
    if (direction == 1) {
        ntt_load(t, a.data(), input);
        ntt_forward(t, a.data());
        // Bit-reversed evaluation order to natural order.
        for (std::int32_t i = 0; i < len; ++i) output[i] = centre(a[static_cast<std::size_t>(t.brv[static_cast<std::size_t>(i)])], t.q);
    } else {
        for (std::int32_t i = 0; i < len; ++i) a[static_cast<std::size_t>(t.brv[static_cast<std::size_t>(i)])] = reduce64(input[i], t.q);
        ntt_inverse(t, a.data(), false);
        ntt_store_centred(t, output, a.data());
    }
}

const NttTables* current_ntt_tables() {
    const TransformState& st = state();
    return st.fast && st.q == modulo ? st.fast.get() : nullptr;
}

}  // namespace ringtrap
