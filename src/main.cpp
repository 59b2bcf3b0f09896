#include <string>
#include <vector>

#include "cli.h"
#include "demo.h"

int main(int argc, char** argv) {
    // Without arguments the program performs its demonstration run.
    if (argc <= 1) return ringtrap::run_demonstration();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return ringtrap::cli::run_tool(args);
}
