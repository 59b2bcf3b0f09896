#include "BasicScheme.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "RandomGenerator.h"
#include "fft.h"
#include "scheme_core.h"
#include "util.h"

namespace ringtrap {

std::int64_t modulo = 0;
std::int64_t n = 0;
std::int64_t k = 0;
double r = 0.0;
double s = 0.0;
mat_poly_R* _a = nullptr;

namespace {
std::uint64_t g_generation = 0;
}  // namespace

std::uint64_t parameter_generation() noexcept { return g_generation; }

bool parameter_init(std::int32_t level) {
    const ParamSet* p = find_param_set(level);
    if (p == nullptr) return false;
    // modulo first: FFT_init reduces modulo it.
    modulo = p->q;
    n = p->n;
    k = p->k;
    r = p->r;
    s = p->s;
    FFT_init(p->log_n, p->psi, p->psi_inv, p->n_inv);
    ++g_generation;
    return true;
}

const ParamSet* current_param_set() {
    for (const ParamSet* p : {&kParams128, &kParams256})
        if (modulo == p->q && n == p->n && k == p->k && r == p->r && s == p->s) return p;
    return nullptr;
}

namespace {

const ParamSet& require_param_set() {
    const ParamSet* p = current_param_set();
    if (p == nullptr) throw std::logic_error("ringtrap: no parameter set selected (call parameter_init first)");
    return *p;
}

}  // namespace

void KeyGen(mat_poly_R* A, mat_poly_R* T0, mat_poly_R* T1) {
    const ParamSet& p = require_param_set();
    core::PublicKey pk;
    core::SecretKey sk;
    {
        const DrawLock lock;
        core::keygen(p, pk, sk);
    }
    *A = make_row(pk.a.data(), p.k + 2, p.n);
    *T0 = make_row(sk.t0.data(), p.k, p.n);
    *T1 = make_row(sk.t1.data(), p.k, p.n);
}

mat_poly_R Sign(const mat_poly_R& A, const mat_poly_R& T0, const mat_poly_R& T1, const std::uint8_t* message,
                std::uint64_t length) {
    const ParamSet& p = require_param_set();
    if (!is_row(A, p.k + 2, p.n) || !is_row(T0, p.k, p.n) || !is_row(T1, p.k, p.n))
        throw std::invalid_argument("Sign: A must be 1 x (k+2) and T0, T1 1 x k, with entries of n coefficients");
    const core::PublicKey pk = core::make_public_key(p, flatten_row(A));
    SecretBuffer<std::int64_t> t0(static_cast<std::size_t>(p.k * p.n)), t1(t0.size());
    flatten_row(T0, t0.data());
    flatten_row(T1, t1.data());
    const core::SecretKey sk = core::make_secret_key(p, std::move(t0), std::move(t1));
    std::vector<std::int64_t> x(static_cast<std::size_t>((p.k + 2) * p.n));
    {
        const DrawLock lock;
        core::sign(pk, sk, message, length, x.data());
    }
    return make_row(x.data(), p.k + 2, p.n);
}

std::int32_t Verify(const mat_poly_R& A, const mat_poly_R& x, const std::uint8_t* message, std::uint64_t length) {
    const ParamSet* p = current_param_set();
    if (p == nullptr || !is_row(A, p->k + 2, p->n) || !is_row(x, p->k + 2, p->n)) return 0;
    const core::PublicKey pk = core::make_public_key(*p, flatten_row(A));
    const std::vector<std::int64_t> xs = flatten_row(x);
    return core::verify(pk, xs.data(), message, length) ? 1 : 0;
}

}  // namespace ringtrap
