#!/usr/bin/env bash
# Runs fuzz targets one after another over their corpus in the repository.
#   tests/fuzz/fuzz.sh [--runs N] BUILD_DIR SECONDS_EACH [TARGET...]
# Without targets it runs all of them. New inputs go to BUILD_DIR/fuzz/<target>/
# found (the repository corpus is only read); crashes and their inputs go to
# BUILD_DIR/fuzz/<target>/ as crash-*, leak-*, timeout-*. Exits non-zero on
# the first target that finds something.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=-1
if [ "${1:-}" = --runs ]; then runs=$2; shift 2; fi
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd "$here/corpus" && ls))
fi
# The targets write every input to a file (and the settings are saved with
# fsync): a memory-backed temporary folder keeps that from the disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
for t in "${targets[@]}"; do
  out="$build/fuzz/$t"
  mkdir -p "$out/found"
  echo "== $t: ${seconds}s, runs $runs"
  "$build/tests/fuzz/nuvel-fuzz-$t" -runs="$runs" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=1024 -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/" \
    "$out/found" "$here/corpus/$t"
done
