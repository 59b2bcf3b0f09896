"""Checks of tools/estimate.py against independent computations.

Monte Carlo tolerances: a proportion estimated from N trials has standard error
at most sqrt(0.25 / N); a mean of R samples of standard deviation sd has sd / sqrt(R).
Every statistical check allows 4.5 standard errors (two-sided, false alarm
below 1e-5) and uses a fixed seed, so a run is reproducible."""
import cmath
import math
import pathlib
import random
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import estimate as E  # noqa: E402


class LatticeModel(unittest.TestCase):
    def test_block_sizes_are_the_smallest_over_every_dimension(self):
        # The estimator looks only next to the analytic optimum of d (or m_s);
        # an exhaustive scan must agree: success at b, failure at b - 1.
        def forgery_ok(b, n, q, m, beta):
            return any(d * E.log_delta(b) + n * math.log(q) / d <= math.log(beta) for d in range(1, m + 1))

        def primal_ok(b, n, q, sigma):
            return any(math.log(math.sqrt(b) * sigma) <= (2 * b - n - ms - 2) * E.log_delta(b)
                       + ms * math.log(q) / (n + ms + 1) for ms in range(1, n + 1))
        for n, q, k, sigma, beta in [(512, 16770049, 24, 45.25, 7.766e6), (1024, 249857, 18, 0.8493, 138025.0),
                                     (256, 7681, 2, 3.0, 2000.0)]:
            with self.subTest(n=n, q=q):
                m = (k + 2) * n
                b = E.forgery_block(n, q, m, beta)
                self.assertTrue(forgery_ok(b, n, q, m, beta) and not forgery_ok(b - 1, n, q, m, beta))
                b = E.primal_block(n, q, sigma)
                self.assertTrue(primal_ok(b, n, q, sigma) and not primal_ok(b - 1, n, q, sigma))


