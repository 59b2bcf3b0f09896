// Perturbation sampler and the recursive field sampler beneath it.
//
// The perturbation p (k + 2 ring elements) is drawn before the gadget stage of
// signing: a long part G of k entries with a plain spherical width, then two
// short entries whose covariance and centres come from the trapdoor rows and G.
//
// Two layers: the record operations (Sample_FZ, Sample_2Z, Sample_P), which
// follow the process-wide conventions, and the explicit-parameter interfaces
// below them (plan_field_sampler / sample_field, PerturbationKey /
// sample_perturbation), which read no global, allocate little and are what
// signing uses. Both draw the same values in the same order.
#pragma once

#include <cstdint>
#include <vector>

#include "common.h"
#include "ntt.h"
#include "params.h"
#include "secret.h"

namespace ringtrap {

// ---------------------------------------------------------------------------
// Recursive field sampler
// ---------------------------------------------------------------------------

// Draws an integer vector of length L = f.len around the centre c for the
// covariance polynomial f (length L; c should have at least L coefficients,
// missing ones count as 0.0). The recursion splits f and c into even and odd
// halves, odd half first, until the covariance is constant; each leaf draws
// its coefficient 0 with Oracle_1 at width sqrt(f[0]), or 0.0 when f[0] is
// negative or NaN. Undrawn coefficients are 0; results are not reduced.
// Takes at most L samples. An empty f gives an empty result and no draw.
poly_R Sample_FZ(poly_K f, poly_K c);

// Draws the pair (q0, q1) for the block covariance [[a, b], [b*, d]] around
// the centres c = (c0, c1) (a 1 x 2 matrix; a missing entry counts as a zero
// centre): q1 = Sample_FZ(d, c1) first, then q0 = Sample_FZ(a, c0). b is not
// read. Returns a 1 x 2 matrix (q0, q1).
mat_poly_R Sample_2Z(poly_K a, poly_K b, poly_K d, mat_poly_K c);

// What the field sampler does for a power-of-two length L, computed once from
// the covariance: the leaves sit at `depth` (the smallest j at which every
// f[m 2^j], 1 <= m < L / 2^j, equals 0.0; NaN counts as non-zero) and all draw
// with `width`. depth < 0 marks an unusable plan.
struct FieldSamplerPlan {
    int depth = -1;
    double width = 0.0;
};

// The plan for covariance f (L coefficients). L must be a power of two (>= 1);
// otherwise, or for a null f, the plan has depth -1.
[[nodiscard]] FieldSamplerPlan plan_field_sampler(const double* f, std::int64_t L);

// Draws exactly what Sample_FZ draws for a covariance with this plan and the
// centre `centre` (L coefficients): for m = 2^depth - 1 down to 0, with i the
// depth-bit reversal of m, out[i] = Oracle_1(centre[i], width); every other
// out[i] (i < L) is 0. O(L) work, no allocation. Returns false, writing and
// drawing nothing, for an unusable plan, a plan deeper than L allows, or L not
// a power of two. out must not alias centre.
[[nodiscard]] bool sample_field(const FieldSamplerPlan& plan, const double* centre, std::int64_t L, std::int64_t* out);

// ---------------------------------------------------------------------------
// Perturbation sampler
// ---------------------------------------------------------------------------

// Draws the perturbation p for the trapdoor (T0, T1) (each 1 x k, entries of
// length n_). Returns a 1 x (k + 2) matrix: entry 0 drawn around the centre
// from T1 G with block a = s_^2 - zeta T1 T1, entry 1 around the centre from
// T0 G with block d = s_^2 - zeta T0 T0 (drawn first), entries 2 .. k+1 the
// long part G (drawn before both), where rho = 3 r_ and
// zeta = 1 / (1/rho^2 - 1/s_^2). k is the global gadget length; the products
// are taken modulo the global `modulo` (q is accepted for the caller's record
// and not otherwise read). Requires s_ > rho.
//
// When the current transform tables cover n_ and T0, T1 have the expected
// shape, this runs on sample_perturbation. Otherwise it follows the same steps
// on the record operations, reading missing coefficients as 0, so mismatched
// shapes give a well-defined (if meaningless) result instead of stray reads.
mat_poly_R Sample_P(std::int64_t n_, std::int64_t q, double s_, double r_, const mat_poly_R& T0, const mat_poly_R& T1);

// The widths the perturbation sampler derives from s and r: rho = 3 r, the
// scale zeta = 1 / (1/rho^2 - 1/s^2) of the short blocks, the centre
// denominator s^2 - rho^2 and the width sqrt(s^2 - rho^2) of the long part.
// One formula for both the record path and prepared keys.
struct PerturbationWidths {
    double rho = 0.0;
    double zeta = 0.0;
    double centre_denom = 0.0;
    double long_width = 0.0;
};
PerturbationWidths perturbation_widths(double s_, double r_);

// Everything the perturbation sampler needs that depends only on the key:
// the trapdoor rows in the transform domain and the plans of the two short
// blocks. Secret: held in secret buffers, so a key is wiped on destruction,
// on reassignment and when moved from. Move-only. Refers to the transform
// tables it was made with, which must outlive it (those of ntt_tables() live
// for the whole process).
struct PerturbationKey {
    const NttTables* tables = nullptr;   // null: not a usable key
    std::int64_t degree = 0;             // n
    std::int64_t gadget_len = 0;         // k
    double rho = 0.0;                    // 3 r
    double centre_denom = 0.0;           // s^2 - rho^2
    double long_width = 0.0;             // sqrt(s^2 - rho^2), width of G
    SecretBuffer<FieldSamplerPlan> plans;  // [0]: block s^2 - zeta T1 T1 (entry 0); [1]: s^2 - zeta T0 T0 (entry 1)
    SecretBuffer<std::int32_t> t0_ntt;     // k n, entry-major, ntt_forward output
    SecretBuffer<std::int32_t> t1_ntt;     // k n, entry-major, ntt_forward output

