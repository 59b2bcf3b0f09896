#!/usr/bin/env bash
# Throughput of the command-line tool's batches: signatures made (sign --batch)
# and checked (verify --batch) per second over many small files, with one
# worker and with two, at levels S128 and 128, as whole processes (start-up,
# keys, reading every file, writing every signature with its fsync).
#
#   bench/cli_batch.sh [PROGRAM] [FILES] [ROUNDS] [DIR]
#
# PROGRAM defaults to build-bench/ringtrap (make bench's build), FILES to 200
# messages of 1 KiB, ROUNDS to 7; DIR (default: a fresh folder in TMPDIR or
# /tmp) is where the files go: on a disk, the fsync of each signature is part
# of what is measured; on tmpfs, it costs nothing. The runs of one and two
# workers alternate, so that a change in the load of the shared machine hits
# both alike. Prints for each level, operation and worker count the median
# rate and the range over the rounds, the ratio of the medians, and the load
# average before and after.
set -euo pipefail

prog=${1:-build-bench/ringtrap}
files=${2:-200}
rounds=${3:-7}
[ -x "$prog" ] || { echo "cli_batch: no program at $prog (build it first, e.g. make bench)" >&2; exit 2; }
prog=$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")

if [ -n "${4:-}" ]; then
  mkdir -p "$4"
  work=$(mktemp -d "$4/cli_batch.XXXXXX")
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/cli_batch.XXXXXX")
fi
trap 'rm -rf "$work"' EXIT
cd "$work"
names=()
for ((i = 0; i < files; ++i)); do
  head -c 1024 /dev/urandom > "m$i"
  names+=("m$i")
done

now_us() {
  local t=${EPOCHREALTIME/[.,]/}
  echo $((10#$t))
}

# Seconds per run of the command, one per line.
time_run() {
  local t0 t1
  t0=$(now_us)
  "$@" >/dev/null 2>&1 || { echo "cli_batch: $* failed" >&2; exit 1; }
  t1=$(now_us)
  echo "$((t1 - t0))"
}

# Reads microseconds per run; prints "median min max" in files per second.
rates() {
  sort -n | awk -v n="$files" '
    { v[NR] = $1 }
    END {
      m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%.0f %.0f %.0f\n", n * 1e6 / m, n * 1e6 / v[NR], n * 1e6 / v[1]
    }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)   $files files of 1 KiB, $rounds rounds, in $(df -T . | awk 'NR == 2 { print $2 }')"
printf '%-6s %-7s %22s %22s %7s\n' level op "1 worker: median (range)" "2 workers: median (range)" ratio
for level in S128 128; do
  "$prog" keygen --level "$level" --public-key k.pk --secret-key k.sk --force
  # One run of each, unmeasured: page cache, and every .sig in place.
  "$prog" sign --batch --secret-key k.sk --public-key k.pk "${names[@]}"
  "$prog" verify --batch --public-key k.pk "${names[@]}" >/dev/null
  for op in sign verify; do
    if [ "$op" = sign ]; then
      cmd=("$prog" sign --batch --secret-key k.sk --public-key k.pk)
    else
      cmd=("$prog" verify --batch --public-key k.pk)
    fi
    one=() two=()
    for ((r = 0; r < rounds; ++r)); do
      one+=("$(time_run "${cmd[@]}" --jobs 1 "${names[@]}")")
      two+=("$(time_run "${cmd[@]}" --jobs 2 "${names[@]}")")
    done
    read -r m1 lo1 hi1 < <(printf '%s\n' "${one[@]}" | rates)
    read -r m2 lo2 hi2 < <(printf '%s\n' "${two[@]}" | rates)
    printf '%-6s %-7s %8s/s (%s-%s) %10s/s (%s-%s) %6.2fx\n' "$level" "$op" "$m1" "$lo1" "$hi1" "$m2" "$lo2" "$hi2" \
      "$(awk -v a="$m1" -v b="$m2" 'BEGIN { print b / a }')"
  done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
