#!/usr/bin/env bash
# Fuzzing: every libFuzzer target for a bounded time under ASan and UBSan,
# starting from the committed corpus (seeds and every crash ever found). Any
# crash fails CI; the input is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec tests/fuzz/run_fuzzers.sh "${RINGTRAP_FUZZ_SECONDS:-35}"