    const FieldSamplerPlan& plan_a() const noexcept { return plans[0]; }
    const FieldSamplerPlan& plan_d() const noexcept { return plans[1]; }

    // True when made by prepare_perturbation_key from usable inputs (and not
    // since moved from).
    [[nodiscard]] bool valid() const noexcept;
};

// Key of a built-in parameter set (its n, k, s, r). T0 and T1 must be 1 x k
// rows with entries of length n; otherwise the key is not valid().
[[nodiscard]] PerturbationKey prepare_perturbation_key(const ParamSet& p, const mat_poly_R& T0, const mat_poly_R& T1);
// The same from flat rows of k n coefficients each (coefficient j of entry i at
// i n + j); any 64-bit values, reduced here. Null rows give an invalid key.
[[nodiscard]] PerturbationKey prepare_perturbation_key(const ParamSet& p, const std::int64_t* t0, const std::int64_t* t1);
// The same with explicit tables (n = tables.n), gadget length and widths s_
// and r_, for callers that are not on a built-in parameter set. gadget_len < 1
// or null rows give an invalid key.
[[nodiscard]] PerturbationKey prepare_perturbation_key(const NttTables& tables, std::int64_t gadget_len, double s_,
                                                       double r_, const std::int64_t* t0, const std::int64_t* t1);

// The same from rows already in the transform domain (k n values each in
// (-q, q), entry-major, as ntt_forward leaves them), which the key takes over;
// rows of the wrong size give an invalid key.
[[nodiscard]] PerturbationKey prepare_perturbation_key_ntt(const NttTables& tables, std::int64_t gadget_len, double s_,
                                                           double r_, SecretBuffer<std::int32_t> t0_ntt,
                                                           SecretBuffer<std::int32_t> t1_ntt);

// Draws a perturbation with exactly the values and draw order of Sample_P for
// the same key: writes (k + 2) n coefficients to p_out, entry-major (entry i,
// coefficient j at i n + j). When g_ntt is not null it also receives the long
// part G (entries 2 .. k+1) in the transform domain: k n values in (-q, q), each
// entry as ntt_forward leaves it after ntt_load. Reads no global; the caller
// serialises access to the draw source (DrawLock). Returns false, writing and
// drawing nothing, for an invalid key or a null p_out. p_out and g_ntt must
// not overlap.
[[nodiscard]] bool sample_perturbation(const PerturbationKey& key, std::int64_t* p_out, std::int32_t* g_ntt);

}  // namespace ringtrap
