#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "cli.h"
#include "demo.h"

int main(int argc, char** argv) {
    // Without arguments the program performs its demonstration run.
    if (argc <= 1) return ringtrap::run_demonstration();
#if defined(__GLIBC__)
    // A batch allocates and frees a signature-sized buffer or two per file on
    // every worker. With the C library's defaults each free hands the pages
    // back (madvise), and the next file faults them in again, with a TLB
    // shoot-down across the workers each time: half the time of a batch of
    // small files. Keep freed memory up to 16 MiB per arena, and take blocks
    // up to 4 MiB (messages included) from the heap rather than mmap.
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    return ringtrap::cli::run_tool(args);
}
