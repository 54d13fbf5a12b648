#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: once in an
# optimised build and once under AddressSanitizer and UndefinedBehaviorSanitizer;
# then runs every fuzz target briefly over its corpus in a clang build.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc)

# The run leaves nothing behind. Everything it makes in a temporary folder goes
# in one of its own, and every process it starts carries a marker in its
# environment (NUVEL_TEST_SESSION); after the suites, a process still alive
# with the marker or anything left in the folder fails the run (both are ended
# and removed, also when the run stops early). Each CTest run checks its own
# tests the same way, with a folder and marker of its own (tests/TestRun.cmake).
session=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-run-XXXXXX")
leftovers() { python3 tests/tools/test_run.py end --var NUVEL_TEST_SESSION "$session"; }
trap 'leftovers || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export TMPDIR=$session NUVEL_TEST_SESSION=$session

# One style for every source: a file that clang-format would change fails the run.
find . \( -path './build*' -o -path ./.git \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run -Werror

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DNUVEL_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The browser build, from the same data set and music renderer, and its tests
# in headless chromium against that desktop build (tests/web/).
NUVEL_HOST_BUILD=$PWD/build-test ./tools/build-web.sh
bash tests/web/web_e2e.sh build-test/nuvel build-test/game build-test/tools/sim/nuvel-sim build-web/site
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  run_suite build-san -DCMAKE_BUILD_TYPE=Debug -DNUVEL_SANITIZE=ON
# The fuzz targets: a few seconds each; tests/fuzz/fuzz.sh runs them for longer.
run_suite build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUVEL_FUZZ=ON -DNUVEL_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

trap - EXIT
leftovers
