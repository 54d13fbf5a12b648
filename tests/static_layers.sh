#!/usr/bin/env bash
# Layering: only platform/ may include SDL or fluidsynth headers. The build
# keeps their include directories away from the game, but fluidsynth.h (and
# SDL2/SDL.h) sit in the compiler's default path, so the includes are checked
# here as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if grep -rnE '^\s*#\s*include\s*[<"](SDL2?/|SDL[_.]|fluidsynth)' \
    app graphics sound match items config screens tools; then
  echo "the lines above include a platform library outside platform/"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
