#!/usr/bin/env bash
# Whole-process timing of the command-line tool, as a script that calls
# `ringtrap sign` or `ringtrap verify` once per file sees it: start-up, reading
# the keys and the file, the operation, writing the signature.
#
#   bench/cli_timing.sh [PROGRAM] [RUNS] [LEVEL]
#
# PROGRAM defaults to build-bench/ringtrap (make bench's build), RUNS to 200,
# LEVEL to 128. Prints, for sign and verify of a 1 KiB file, the median and
# the spread (10th and 90th percentiles, minimum and maximum) of the wall-clock
# time per process in milliseconds, and the load average of the machine, which
# is shared. Uses hyperfine when it is installed, otherwise a loop timed with
# bash's EPOCHREALTIME (no extra process inside the measured interval; `date
# +%s%N` where bash is older than 5).
set -euo pipefail

prog=${1:-build-bench/ringtrap}
runs=${2:-200}
level=${3:-128}
[ -x "$prog" ] || { echo "cli_timing: no program at $prog (build it first, e.g. make bench)" >&2; exit 2; }
prog=$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$prog" keygen --level "$level" --public-key k.pk --secret-key k.sk
head -c 1024 /dev/urandom > msg.bin
"$prog" sign --secret-key k.sk --public-key k.pk --in msg.bin --out msg.sig

sign_cmd=("$prog" sign --secret-key k.sk --public-key k.pk --in msg.bin --out out.sig)
verify_cmd=("$prog" verify --public-key k.pk --signature msg.sig --in msg.bin)

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)   level $level, $runs runs each"

if command -v hyperfine >/dev/null 2>&1; then
  hyperfine -N --warmup 10 --runs "$runs" "${sign_cmd[*]}" "${verify_cmd[*]} 2>/dev/null"
  exit 0
fi

# Reads microseconds, one per line; prints the median and spread in ms.
stats() {
  sort -n | awk -v name="$1" '
    { v[NR] = $1 }
    END {
      n = NR
      med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
      p10 = v[int((n - 1) * 0.1) + 1]; p90 = v[int((n - 1) * 0.9) + 1]
      printf "%-7s median %6.2f ms   p10 %6.2f   p90 %6.2f   min %6.2f   max %6.2f\n", name, med / 1000, p10 / 1000, p90 / 1000, v[1] / 1000, v[n] / 1000
    }'
}

now_us() {
  if [ -n "${EPOCHREALTIME:-}" ]; then
    local t=${EPOCHREALTIME/[.,]/}
    echo $((10#$t))
  else
    echo $(($(date +%s%N) / 1000))
  fi
}

# Microseconds of each run of the command, after ten unmeasured runs that
# warm the page cache (and check that the command succeeds).
run_times() {
  local i t0 t1
  for ((i = 0; i < 10; ++i)); do "$@" >/dev/null 2>&1 || { echo "cli_timing: $* failed" >&2; exit 1; }; done
  for ((i = 0; i < runs; ++i)); do
    t0=${EPOCHREALTIME:-}
    [ -n "$t0" ] || t0=$(now_us)
    "$@" >/dev/null 2>&1
    t1=${EPOCHREALTIME:-}
    [ -n "$t1" ] || t1=$(now_us)
    echo $((${t1/[.,]/} - ${t0/[.,]/}))
  done
}

run_times "${sign_cmd[@]}" | stats sign
run_times "${verify_cmd[@]}" | stats verify
