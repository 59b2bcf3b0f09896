#include "BasicScheme.h"

#include "fft.h"

namespace ringtrap {

std::int64_t modulo = 0;
std::int64_t n = 0;
std::int64_t k = 0;
double r = 0.0;
double s = 0.0;
mat_poly_R* _a = nullptr;

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
    return true;
}

const ParamSet* current_param_set() {
    for (const ParamSet* p : {&kParams128, &kParams256})
        if (modulo == p->q && n == p->n && k == p->k && r == p->r && s == p->s) return p;
    return nullptr;
}

}  // namespace ringtrap
