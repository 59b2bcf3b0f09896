#!/usr/bin/env bash
# Constant time: the key-independent levels' key generation, key loading and
# signing on a Release build under valgrind's memcheck with the secrets marked;
# any report fails, and each check's deliberate leak must be reported.
set -euo pipefail
cd "$(dirname "$0")/../.."
make ct
