#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time, starting
# from the committed seed corpus. A crash, a sanitizer report, a leak, a
# timeout or a broken check fails the run; the input that caused it is left in
# $BUILD/artifacts/TARGET/. Commit every such input to tests/fuzz/corpus/TARGET/
# so that it is replayed on every later run.
#
# Usage: tests/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET [TARGET...]]
#   SECONDS_PER_TARGET  default 40
#   TARGET              sig_verf, api_verify, api_sign, cli (default: all)
# Environment: RINGTRAP_FUZZ_BUILD (build folder, default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-40}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(sig_verf api_verify api_sign cli)
build=${RINGTRAP_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRINGTRAP_FUZZ=ON -DRINGTRAP_BUILD_TESTS=OFF -DRINGTRAP_BUILD_BENCH=OFF -DRINGTRAP_WERROR=ON >/dev/null
cmake --build "$build" --target fuzz_targets -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=()
for target in "${targets[@]}"; do
  exe="$build/fuzz_$target"
  if [ ! -x "$exe" ]; then
    echo "run_fuzzers: $exe was not built (is clang's libFuzzer runtime installed?)" >&2
    exit 1
  fi
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/fuzz_$target.log"
  mkdir -p "$work" "$artifacts"
  extra=()
  [ -f "tests/fuzz/$target.dict" ] && extra+=("-dict=tests/fuzz/$target.dict")
  echo "== fuzz_$target: ${seconds}s =="
  # New inputs go to the first (scratch) corpus folder; the committed corpus is
  # only read, and every file in it (seeds and past crashes) runs first.
  if "$exe" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "${extra[@]}" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 60 "$log" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  summary+=("$(printf '%-12s %-6s %10s inputs in %ss' "$target" "$result" "${execs:-?}" "$seconds")")
done

echo "== fuzzing summary =="
printf '%s\n' "${summary[@]}"
exit $status
