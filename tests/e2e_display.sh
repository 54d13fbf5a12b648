#!/usr/bin/env bash
# End to end: Alt+Enter, from full screen to a window and back, in a real X
# server of 1280x1024, once with a window manager (openbox) and once with
# none. Each way the picture must lie centred: full screen, scaled by two
# and letterboxed (rows 32..991 of the screen; SCALING=AUTO keeps whole
# pixels where they fill 90% of the height); as a window, the window twice
# the picture's size, the picture filling its inside, with the window
# manager's frame (a title bar above it) where there is one. Resized, the
# window keeps the picture scaled: fit by AUTO at 1000x700. Pictures of the
# whole X screen are taken with tests/tools/xscreen.py (kept in
# $NUVEL_E2E_KEEP when that names a folder). The window mode chosen last is
# kept in option.txt, and the next start opens in it.
# Usage: e2e_display.sh <nuvel binary> <game folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
nuvel=$(realpath "$1")
game=$(realpath "$2")
for tool in Xvfb xdotool xwininfo openbox python3 setsid; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool (tools/install-deps.sh installs it)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-display-XXXXXX")
groups=()  # every process started here leads a process group of its own
cleanup() {
  for g in "${groups[@]}"; do kill -- "-$g" 2>/dev/null || true; done
  [ -n "${NUVEL_DISPLAY_DEBUG:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
for entry in "$game"/*; do ln -s "$entry" "$work/"; done
printf 'GAME_WAIT=80\r\n' >"$work/option.txt"  # no first-run calibration

fail() { echo "$*" >&2; exit 1; }
started() { setsid "$@" >>"$work/servers.txt" 2>&1 & groups+=($!); }

screen_box() {  # the non-black rectangle of the X screen (or of a part: x y w h); keeps the picture as $1.png
  local name=$1; shift
  python3 "$here/tools/xscreen.py" "$work/$name.png" "$@"
  if [ -n "${NUVEL_E2E_KEEP:-}" ]; then cp "$work/$name.png" "$NUVEL_E2E_KEEP/"; fi
}
window_size() { xdotool search --name '^Tarnwick$' getwindowgeometry | sed -n 's/.*Geometry: //p' | head -1; }
window_rect() {  # x y width height of the window's inside, on the screen
  xwininfo -name Tarnwick 2>/dev/null | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {if (w) print x, y, w, h}'
}

# Waits until the X screen shows the centred picture (the title's background
# fills the whole picture) and the window has the given size.
expect_centred() {  # name, window size
  local box="" size=""
  for _ in $(seq 40); do
    size=$(window_size || true)
    if [ "$size" = "$2" ]; then
      box=$(screen_box "$1")
      [ "$box" = "0 32 1280 992 1280 1024" ] && return 0
    fi
    sleep 1
  done
  cat "$work/stderr.txt" >&2
  fail "$1: the picture covers $box of the screen (expected 0 32 1280 992), the window is $size (expected $2)"
}

# Waits until the window has the given size and the picture covers the
# given part of its inside (x0 y0 x1 y1, from its top-left corner; all of
# it unless given); with a window manager, a title bar stands above it.
expect_window() {  # name, wm, window size, [part]
  local name=$1 wm=$2 size=$3 part=${4:-} rect="" box="" want="" frame=""
  for _ in $(seq 40); do
    if [ "$(window_size || true)" = "$size" ] && rect=$(window_rect) && [ -n "$rect" ]; then
      read -r x y w h <<<"$rect"
      want=${part:-"0 0 $w $h"}
      read -r a b c d <<<"$want"
      want="$((x + a)) $((y + b)) $((x + c < 1280 ? x + c : 1280)) $((y + d < 1024 ? y + d : 1024))"  # what the screen shows of it
      box=$(screen_box "$name" $rect | cut -d' ' -f1-4)
      frame=$(python3 "$here/tools/xscreen.py" "$work/frame.png" "$x" "$((y - 16))" "$w" 12)
      if [ "$box" = "$want" ] && { [ "$wm" = none ] || [ "$frame" != none ]; }; then return 0; fi
    fi
    sleep 1
  done
  cat "$work/stderr.txt" >&2
  fail "$name: the picture covers $box of the screen (expected $want), the window is $rect ($size expected), above it: $frame"
}

alt_enter() { xdotool key --delay 120 alt+Return; sleep 0.5; }

run_case() {  # name, window manager or "none"
  local name=$1 wm=$2
  # A display number of its own, away from :0 and from the other scripts'
  # numbers; a server that lost the number to another one started at the
  # same moment has ended, and the next number is tried.
  local xvfb="" number
  for _ in $(seq 20); do
    number=$((1000 + RANDOM % 1000))
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && continue
    started Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp
    export DISPLAY=:$number
    for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
    if kill -0 "${groups[-1]}" 2>/dev/null && xdotool getmouselocation >/dev/null 2>&1; then
      xvfb=${groups[-1]}
      break
    fi
  done
  [ -n "$xvfb" ] || fail "Xvfb did not start"
  if [ "$wm" != none ]; then
    started "$wm"
    # A window manager announces itself on the root window early; a window
    # mapped in the moment after that may never be managed (SDL then waits
    # for it to appear), so the game starts a second later.
    for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
    sleep 1
  fi
  started bash -c "cd '$work' && SDL_AUDIODRIVER=dummy exec '$nuvel' 2>>'$work/stderr.txt'"
  local nuvel_group=${groups[-1]}

  expect_centred "$name-1-fullscreen" 1280x1024
  alt_enter
  expect_window "$name-2-window" "$wm" 1280x960
  alt_enter
  expect_centred "$name-3-fullscreen-again" 1280x1024
  alt_enter
  expect_window "$name-4-window-again" "$wm" 1280x960
  # Resized, the window keeps the picture at its shape: 1000x700 is filled
  # 933 pixels wide, centred (whole pixels would fill only 480 of 700 rows).
  xdotool search --name '^Tarnwick$' windowsize %1 1000 700
  expect_window "$name-5-resized" "$wm" 1000x700 "33 0 966 700"

  # EXIT (Up from START) saves the settings; the window mode goes with them.
  xdotool key --delay 120 Up Return
  for _ in $(seq 100); do kill -0 "$nuvel_group" 2>/dev/null || break; sleep 0.1; done
  grep -q $'^WINDOWED=1\r$' "$work/option.txt" || fail "$name: option.txt does not keep the window mode"
  started bash -c "cd '$work' && SDL_AUDIODRIVER=dummy exec '$nuvel' 2>>'$work/stderr.txt'"
  expect_window "$name-6-started-as-window" "$wm" 1280x960
  kill -- "-${groups[-1]}" 2>/dev/null || true
  [ "$wm" = none ] || kill -- "-${groups[-3]}" 2>/dev/null || true
  kill -- "-$xvfb" 2>/dev/null || true
  printf 'GAME_WAIT=80\r\n' >"$work/option.txt"
  echo "$name: centred both ways"
}

for case in ${NUVEL_DISPLAY_CASES:-no-wm:none openbox:openbox}; do run_case "${case%%:*}" "${case#*:}"; done
echo "2 passed, 0 failed"
