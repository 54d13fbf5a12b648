#!/usr/bin/env bash
# Layering. The game's folders stand in layers, each including only the
# layers below it (or its own):
#   platform/ < core/ < graphics/, sound/ < net/ < match/, items/
#     < computer/, replay/, online/ < config/ < screens/ < app/
# Folders of one layer include nothing of each other, but for match/ and
# items/, which are one job: the round and its item effects. The match
# server (server/) stands beside app/ at the top and includes only net/ and
# platform/. Only platform/ may include SDL, fluidsynth, ENet, hiredis or
# emscripten's browser headers, and hiredis only in platform/server/, the
# server's own part (the game does not link it); the build keeps their include
# directories away from the rest, but some of their headers sit in the
# compiler's default path, so the includes are checked here as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

declare -A layer=([platform]=0 [core]=1 [graphics]=2 [sound]=2 [net]=3 [match]=4 [items]=4
                  [computer]=5 [replay]=5 [online]=5 [config]=6 [screens]=7 [app]=8 [server]=8)
failed=0
passed=0

if grep -rnE '^\s*#\s*include\s*[<"](SDL2?/|SDL[_.]|fluidsynth|enet/|hiredis|emscripten)' \
    core app graphics sound net match items computer replay online config screens server tools; then
  echo "the lines above include a platform library outside platform/"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

if grep -rnE '^\s*#\s*include\s*[<"]hiredis' platform --exclude-dir=server; then
  echo "the lines above include hiredis outside platform/server/"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

if grep -rnE '^\s*#\s*include\s*"[a-z]+/' server | grep -vE '#\s*include\s*"(net|platform|server)/'; then
  echo "the lines above include more than net/ and platform/ in server/"
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
  elif [ "${layer[$to]}" -eq "${layer[$from]}" ] && [ "$to" != "$from" ] &&
       [ "$from/$to" != match/items ] && [ "$from/$to" != items/match ]; then
    echo "$line   ($from/ includes $to/, a folder beside it)"
    upward=$((upward + 1))
  fi
done < <(grep -rnE '^\s*#\s*include\s*"[a-z]+/' platform core graphics sound net match items computer replay online \
           screens config app server)
if [ "$upward" -gt 0 ]; then
  echo "the $upward lines above include a higher layer or a folder beside their own"
  failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
