#!/usr/bin/env bash
# The README's three commands from a fresh clone to a Python signature, run as
# written (the clone is of this repository's committed state; URL stands for
# its address). The last one must print True.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD

# The fenced block after the README's marker line.
mapfile -t commands < <(awk '/run by .ci\/run.d\/python.sh/ { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }' README.md)
[ ${#commands[@]} -eq 3 ] || { echo "python.sh: expected 3 commands in the README, found ${#commands[@]}" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
script=$(printf '%s\n' "${commands[@]}" | sed "1s|git clone URL |git clone -q $repo |")
output=$(bash -euo pipefail -c "$script" 2>&1) || { printf '%s\n' "$output" >&2; exit 1; }
[ "$(printf '%s\n' "$output" | tail -1)" = True ] || { printf 'python.sh: expected True, got:\n%s\n' "$output" >&2; exit 1; }
echo "python.sh: the README's three commands give a valid signature from a fresh clone"
