#!/usr/bin/env bash
# The whole test suite: installs dependencies, then builds and runs the tests
# in a Release build and in an AddressSanitizer + UBSan build (window tests
# on a private Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
jobs=$(nproc)

echo "== Release build"
bash tools/build.sh build/release -DCMAKE_BUILD_TYPE=Release
(cd build/release && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UBSan build"
bash tools/build.sh build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_SANITIZE=address -DZOLT_BUILD_BENCH=OFF
(cd build/asan && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer build (thread, assembly, frame hand-off and end-to-end tests)"
# Clang: GCC's TSan leaves the small fixed-size copies it inlines
# uninstrumented and misses races on them. GL is on for the window program's
# hand-off tests; only the tsan-labelled tests are built (zolt_tsan_tests).
# The compilers are named on the command line so that a tree configured
# with GCC before is configured afresh.
CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_SANITIZE=thread -DZOLT_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target zolt_tsan_tests
(cd build/tsan && ctest --output-on-failure -j "$jobs" -L tsan)
