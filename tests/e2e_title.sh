#!/usr/bin/env bash
# End to end: the real program in a real X server. Waits through the logo
# intro and the title opening, takes screenshots with F6, leaves through
# "EXIT" and checks the settings file the game wrote.
# Usage: e2e_title.sh <nuvel binary> <game folder>
set -euo pipefail
nuvel=$(realpath "$1")
game=$(realpath "$2")

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool (tools/install-deps.sh installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/nuvel-e2e-XXXXXX)
display=:$((90 + RANDOM % 400))
cleanup() {
  [ -n "${game_pid:-}" ] && kill "$game_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The game folder's data, with a fresh place for the files the game writes.
for entry in "$game"/*; do ln -s "$entry" "$work/"; done

Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

(cd "$work" && SDL_AUDIODRIVER=dummy exec "$nuvel" 2>"$work/stderr.txt") &
game_pid=$!

key() { xdotool key --delay 120 "$@"; sleep 0.3; }
wait_for_file() {
  for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
  echo "no $1" >&2
  return 1
}

# The logo intro, the first-run calibration and the title opening take a
# while: take screenshots until one shows more than a nearly black screen
# (a dark frame compresses to a small file), then let the opening finish.
shots=0
for _ in $(seq 60); do
  key F6
  sleep 0.7
  [ -e "$work/shot_000.png" ] || continue
  [ "$(stat -c %s "$work/shot_000.png")" -gt 10000 ] && { shots=1; break; }
  rm -f "$work/shot_000.png"
done
[ "$shots" -eq 1 ] || { echo "the title screen never appeared" >&2; exit 1; }
sleep 4

key Down Down             # the second player's line
key Right Right           # MAN -> NON -> EASY COM
key F6
wait_for_file "$work/shot_001.png"
key Up Up Up              # up past START wraps round to EXIT
key Return
wait "$game_pid" || status=$?
game_pid=
if [ "${status:-0}" -ne 0 ]; then
  echo "the game ended with status $status" >&2
  cat "$work/stderr.txt" >&2
  exit 1
fi

[ -s "$work/option.txt" ] || { echo "option.txt was not written" >&2; exit 1; }
grep -q $'^GAME_WAIT=[0-9]*\r$' "$work/option.txt" || { echo "option.txt has no GAME_WAIT line" >&2; exit 1; }
grep -q $'^PLAYER_TYPE_2P=2\r$' "$work/option.txt" || { echo "the second player's type was not saved" >&2; exit 1; }
if [ -n "${NUVEL_E2E_KEEP:-}" ]; then cp "$work"/shot_*.png "$NUVEL_E2E_KEEP"/; fi
echo "1 passed, 0 failed"
