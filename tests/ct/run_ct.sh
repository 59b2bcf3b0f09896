#!/usr/bin/env bash
# Runs the constant-time checks under valgrind's memcheck (see tests/ct/*.cpp):
# each must report nothing, and each one's deliberate leak must be reported.
#   tests/ct/run_ct.sh BUILD_DIR
set -uo pipefail
build=${1:?usage: run_ct.sh BUILD_DIR}
if ! command -v valgrind >/dev/null; then
  echo "run_ct.sh: valgrind is not installed (Debian package: valgrind)" >&2
  exit 2
fi
vg=(valgrind --quiet --error-exitcode=42 --track-origins=yes)
status=0

for prog in ringtrap_ct_api ringtrap_ct_ki ringtrap_ct_samplers; do
  echo "== $prog under memcheck"
  "${vg[@]}" "$build/$prog"
  rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "FAIL: $prog: exit status $rc (42: memcheck reported a secret-dependent branch, address or call)" >&2
    status=1
  fi
done

# The checks must still have teeth: each program's deliberate leak is reported.
for run in "ringtrap_ct_api --toy-leak" "ringtrap_ct_ki --self-test" "ringtrap_ct_samplers --self-test"; do
  echo "== $run (a deliberate leak; memcheck must report it)"
  # shellcheck disable=SC2086
  "${vg[@]}" "$build/"$run >/dev/null 2>&1
  rc=$?
  if [ "$rc" -eq 42 ]; then
    echo "reported, as it must be"
  else
    echo "FAIL: $run: the deliberate leak was not reported (exit status $rc)" >&2
    status=1
  fi
done

[ "$status" -eq 0 ] && echo "constant-time check: clean, and every deliberate leak was caught"
exit "$status"
