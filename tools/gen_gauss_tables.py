#!/usr/bin/env python3
"""Generates src/gauss_ct_tables.h: the cumulative tables and polynomial
coefficients of the constant-time Gaussian samplers (gauss_ct.cpp).

Standard library only; every value is computed with `decimal` at 80 digits and
rounded once at the end. Run from the repository root:

    python3 tools/gen_gauss_tables.py            # rewrites the header
    python3 tools/gen_gauss_tables.py --report   # also prints the precision report

The report gives, for each table, the cut tail, the statistical distance, the
largest ratio realised / ideal and the order-512 Renyi divergence of the base
distribution; then, for each sampler at its extreme widths and over a grid of
centres, a bound on E_D[eta^2] (eta = realised / ideal - 1) from the Bernoulli
trial's errors and the cut tails (docs/sampling.md explains the terms).

Tables. A half-Gaussian D+ on {0, 1, 2, ...} (P(z) proportional to rho(z)) is
realised with 96-bit integer weights: c_z = floor(2^96 P(z)) for z >= 1 (so
that no value is ever more likely than it should be), c_0 = 2^96 - sum of the
others (it absorbs every rounding remainder and the cut tail), and zmax the
last z with c_z > 0. The table holds the reverse cumulative thresholds
    T[i] = sum_{z > i} c_z,  i = 0 .. zmax - 1,
and a 96-bit uniform U gives z = #{i : U < T[i]}, so P(z) = c_z / 2^96 exactly.
Every value except 0 is at most as likely as in the ideal distribution and 0
is more likely by a relative 2^-90 at most (the report gives the exact figure),
so the realised probabilities never exceed the ideal ones by more than that
ratio: the Renyi divergence of any order, including infinity, stays below it.

Polynomial. 2^-f for f in [0, 1] is evaluated as a Taylor polynomial of
degree 13 in g = f - 1/2 around 2^-1/2: the remainder is below
(ln2/2)^14 / 14! < 2^-57.7 relative to 2^-f >= 1/2.
"""
import sys
from decimal import Decimal, getcontext
from fractions import Fraction

getcontext().prec = 80

LN2 = Decimal(2).ln()
TWO96 = 2 ** 96
SIGMA_BIN = (1 / (2 * LN2)).sqrt()
RENYI_ORDER = 512


def ideal_probs(weight):
    """The ideal probabilities P(0), P(1), ... until they are below 10^-60."""
    w = []
    z = 0
    while True:
        x = weight(z)
        if z > 0 and x < Decimal(10) ** -60:
            break
        w.append(x)
        z += 1
    total = sum(w)
    return [x / total for x in w]


def rcdt96(probs):
    counts = [int((p * TWO96).to_integral_value(rounding="ROUND_FLOOR")) for p in probs]
    while counts[-1] == 0:
        counts.pop()
    counts[0] = TWO96 - sum(counts[1:])
    thresholds = [sum(counts[i + 1:]) for i in range(len(counts) - 1)]
    return thresholds


def realised(thresholds):
    t = [TWO96] + thresholds + [0]
    return [Fraction(t[i] - t[i + 1], TWO96) for i in range(len(t) - 1)]


def table_report(name, ideal, thresholds):
    """Cut tail, statistical distance, the largest ratio realised / ideal and the
    order-512 Renyi divergence of the realised base distribution against the
    ideal (untruncated) one."""
    real = realised(thresholds)
    zmax = len(real) - 1
    tail = sum(ideal[zmax + 1:])
    sd = tail
    ra = Decimal(0)
    worst = Decimal(0)
    for p_real, p_ideal in zip(real, ideal):
        pr = Decimal(p_real.numerator) / Decimal(p_real.denominator)
        sd += abs(pr - p_ideal)
        worst = max(worst, pr / p_ideal - 1)
        ra += pr ** RENYI_ORDER / p_ideal ** (RENYI_ORDER - 1)
    sd /= 2
    ra_minus_1 = ra ** (Decimal(1) / (RENYI_ORDER - 1)) - 1
    lg = lambda d: float(d.ln() / LN2) if d > 0 else float('-inf')
    return (f"{name}: zmax = {zmax}, cut tail 2^{lg(tail):.1f}, SD 2^{lg(sd):.1f}, "
            f"max ratio - 1 = 2^{lg(worst):.1f}, R_512 - 1 = 2^{lg(ra_minus_1):.1f}")


def pow2m_poly(degree=13):
    """Coefficients c_k of 2^-f = sum c_k (f - 1/2)^k (Taylor at 1/2)."""
    base = Decimal(2) ** Decimal(-0.5)
    coeffs = []
    fact = Decimal(1)
    for k in range(degree + 1):
        if k > 0:
            fact *= k
        coeffs.append(base * (-LN2) ** k / fact)
    return coeffs


