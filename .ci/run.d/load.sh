#!/usr/bin/env bash
# Sustained load on a Release build: 10,000 messages signed and verified at
# each level through every interface, with resident memory checked for growth.
set -euo pipefail
cd "$(dirname "$0")/../.."

JOBS=$(nproc 2>/dev/null || echo 2)
BUILD=build-load
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DRINGTRAP_WERROR=ON -DRINGTRAP_BUILD_BENCH=OFF -DRINGTRAP_SANITIZE=
cmake --build "$BUILD" --target ringtrap_tests -j "$JOBS"
RINGTRAP_LOAD_MESSAGES=10000 "$BUILD/ringtrap_tests" --gtest_filter='Levels/Load.*'
