#!/usr/bin/env bash
# ThreadSanitizer: the suite built with -fsanitize=thread, running the tests
# that use threads and the C++ API tests (the API promises thread safety).
set -euo pipefail
cd "$(dirname "$0")/../.."

JOBS=$(nproc 2>/dev/null || echo 2)
BUILD=build-tsan
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DRINGTRAP_WERROR=ON -DRINGTRAP_SANITIZE=thread -DRINGTRAP_BUILD_BENCH=OFF
cmake --build "$BUILD" --target ringtrap_tests -j "$JOBS"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  "$BUILD/ringtrap_tests" --gtest_filter='*Concurrency*:*Api*' --gtest_brief=1
