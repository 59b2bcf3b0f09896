// ringtrap_leakage: the key-free leakage statistic of a level's signatures as
// the number of signatures grows, as a table (CSV) and a plot (SVG).
//
//   ringtrap_leakage [--levels 128,S128] [--signatures 3000] [--csv FILE] [--svg FILE]
//
// For each level: one fresh key, N signatures of distinct messages, and at
// N = 50, 100, 200, 300, 500, 1000, 2000, ... the statistics of
// bench/leakage_stat.h (T of the autocorrelations of x0 and x1, of the cross
// correlations x0 x1* and x0 x2*, their noise level, and every entry's
// variance over s^2). The SVG plots T of x0 against N for every level on a
// log-log scale with the noise band of a key-independent sampler.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "leakage_stat.h"
#include "ringtrap.h"

namespace {

struct Row {
    std::string level;
    std::size_t n_sig;
    ringtrap::analysis::LeakageFigures f;
    double s2;
};

// 50, 100, 200, 300, 500, 1000, 2000, 3000, 5000, ... up to max, and max.
std::vector<std::size_t> checkpoints(std::size_t max) {
    std::vector<std::size_t> out;
    for (std::size_t decade = 10; decade <= max; decade *= 10)
        for (std::size_t mult : {5, 10, 20, 30})
            if (const std::size_t v = decade * mult; v <= max) out.push_back(v);
    out.push_back(max);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::vector<Row> run_level(ringtrap::Level level, std::size_t max) {
    const ringtrap::Parameters p = ringtrap::parameters(level);
    const ringtrap::KeyPair kp = ringtrap::generate_keypair(level);
    const ringtrap::SigningKey sk = ringtrap::SigningKey::from_bytes(kp.secret_key, kp.public_key);
    ringtrap::analysis::LeakageStatistic stat(static_cast<std::size_t>(p.n), static_cast<std::size_t>(p.k + 2));
    std::vector<Row> rows;
    const std::vector<std::size_t> marks = checkpoints(max);
    std::size_t next = 0;
    for (std::size_t i = 1; i <= max; ++i) {
        const std::string m = "leakage message " + std::to_string(i);
        const std::vector<std::int64_t> x =
            ringtrap::decode_signature(sk.sign(std::vector<std::uint8_t>(m.begin(), m.end())));
        stat.add(x.data());
        if (next < marks.size() && i == marks[next]) {
            rows.push_back(Row{ringtrap::level_name(level), i, stat.figures(), p.signature_sigma * p.signature_sigma});
            const auto& f = rows.back().f;
            std::fprintf(stderr, "%s N=%zu T(x0)=%.2f T(x1)=%.2f T(x0x1*)=%.2f T(x0x2*)=%.2f noise=%.3f\n",
                         rows.back().level.c_str(), i, f.auto0, f.auto1, f.cross01, f.cross02, f.noise);
            ++next;
        }
    }
    return rows;
}

void write_csv(const std::string& path, const std::vector<Row>& rows) {
    std::ofstream out(path);
    out << "level,signatures,T_x0,T_x1,T_x0x1,T_x0x2,noise_auto,noise_cross";
    std::size_t entries = 0;
    for (const Row& r : rows) entries = std::max(entries, r.f.variance.size());
    for (std::size_t e = 0; e < entries; ++e) out << ",var_x" << e << "_over_s2";
    out << "\n";
    for (const Row& r : rows) {
        out << r.level << ',' << r.n_sig << ',' << r.f.auto0 << ',' << r.f.auto1 << ',' << r.f.cross01 << ',' << r.f.cross02
            << ',' << r.f.noise << ',' << r.f.noise_cross;
        for (std::size_t e = 0; e < entries; ++e) out << ',' << (e < r.f.variance.size() ? r.f.variance[e] / r.s2 : 0.0);
        out << "\n";
    }
}

// T of x0 against N, log-log, one line per level, with the band 1 +- 3 noise.
void write_svg(const std::string& path, const std::vector<Row>& rows) {
    const double W = 640, H = 400, L = 70, R = 20, T = 40, B = 50;
    double max_n = 1, max_t = 2;
    for (const Row& r : rows) {
        max_n = std::max(max_n, static_cast<double>(r.n_sig));
        max_t = std::max(max_t, r.f.auto0);
    }
    const double lx0 = std::log10(40.0), lx1 = std::log10(max_n * 1.2);
    const double ly0 = std::log10(0.5), ly1 = std::log10(max_t * 1.5);
    auto X = [&](double n) { return L + (std::log10(n) - lx0) / (lx1 - lx0) * (W - L - R); };
    auto Y = [&](double t) { return H - B - (std::log10(std::max(t, 0.5)) - ly0) / (ly1 - ly0) * (H - T - B); };
    std::ostringstream s;
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s << "<text x=\"" << W / 2 << "\" y=\"22\" text-anchor=\"middle\" font-size=\"14\">Key-free leakage statistic "
         "T of x0 (1 = no leakage)</text>\n";
    // The noise band of a key-independent distribution, from the first row's noise.
    if (!rows.empty()) {
        const double noise = rows.front().f.noise;
        s << "<rect x=\"" << L << "\" y=\"" << Y(1 + 3 * noise) << "\" width=\"" << W - L - R << "\" height=\""
          << Y(std::max(1 - 3 * noise, 0.5)) - Y(1 + 3 * noise) << "\" fill=\"#dddddd\"/>\n";
    }
    // Axes with decade ticks.
    s << "<line x1=\"" << L << "\" y1=\"" << H - B << "\" x2=\"" << W - R << "\" y2=\"" << H - B << "\" stroke=\"black\"/>\n";
    s << "<line x1=\"" << L << "\" y1=\"" << T << "\" x2=\"" << L << "\" y2=\"" << H - B << "\" stroke=\"black\"/>\n";
    for (double n : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0})
        if (n <= max_n * 1.2)
            s << "<text x=\"" << X(n) << "\" y=\"" << H - B + 16 << "\" text-anchor=\"middle\">" << n << "</text>\n";
    for (double t : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0, 500.0})
        if (t <= max_t * 1.5)
            s << "<text x=\"" << L - 6 << "\" y=\"" << Y(t) + 4 << "\" text-anchor=\"end\">" << t << "</text>\n"
              << "<line x1=\"" << L << "\" y1=\"" << Y(t) << "\" x2=\"" << W - R << "\" y2=\"" << Y(t)
              << "\" stroke=\"#eeeeee\"/>\n";
    s << "<text x=\"" << W / 2 << "\" y=\"" << H - 12 << "\" text-anchor=\"middle\">signatures of one key</text>\n";
    const char* colours[] = {"#c0392b", "#2471a3", "#1e8449", "#7d3c98"};
    std::vector<std::string> levels;
    for (const Row& r : rows)
        if (std::find(levels.begin(), levels.end(), r.level) == levels.end()) levels.push_back(r.level);
    for (std::size_t li = 0; li < levels.size(); ++li) {
        s << "<polyline fill=\"none\" stroke-width=\"2\" stroke=\"" << colours[li % 4] << "\" points=\"";
        for (const Row& r : rows)
            if (r.level == levels[li]) s << X(static_cast<double>(r.n_sig)) << ',' << Y(r.f.auto0) << ' ';
        s << "\"/>\n<text x=\"" << L + 12 << "\" y=\"" << T + 18 + 16 * static_cast<double>(li) << "\" fill=\""
          << colours[li % 4] << "\">level " << levels[li] << "</text>\n";
    }
    s << "<text x=\"" << L + 12 << "\" y=\"" << T + 18 + 16 * static_cast<double>(levels.size())
      << "\" fill=\"#777777\">grey: 1 &#177; 3 standard deviations (no leakage)</text>\n";
    s << "</svg>\n";
    std::ofstream(path) << s.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<ringtrap::Level> levels{ringtrap::Level::L128, ringtrap::Level::S128};
    std::size_t max = 3000;
    std::string csv = "leakage.csv", svg;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const std::string v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--levels") {
            levels.clear();
            std::stringstream list(v);
            for (std::string item; std::getline(list, item, ',');) {
                const auto level = ringtrap::level_from_name(item);
                if (!level) {
                    std::cerr << "ringtrap_leakage: unknown level '" << item << "'\n";
                    return 2;
                }
                levels.push_back(*level);
            }
            ++i;
        } else if (a == "--signatures") {
            max = static_cast<std::size_t>(std::strtoull(v.c_str(), nullptr, 10));
            ++i;
        } else if (a == "--csv") {
            csv = v;
            ++i;
        } else if (a == "--svg") {
            svg = v;
            ++i;
        } else {
            std::cerr << "usage: ringtrap_leakage [--levels 128,S128] [--signatures N] [--csv FILE] [--svg FILE]\n";
            return 2;
        }
    }
    if (max < 50) max = 50;
    std::vector<Row> rows;
    for (const ringtrap::Level level : levels) {
        std::vector<Row> r = run_level(level, max);
        rows.insert(rows.end(), r.begin(), r.end());
    }
    write_csv(csv, rows);
    if (!svg.empty()) write_svg(svg, rows);
    return 0;
}