def sampler_report():
    """Bounds on E_D[eta^2] from the Bernoulli trials and cut tails (floats
    suffice: these are bounds, not table entries)."""
    import math
    ln2 = math.log(2)
    trial = 2.0 ** -50          # polynomial and rounding of the probability
    exponent = 2.0 ** -50       # relative rounding of the exponent t
    lines = []
    zbin = sum(2.0 ** -(x * x) for x in range(12))
    for s0, zmax in ((1.70, 19), (1.70 / 0.75, 25)):
        for ratio in (0.5, 0.75, 1.0):
            s = ratio * s0
            worst = 0.0
            for k in range(101):
                r = k / 100
                w = {z: math.exp(-(z - r) ** 2 / (2 * s * s)) for z in range(-80, 82)}
                tot = sum(w.values())
                e2 = 0.0
                for z, wz in w.items():
                    z0 = z - 1 if z >= 1 else -z
                    if z0 > zmax:
                        e2 += wz / tot  # cut: eta = -1
                        continue
                    t = ((z - r) ** 2 / (2 * s * s) - z0 * z0 / (2 * s0 * s0)) / ln2
                    # halvings beyond 31 shift the threshold: absolute error 2^-94
                    eta = trial + ln2 * t * exponent + (min(1.0, 2.0 ** (t - 94)) if t > 31 else 0.0)
                    e2 += wz / tot * eta * eta
                worst = max(worst, e2)
            lines.append(f"narrow, base {s0:.4f}, width {s:.4f}: E[eta^2] <= 2^{math.log2(worst):.1f}")
    for name, ccs, texp in (("centred", 1.0, lambda x: 1 + 2 * x),
                            ("wide", 0.97191 * (1 + 2 ** -6),
                             lambda x: (x + 1) ** 2 * (1 + 2 ** -6 + 0.8494 / 64) ** 2 - x * x + 2 ** -9)):
        e2 = 2.0 ** -100  # cut at x >= 10
        for x in range(10):
            t = texp(x)
            eta = trial + ln2 * t * exponent + 2.0 ** (t - 63) / ccs + 2.0 ** -74
            e2 += 2.0 ** -(x * x) / zbin * eta * eta
        lines.append(f"{name}: E[eta^2] <= 2^{math.log2(e2):.1f}")
    return lines


def fmt_double(d):
    return repr(float(d))


def main():
    report = '--report' in sys.argv
    tables = []
    specs = [
        ("kBinRcdt", "binary Gaussian: P(x) proportional to 2^(-x^2)",
         lambda z: Decimal(2) ** (-(z * z))),
        ("kBinSymRcdt", "|z| for z ~ D_{Z, sigma_bin}: P(0) proportional to 1, P(x) to 2 * 2^(-x^2) for x >= 1 "
         "(a fair sign bit on x >= 1 makes it symmetric)",
         lambda z: Decimal(1) if z == 0 else 2 * Decimal(2) ** (-(z * z))),
        ("kNarrowRcdt", "half-Gaussian of width 1.70",
         lambda z: (-(Decimal(z * z)) / (2 * Decimal('1.70') ** 2)).exp()),
        ("kNarrowWideRcdt", "half-Gaussian of width 1.70 / 0.75",
         lambda z: (-(Decimal(z * z)) / (2 * (Decimal('1.70') / Decimal('0.75')) ** 2)).exp()),
    ]
    lines = []
    for name, desc, weight in specs:
        probs = ideal_probs(weight)
        th = rcdt96(probs)
        tables.append((name, desc, len(th), th))
        lines.append(table_report(name, probs, th))

    out = []
    out.append("// Generated by tools/gen_gauss_tables.py: do not edit by hand.")
    out.append("//")
    out.append("// Reverse cumulative tables of the base samplers (96-bit thresholds,")
    out.append("// T[i] = sum of the weights of the values above i; a 96-bit uniform U gives")
    out.append("// z = #{i : U < T[i]})")
    out.append("// and the coefficients of 2^-f, f in [0, 1], in powers of (f - 1/2).")
    out.append("//")
    for l in lines:
        out.append("// " + l)
    out.append("#pragma once")
    out.append("")
    out.append("#include <cstdint>")
    out.append("")
    out.append("namespace ringtrap::gauss::detail {")
    out.append("")
    out.append("// A 96-bit threshold split as hi * 2^33 + lo with hi < 2^63 and lo < 2^33, so")
    out.append("// that both halves of a comparison are borrows of plain 64-bit subtractions.")
    out.append("struct Rcdt96 {")
    out.append("    std::uint64_t hi;")
    out.append("    std::uint64_t lo;")
    out.append("};")
    for name, desc, zmax, th in tables:
        out.append("")
        out.append(f"// {desc}; values 0 .. {zmax}.")
        out.append(f"inline constexpr Rcdt96 {name}[{len(th)}] = {{")
        for t in th:
            out.append(f"    {{0x{t >> 33:016x}u, 0x{t & (2**33 - 1):09x}u}},")
        out.append("};")
    coeffs = pow2m_poly()
    out.append("")
    out.append("// 2^-f = sum_k kPow2mPoly[k] (f - 1/2)^k for f in [0, 1] (Taylor, degree 13).")
    out.append(f"inline constexpr double kPow2mPoly[{len(coeffs)}] = {{")
    for c in coeffs:
        out.append(f"    {fmt_double(c)},")
    out.append("};")
    out.append("")
    out.append("}  // namespace ringtrap::gauss::detail")
    out.append("")
    with open("src/gauss_ct_tables.h", "w") as f:
        f.write("\n".join(out))
    if report:
        print("\n".join(lines))
        print("\n".join(sampler_report()))


if __name__ == "__main__":
    main()
