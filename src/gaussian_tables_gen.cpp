// Build-time generator of the Gaussian tables: writes a C++ source defining
// the built-in BoxMuller tables, every entry computed by the scalar
// expressions of gaussian_tables.cpp (compiled with the library's compiler,
// flags and libm) and printed as an exact hexadecimal literal. A process that
// samples then finds the tables ready in its read-only data instead of
// spending 65536 cos, log and sqrt evaluations at start-up.
//
//   ringtrap_gen_tables OUTPUT.cpp
#include <cmath>
#include <cstdio>

#include "gaussian_tables.h"

namespace ringtrap::gaussian_tables {
namespace {

// A literal that reads back as exactly v: hexadecimal floating point, or the
// infinity of radius(0).
void print_value(std::FILE* out, double v) {
    if (std::isinf(v))
        std::fputs(v > 0 ? "HUGE_VAL" : "-HUGE_VAL", out);
    else
        std::fprintf(out, "%a", v);
}

void print_table(std::FILE* out, double (*entry)(int)) {
    std::fputs("    {", out);
    for (int i = 0; i < static_cast<int>(kDrawValues); ++i) {
        std::fputs(i % 4 == 0 ? "\n        " : " ", out);
        print_value(out, entry(i));
        std::fputc(',', out);
    }
    std::fputs("\n    },\n", out);
}

}  // namespace

int write_tables(const char* path) {
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) {
        std::perror(path);
        return 1;
    }
    std::fputs("// Generated at build time by ringtrap_gen_tables; do not edit.\n"
               "#include <cmath>\n\n#include \"gaussian_tables.h\"\n\n"
               "namespace ringtrap::gaussian_tables {\n\n"
               "extern const BoxMuller kBuiltinBoxMuller;\n"
               "const BoxMuller kBuiltinBoxMuller = {\n",
               out);
    print_table(out, angle_cos_scalar);
    print_table(out, radius_scalar);
    std::fputs("};\n\n}  // namespace ringtrap::gaussian_tables\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace ringtrap::gaussian_tables

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ringtrap_gen_tables OUTPUT.cpp\n", stderr);
        return 2;
    }
    return ringtrap::gaussian_tables::write_tables(argv[1]);
}