class SamplerConstants(unittest.TestCase):
    def test_gadget_rho_matches_power_iteration_on_the_dense_matrix(self):
        for base, k in ((2, 1), (2, 2), (2, 18), (2, 31), (4, 2), (4, 9), (4, 11), (8, 5)):
            s = [[float(base) if i == j else -1.0 if i == j + 1 else 0.0 for j in range(k)] for i in range(k)]
            sst = [[sum(s[i][t] * s[j][t] for t in range(k)) for j in range(k)] for i in range(k)]
            v = [1.0 + i / k for i in range(k)]
            for _ in range(4000):
                w = [sum(sst[i][j] * v[j] for j in range(k)) for i in range(k)]
                lam = math.sqrt(sum(x * x for x in w))
                v = [x / lam for x in w]
            with self.subTest(base=base, k=k):
                self.assertAlmostEqual(E.gadget_rho(1.7, k, base), 1.7 * math.sqrt(lam + 0.25), places=9)
                self.assertLess(lam, (base + 1) ** 2)

    def test_smoothing_parameter(self):
        self.assertAlmostEqual(E.smoothing_sd(2.0 ** -80), 1.6865, places=4)

    def test_s1_distribution_matches_real_evaluations(self):
        # Integer trapdoors from D_{Z, sigma}, evaluated at the n/2 roots
        # exp(i pi (2j+1)/n), pass the model's median bound at the model's rate
        # (N = 1500: 4.5 standard errors = 0.058). So does the Bartlett simulation.
        n, k, sigma, trials, rng = 16, 3, 2 * E.SIGMA_BIN, 1500, random.Random(11)
        bound = E.s1_bound(n, k, sigma, 0.5)
        rate = E.s1_pass_rate(n, k, sigma, bound)
        support = range(-12, 13)
        cum, total = [], 0.0
        for x in support:
            total += math.exp(-x * x / (2 * sigma * sigma))
            cum.append(total)
        roots = [cmath.exp(1j * math.pi * (2 * j + 1) / n) for j in range(n // 2)]
        passed = 0
        for _ in range(trials):
            rows = [rng.choices(support, cum_weights=cum, k=n) for _ in range(2 * k)]
            ev = [[sum(c * z ** e for e, c in enumerate(row)) for z in roots] for row in rows]
            top = 0.0
            for t in range(n // 2):
                a = sum(abs(ev[i][t]) ** 2 for i in range(k))
                d = sum(abs(ev[k + i][t]) ** 2 for i in range(k))
                c = abs(sum(ev[i][t] * ev[k + i][t].conjugate() for i in range(k)))
                top = max(top, (a + d) / 2 + math.sqrt(((a - d) / 2) ** 2 + c * c))
            passed += math.sqrt(top) <= bound
        self.assertLess(abs(passed / trials - rate), 4.5 * math.sqrt(0.25 / trials))
        sims = E.simulate_s1(n, k, sigma, 4000, random.Random(12))
        self.assertLess(abs(sum(x <= bound for x in sims) / 4000 - rate), 4.5 * math.sqrt(0.25 / 4000))

    def test_compressed_size_matches_encoding_random_signatures(self):
        # R = 300 encodings of m = 2000 coordinates; the mean is within
        # 4.5 sd / sqrt(R) (+1 byte for the rounding up of each size).
        s, m, rng, reps = 37.5, 2000, random.Random(13), 300
        low = int(math.log2(s))
        sizes = [40 + math.ceil(sum(2 + low + (abs(round(rng.gauss(0, s))) >> low) for _ in range(m)) / 8)
                 for _ in range(reps)]
        mean, sd = E.compressed_size(s, m)
        self.assertLess(abs(sum(sizes) / reps - mean), 4.5 * sd / math.sqrt(reps) + 1)


class ParameterSets(unittest.TestCase):
    def test_moduli(self):
        for n, k, base in ((1024, 18, 2), (2048, 19, 2), (512, 24, 2), (1024, 9, 4), (2048, 11, 4)):
            q, top = E.largest_modulus(n, k, base), base ** k
            with self.subTest(n=n, k=k, base=base):
                self.assertTrue(E.is_prime(q) and q % (2 * n) == 1 and 3 * top <= 4 * q and q < top)
                self.assertEqual(E.digits(q, base), k)
                self.assertFalse(any(E.is_prime(x) for x in range(q + 2 * n, top, 2 * n)))
        self.assertEqual([x for x in range(50) if E.is_prime(x)], [3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47])

    def test_params_h_parsing(self):
        sets = E.parse_params_h(ROOT / "src" / "params.h")
        self.assertEqual([(p["level"], p["n"], p["q"], p["k"]) for p in sets],
                         [(128, 512, 16770049, 24), (256, 1024, 268369921, 28), (128, 1024, 249857, 9),
                          (256, 2048, 4169729, 11)])
        self.assertEqual([p.get("name") for p in sets[2:]], ["S128", "S256"])
        header = ("struct P {\n  int a;  // {, }\n  const char* name;\n  double x;\n"
                  "  constexpr int f() const { return a; }\n};\n"
                  'inline constexpr P kOne{3, "one", -2.5};\ninline constexpr P kTwo{.a = -4, .name = "two", .x = 1e3};\n'
                  "inline constexpr P kBad{.a = 1, .x = 2.0};\n")
        with tempfile.TemporaryDirectory() as tmp:
            path = pathlib.Path(tmp) / "p.h"
            path.write_text(header)
            with self.assertRaises(SystemExit):
                E.parse_params_h(path)
            path.write_text(header.rsplit("inline", 1)[0])
            self.assertEqual(E.parse_params_h(path), [dict(a=3, name="one", x=-2.5), dict(a=-4, name="two", x=1e3)])

    def test_params_h_sets_are_what_the_design_rules_give(self):
        sets = [p for p in E.parse_params_h(ROOT / "src" / "params.h") if "K_T" in p]
        for p in sets:
            want = E.design(p["name"], p["level"], p["n"], p["q"], p["K_T"], p["base"], p["r"])
            with self.subTest(name=p["name"]):
                self.assertEqual(set(p), set(want))
                for field, value in want.items():
                    self.assertAlmostEqual(p[field], value, places=9, msg=field) if isinstance(value, float) \
                        else self.assertEqual(p[field], value, field)

    def test_check_catches_each_broken_constant(self):
        sets = [E.evaluate(p) for p in E.parse_params_h(ROOT / "src" / "params.h")]
        for p in sets:
            if p["kind"] == "new":
                self.assertEqual(E.problems(p, sets), [])
        s128 = next(p for p in sets if p["name"] == "S128")
        cases = [("beta_squared", s128["beta_squared"] + 1, "beta_squared"), ("s1_max", s128["s1_max"] - 4, "s1_max"),
                 ("K_w", s128["K_w"] + 1, "smallest"), ("K_w", s128["K_w"] - 1, "smallest"),
                 ("psi", s128["psi"] + 1, "psi"), ("n_inv", s128["n_inv"] + s128["q"], "n_inv"),
                 ("q", s128["q"] + 2048, "prime"), ("signature_bytes", s128["signature_bytes"] - 120, "8 sd"),
                 ("tau", 1.02, "too often"), ("rho", s128["rho"] * (1 + 1e-9), "rho"), ("level", 200, "target"),
                 ("base", 3, "power of two"), ("base", 2, "k, log_n"), ("low_bits", 9, "low_bits"),
                 ("signature_bytes", 53248, "coincides")]
        for field, value, message in cases:
            with self.subTest(field=field, value=value):
                bad = E.evaluate(dict(s128, **{field: value}))
                self.assertTrue(any(message in x for x in E.problems(bad, sets)), E.problems(bad, sets))
        # S256 at k = 10 would have the public key size of the level-128 secret key.
        s256 = next(p for p in sets if p["name"] == "S256")
        k10 = E.evaluate(E.design("S256", 256, 2048, E.largest_modulus(2048, 10, 4), 1, 4))
        self.assertEqual(k10["pk"], 98304)
        self.assertTrue(any("coincides" in x for x in E.problems(k10, sets)))
        self.assertEqual(E.problems(s256, sets), [])


if __name__ == "__main__":
    unittest.main()
