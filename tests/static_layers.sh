#!/usr/bin/env bash
# Layering. The game's folders stand in layers, each including only the
# layers below it (or its own):
#   platform/ < core/ < graphics/, sound/ < match/, items/ < screens/, config/ < app/
# match/ and items/ are one layer: the engine and its item effects. Only
# platform/ may include SDL, fluidsynth, ENet or emscripten's browser headers;
# the build keeps their include directories away from the game, but some of
# their headers sit in the compiler's default path, so the includes are
# checked here as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

declare -A layer=([platform]=0 [core]=1 [graphics]=2 [sound]=2 [match]=3 [items]=3
                  [screens]=4 [config]=4 [app]=5)
failed=0
passed=0

if grep -rnE '^\s*#\s*include\s*[<"](SDL2?/|SDL[_.]|fluidsynth|enet/|emscripten)' \
    core app graphics sound match items config screens tools; then
  echo "the lines above include a platform library outside platform/"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

upward=0
while IFS= read -r line; do
  file=${line%%:*}
  from=${file%%/*}
  target=$(sed -E 's/.*#\s*include\s*"([^"]+)".*/\1/' <<<"${line#*:*:}")
  to=${target%%/*}
  [ -n "${layer[$to]+x}" ] || continue
  if [ "${layer[$to]}" -gt "${layer[$from]}" ]; then
    echo "$line   ($from/ includes $to/, a higher layer)"
    upward=$((upward + 1))
  fi
done < <(grep -rnE '^\s*#\s*include\s*"[a-z]+/' platform core graphics sound match items screens config app)
if [ "$upward" -gt 0 ]; then
  echo "the $upward lines above include a higher layer"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
