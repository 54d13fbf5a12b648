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
for tool in Xvfb xdotool xwininfo openbox python3 setpriv; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool (tools/install-deps.sh installs it)"; exit 77; }
done

# Each case has an X server of its own (tests/tools/e2e_common.sh: it picks a
# free display itself and says which once it takes connections), ended with
# the game and the window manager, and waited for, before the next case.
wm_pid=
stop_wm() {
  [ -z "$wm_pid" ] || stop_child "$wm_pid"
  wm_pid=
}
cleanup_script() { stop_wm; }
source "$here/tools/e2e_common.sh" "$1" "$2"
x_screen=1280x1024x24
printf 'GAME_WAIT=80\r\n' >"$work/option.txt"  # no first-run calibration

fail() {  # with what the game and the window manager printed
  echo "$*" >&2
  local log
  for log in stderr.txt wm.log; do
    if [ -s "$work/$log" ]; then
      echo "== $log" >&2
      cat "$work/$log" >&2
    fi
  done
  exit 1
}
# A game that has ended fails the case at once, with what it printed.
game_runs() { running "$game_pid" || fail "$1: the game has ended"; }

# openbox, ready to manage the game's window: it runs its --startup command
# once it has taken over the screen and is about to handle new windows. (It
# names itself on the root window earlier than that; a window mapped in
# between may never be managed, and then never gets its frame.)
start_openbox() {
  setpriv --pdeathsig TERM openbox --sm-disable --startup "touch '$work/wm-ready'" >"$work/wm.log" 2>&1 &
  wm_pid=$!
  for _ in $(seq 300); do
    [ -e "$work/wm-ready" ] && return 0
    running "$wm_pid" || fail "openbox ended while starting"
    sleep 0.1
  done
  fail "openbox did not finish starting in 30 s"
}

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
    game_runs "$1"
    size=$(window_size || true)
    if [ "$size" = "$2" ]; then
      box=$(screen_box "$1")
      [ "$box" = "0 32 1280 992 1280 1024" ] && return 0
    fi
    sleep 1
  done
  fail "$1: the picture covers $box of the screen (expected 0 32 1280 992), the window is $size (expected $2)"
}

# Waits until the window has the given size and the picture covers the
# given part of its inside (x0 y0 x1 y1, from its top-left corner; all of
# it unless given); with a window manager, a title bar stands above it.
expect_window() {  # name, wm, window size, [part]
  local name=$1 wm=$2 size=$3 part=${4:-} rect="" box="" want="" frame=""
  for _ in $(seq 40); do
    game_runs "$name"
    if [ "$(window_size || true)" = "$size" ] && rect=$(window_rect) && [ -n "$rect" ]; then
      read -r x y w h <<<"$rect"
      want=${part:-"0 0 $w $h"}
      read -r a b c d <<<"$want"
      want="$((x + a)) $((y + b)) $((x + c < 1280 ? x + c : 1280)) $((y + d < 1024 ? y + d : 1024))"  # what the screen shows of it
      box=$(screen_box "$name" "$x" "$y" "$w" "$h" | cut -d' ' -f1-4)
      frame=$(python3 "$here/tools/xscreen.py" "$work/frame.png" "$x" "$((y - 16))" "$w" 12)
      if [ "$box" = "$want" ] && { [ "$wm" = none ] || [ "$frame" != none ]; }; then return 0; fi
    fi
    sleep 1
  done
  fail "$name: the picture covers $box of the screen (expected $want), the window is $rect ($size expected), above it: $frame"
}

alt_enter() { xdotool key --delay 120 alt+Return; sleep 0.5; }

# Waits up to 20 s for the game to end by itself, and reaps it.
game_ends() {  # name
  for _ in $(seq 200); do running "$game_pid" || break; sleep 0.1; done
  if running "$game_pid"; then fail "$1: the game did not end after EXIT"; fi
  wait "$game_pid" || true
  game_pid=
}

run_case() {  # name, window manager: openbox or "none"
  local name=$1 wm=$2
  start_x
  case $wm in
    none) ;;
    openbox) start_openbox ;;
    *) fail "$name: no way to tell when $wm is ready (openbox or none)" ;;
  esac
  start_game
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
  game_ends "$name"
  grep -q $'^WINDOWED=1\r$' "$work/option.txt" || fail "$name: option.txt does not keep the window mode"
  start_game
  expect_window "$name-6-started-as-window" "$wm" 1280x960
  # The window manager, the game and the server end, in that order, and are
  # waited for before the next case: the game never sees its server go.
  stop_wm
  stop_x
  printf 'GAME_WAIT=80\r\n' >"$work/option.txt"
  echo "$name: centred both ways"
}

for case in ${NUVEL_DISPLAY_CASES:-no-wm:none openbox:openbox}; do run_case "${case%%:*}" "${case#*:}"; done
echo "2 passed, 0 failed"
